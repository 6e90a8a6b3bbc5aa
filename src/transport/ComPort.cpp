#include "transport/ComPort.h"

#include <fcntl.h>
#include <pwd.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/System.h"
#include "transport/LinkTimings.h"
#include "transport/SerialSpeed.h"

namespace fr {
namespace {

using TClock = std::chrono::steady_clock;

constexpr int kBitRates[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};

const char* const kOpenFailed = "Ошибка открытия порта";
const char* const kNotOpen = "Порт не открыт";
const char* const kReadTimedOut = "Ошибка при чтении данных из порта";
const char* const kNoByte = "Устройство не отвечает";
const char* const kShortWrite = "Не удалось записать данные в порт";

// Milliseconds left until Deadline, rounded up so that poll never wakes early.
int MsLeft(TClock::time_point Deadline) {
    const auto left = Deadline - TClock::now();
    if (left <= TClock::duration::zero()) return 0;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
    return static_cast<int>(std::min<long long>((us + 999) / 1000, 1LL << 30));
}

speed_t SpeedConstant(int Rate) {
    switch (Rate) {
        case 110: return B110;
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B0;  // no constant: set through termios2
    }
}

// The owner's login name, or the number when it has none.
std::string OwnerName(uid_t AUid) {
    std::vector<char> buf(16384);
    passwd pw {};
    passwd* found = nullptr;
    if (::getpwuid_r(AUid, &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name)
        return std::string(found->pw_name) + " (" + std::to_string(AUid) + ")";
    return std::to_string(AUid);
}

}  // namespace

TComm::TComm() = default;

TComm::~TComm() { Close(); }

bool TComm::Fail(const std::string& Text) {
    FExtResultDescription = Text;
    return false;
}

bool TComm::FailErrno(int Err) { return Fail(std::strerror(Err)); }

std::string TComm::DevicePath() const {
    const std::string link = CommonAppDataDir() + kModuleBaseName + "/COM" + std::to_string(FPortNumber);
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) return link;
    return "/dev/ttyS" + std::to_string(FPortNumber - 1);
}

bool TComm::Open() {
    if (Opened()) return true;
    const std::string path = DevicePath();
    // Another user's link could point the driver at a register of their own making.
    struct stat st {};
    if (path.rfind("/dev/", 0) != 0 && ::lstat(path.c_str(), &st) == 0 && st.st_uid != 0 && st.st_uid != ::geteuid())
        return Fail(std::string(kOpenFailed) + ". Ссылка " + path + " принадлежит пользователю " +
                    OwnerName(st.st_uid) + ", а не root и не пользователю драйвера");
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return Fail(std::string(kOpenFailed) + ". " + std::strerror(errno));
    // TIOCEXCL keeps other (non-root) openers out; the lock also keeps out a second driver
    // running as root.
    if (::ioctl(fd.Get(), TIOCEXCL) != 0) return Fail(std::string(kOpenFailed) + ". " + std::strerror(errno));
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        return Fail(std::string(kOpenFailed) + ". " + std::strerror(err));
    }
    if (::tcflush(fd.Get(), TCIOFLUSH) != 0) return FailErrno(errno);
    FHandle = std::move(fd);
    // A port that could not be configured is closed again, so that a later Open starts afresh
    // instead of succeeding on a half-configured port.
    if (!ApplyLineSettings()) {
        FHandle.Reset();
        return false;
    }
    SetControlLines(true);
    return true;
}

void TComm::SetControlLines(bool ARaise) {
    const int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(FHandle.Get(), ARaise ? TIOCMBIS : TIOCMBIC, &lines);  // not every tty has modem lines
}

bool TComm::ApplyLineSettings() {
    const int fd = FHandle.Get();
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0) return FailErrno(errno);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (FDataBits) {
        case 5: tio.c_cflag |= CS5; break;
        case 6: tio.c_cflag |= CS6; break;
        case 7: tio.c_cflag |= CS7; break;
        default: tio.c_cflag |= CS8; break;
    }
    switch (FParity) {
        case prNone: break;
        case prOdd: tio.c_cflag |= PARENB | PARODD; break;
        case prEven: tio.c_cflag |= PARENB; break;
        case prMark: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case prSpace: tio.c_cflag |= PARENB | CMSPAR; break;
    }
    if (FParity != prNone) tio.c_iflag |= INPCK;
    if (FStopBits != sbOneStopBit) tio.c_cflag |= CSTOPB;
    if (FFlowControl.OutCtsFlow) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (FFlowControl.XonXoffOut) tio.c_iflag |= IXON;
    if (FFlowControl.XonXoffIn) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const int rate = BaudRateAsInt();
    const speed_t speed = SpeedConstant(rate);
    ::cfsetispeed(&tio, speed == B0 ? B38400 : speed);
    ::cfsetospeed(&tio, speed == B0 ? B38400 : speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return FailErrno(errno);
    if (speed == B0 && rate > 0) {
        if (const int err = serial_detail::SetArbitrarySpeed(fd, rate); err != 0) return FailErrno(err);
    }
    return true;
}

bool TComm::Close() {
    if (!Opened()) return true;
    SetControlLines(false);
    ::tcflush(FHandle.Get(), TCIFLUSH);  // bytes written but not yet sent still go out (close drains them)
    FHandle.Reset();
    return true;
}

bool TComm::Opened() const { return FHandle.Valid(); }

bool TComm::Purge(bool /*Abort*/) {
    // Only input is discarded. A write here returns once the bytes are queued, not sent; dropping
    // the output queue would lose the ACK that ended the previous command. Reads and writes are
    // synchronous, so there is never a pending transfer to abort.
    if (!Opened() && !Open()) return false;
    if (::tcflush(FHandle.Get(), TCIFLUSH) != 0) return FailErrno(errno);
    return true;
}

