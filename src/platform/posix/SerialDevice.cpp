#include "platform/SerialDevice.h"

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
#include <vector>

#include "platform/Deadline.h"
#include "platform/System.h"
#include "platform/UniqueFd.h"
#include "platform/posix/SerialSpeed.h"

namespace fr {
namespace {

using TClock = std::chrono::steady_clock;

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

bool Failed(std::string& Error, int Err) {
    Error = std::strerror(Err);
    return false;
}

// Waits for Events; 1 ready (also on hang-up or error: the next call reports it), 0 time-out,
// -1 failure.
int WaitFor(int Fd, short Events, int TimeoutMs, std::string& Error) {
    pollfd p{Fd, Events, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, TimeoutMs);
        if (rc > 0) return 1;
        if (rc == 0) return 0;
        if (errno != EINTR) {
            Failed(Error, errno);
            return -1;
        }
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

std::string SerialDevicePath(int PortNumber) {
    const std::string link = CommonAppDataDir() + kModuleBaseName + "/COM" + std::to_string(PortNumber);
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) return link;
    return "/dev/ttyS" + std::to_string(PortNumber - 1);
}

struct TSerialDevice::TImpl {
    UniqueFd Fd;
};

TSerialDevice::TSerialDevice() : FImpl(std::make_unique<TImpl>()) {}
TSerialDevice::~TSerialDevice() { Close(); }

bool TSerialDevice::IsOpen() const { return FImpl->Fd.Valid(); }

bool TSerialDevice::Open(const std::string& Path, std::string& Error) {
    // Another user's link could point the driver at a register of their own making.
    struct stat st {};
    if (Path.rfind("/dev/", 0) != 0 && ::lstat(Path.c_str(), &st) == 0 && st.st_uid != 0 && st.st_uid != ::geteuid()) {
        Error = "Ссылка " + Path + " принадлежит пользователю " + OwnerName(st.st_uid) +
                ", а не root и не пользователю драйвера";
        return false;
    }
    UniqueFd fd(::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return Failed(Error, errno);
    // TIOCEXCL keeps other (non-root) openers out; the lock also keeps out a second driver
    // running as root.
    if (::ioctl(fd.Get(), TIOCEXCL) != 0) return Failed(Error, errno);
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return Failed(Error, errno == EWOULDBLOCK ? EBUSY : errno);
    if (::tcflush(fd.Get(), TCIOFLUSH) != 0) return Failed(Error, errno);
    FImpl->Fd = std::move(fd);
    return true;
}

void TSerialDevice::Close() {
    if (!IsOpen()) return;
    const int fd = FImpl->Fd.Get();
    SetControlLines(false);
    ::tcflush(fd, TCIFLUSH);      // bytes written but not yet sent still go out (close drains them)
    FImpl->Fd.Reset();
}

void TSerialDevice::SetControlLines(bool Raise) {
    if (!IsOpen()) return;
    const int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(FImpl->Fd.Get(), Raise ? TIOCMBIS : TIOCMBIC, &lines);  // not every tty has modem lines
}

bool TSerialDevice::Configure(const TSerialLine& Line, std::string& Error) {
    const int fd = FImpl->Fd.Get();
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0) return Failed(Error, errno);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (Line.DataBits) {
        case 5: tio.c_cflag |= CS5; break;
        case 6: tio.c_cflag |= CS6; break;
        case 7: tio.c_cflag |= CS7; break;
        default: tio.c_cflag |= CS8; break;
    }
    switch (Line.Parity) {
        case TSerialLine::None: break;
        case TSerialLine::Odd: tio.c_cflag |= PARENB | PARODD; break;
        case TSerialLine::Even: tio.c_cflag |= PARENB; break;
        case TSerialLine::Mark: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case TSerialLine::Space: tio.c_cflag |= PARENB | CMSPAR; break;
    }
    if (Line.Parity != TSerialLine::None) tio.c_iflag |= INPCK;
    if (Line.TwoStopBits) tio.c_cflag |= CSTOPB;
    if (Line.RtsCts) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (Line.XonXoffOut) tio.c_iflag |= IXON;
    if (Line.XonXoffIn) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = SpeedConstant(Line.BitRate);
    ::cfsetispeed(&tio, speed == B0 ? B38400 : speed);
    ::cfsetospeed(&tio, speed == B0 ? B38400 : speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return Failed(Error, errno);
    if (speed == B0 && Line.BitRate > 0) {
        if (const int err = serial_detail::SetArbitrarySpeed(fd, Line.BitRate); err != 0) return Failed(Error, err);
    }
    return true;
}

bool TSerialDevice::PurgeInput(std::string& Error) {
    if (::tcflush(FImpl->Fd.Get(), TCIFLUSH) != 0) return Failed(Error, errno);
    return true;
}

TSerialDevice::TIo TSerialDevice::Read(std::uint8_t* Data, std::size_t Size, int TimeoutMs, std::size_t& Got,
                                       std::string& Error) {
    Got = 0;
    const int fd = FImpl->Fd.Get();
    const auto deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
        const int w = WaitFor(fd, POLLIN, MsLeft(deadline), Error);
        if (w < 0) return TIo::Failed;
        if (w == 0) return TIo::TimedOut;
        const ssize_t n = ::read(fd, Data, Size);
        if (n > 0) {
            Got = static_cast<std::size_t>(n);
            return TIo::Done;
        }
        if (n == 0) return TIo::Closed;
        if (errno != EAGAIN && errno != EINTR) {
            Failed(Error, errno);
            return TIo::Failed;
        }
        if (MsLeft(deadline) == 0) return TIo::TimedOut;
    }
}

TSerialDevice::TIo TSerialDevice::Write(const std::uint8_t* Data, std::size_t Size, int TimeoutMs,
                                        std::string& Error) {
    const int fd = FImpl->Fd.Get();
    const auto deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    std::size_t done = 0;
    while (done < Size) {
        const ssize_t n = ::write(fd, Data + done, Size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            Failed(Error, errno);
            return TIo::Failed;
        }
        const int left = MsLeft(deadline);
        if (left == 0) return TIo::TimedOut;
        const int w = WaitFor(fd, POLLOUT, left, Error);
        if (w < 0) return TIo::Failed;
        if (w == 0) return TIo::TimedOut;
    }
    return TIo::Done;
}

}  // namespace fr