bool TComm::WriteChar(std::uint8_t Value) { return WriteStr(TBytes{Value}); }

bool TComm::WriteStr(const TBytes& Data, int SleepTime) {
    if (Data.empty()) return true;
    if (!Opened() && !Open()) return false;
    std::uint64_t limit =
        std::uint64_t{FTimeouts.WriteMultiplier} * Data.size() + std::uint64_t{FTimeouts.WriteConstant};
    if (limit == 0) limit = static_cast<std::uint64_t>(LinkTimings().WriteTimeoutMs);  // never wait forever
    const auto deadline = TClock::now() + std::chrono::milliseconds(limit);
    const int fd = FHandle.Get();
    std::size_t done = 0;
    while (done < Data.size()) {
        const ssize_t n = ::write(fd, Data.data() + done, Data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return FailErrno(errno);
        pollfd p{fd, POLLOUT, 0};
        const int left = MsLeft(deadline);
        if (left == 0) return Fail(kShortWrite);
        const int rc = ::poll(&p, 1, left);
        if (rc < 0 && errno != EINTR) return FailErrno(errno);
        if (rc == 0) return Fail(kShortWrite);
    }
    if (SleepTime > 0) std::this_thread::sleep_for(std::chrono::milliseconds(SleepTime));
    return true;
}

TComm::TWait TComm::WaitReadable(int TimeoutMs) {
    pollfd p{FHandle.Get(), POLLIN, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, TimeoutMs);
        if (rc > 0) return TWait::Ready;  // also on hang-up or error: the read reports it
        if (rc == 0) return TWait::TimedOut;
        if (errno != EINTR) {
            FailErrno(errno);
            return TWait::Failed;
        }
    }
}

bool TComm::ReadChar(std::uint8_t& Ch, std::uint32_t Timeout) {
    if (!Opened()) return Fail(kNotOpen);
    const auto deadline = TClock::now() + std::chrono::milliseconds(Timeout);
    for (;;) {
        switch (WaitReadable(MsLeft(deadline))) {
            case TWait::TimedOut: return Fail(kReadTimedOut);
            case TWait::Failed: return false;
            case TWait::Ready: break;
        }
        std::uint8_t b = 0;
        const ssize_t n = ::read(FHandle.Get(), &b, 1);
        if (n == 1) {
            Ch = b;
            return true;
        }
        if (n == 0) return Fail(kNoByte);
        if (errno != EAGAIN && errno != EINTR) return FailErrno(errno);
        if (MsLeft(deadline) == 0) return Fail(kReadTimedOut);
    }
}

bool TComm::ReadString(std::uint32_t Count, TBytes& Buff) {
    Buff.clear();
    if (!Opened()) return Fail(kNotOpen);
    if (Count == 0) return true;
    const std::uint64_t total =
        std::uint64_t{FTimeouts.ReadMultiplier} * Count + std::uint64_t{FTimeouts.ReadConstant};
    const auto deadline = TClock::now() + std::chrono::milliseconds(total);
    const int interval = static_cast<int>(std::min<std::uint32_t>(FTimeouts.ReadInterval, 1u << 30));
    Buff.resize(Count);
    std::size_t got = 0;
    while (got < Count) {
        // Before the first byte only the total limit applies; after it, also the silence between
        // bytes. With no total limit, the interval bounds the first byte too: a read never hangs.
        int wait = total > 0 ? MsLeft(deadline) : interval;
        if (total > 0 && got > 0 && interval > 0) wait = std::min(wait, interval);
        if (total > 0 && wait == 0) break;
        const TWait w = WaitReadable(wait);
        if (w == TWait::TimedOut) break;
        if (w == TWait::Failed) {
            Buff.resize(got);
            return false;
        }
        const ssize_t n = ::read(FHandle.Get(), Buff.data() + got, Count - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EAGAIN && errno != EINTR) {
            Buff.resize(got);
            return FailErrno(errno);
        }
    }
    Buff.resize(got);
    return true;
}

int TComm::PortNumber() const { return FPortNumber; }
void TComm::SetPortNumber(int Value) { FPortNumber = Value; }
TComm::TBaudRate TComm::BaudRate() const { return FBaudRate; }

void TComm::SetBaudRate(TBaudRate Value) {
    if (Value == FBaudRate) return;
    FBaudRate = Value;
    if (Opened()) ApplyLineSettings();
}

int TComm::BaudRateAsInt() const {
    const int i = static_cast<int>(FBaudRate);
    return i >= 0 && i < static_cast<int>(std::size(kBitRates)) ? kBitRates[i] : 0;
}

void TComm::SetBaudRateAsInt(int Value) {
    const auto it = std::find(std::begin(kBitRates), std::end(kBitRates), Value);
    if (it != std::end(kBitRates)) FBaudRate = static_cast<TBaudRate>(it - std::begin(kBitRates));
}

const std::string& TComm::ExtResultDescription() const { return FExtResultDescription; }

TComPort::TComPort() {
    FBaudRate = br115200;
    const TLinkTimings& t = LinkTimings();
    FTimeouts.ReadInterval = static_cast<std::uint32_t>(t.InterByteTimeoutMs);
    FTimeouts.ReadMultiplier = static_cast<std::uint32_t>(t.PerByteTotalTimeoutMs);
    FTimeouts.ReadConstant = 0;
    FTimeouts.WriteMultiplier = 0;
    FTimeouts.WriteConstant = static_cast<std::uint32_t>(t.WriteTimeoutMs);
}

}  // namespace fr
