#include "platform/SerialDevice.h"

#include <fcntl.h>
#include <grp.h>
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
#include <cstdlib>
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

std::string GroupName(gid_t AGid) {
    std::vector<char> buf(16384);
    group gr {};
    group* found = nullptr;
    if (::getgrgid_r(AGid, &gr, buf.data(), buf.size(), &found) == 0 && found && found->gr_name) return found->gr_name;
    return std::to_string(AGid);
}

std::string UserName() {
    std::vector<char> buf(16384);
    passwd pw {};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name)
        return found->pw_name;
    return std::to_string(::geteuid());
}

// The system's text for Err on Path, and what the person at the register can do about it.
bool OpenFailed(std::string& Error, int Err, const std::string& Path) {
    Error = std::strerror(Err);
    // A COM<n> link names the device it leads to: that is what lacks rights or is busy.
    std::vector<char> target(4096);
    if (const ssize_t n = ::readlink(Path.c_str(), target.data(), target.size() - 1); n > 0)
        Error = "ссылка на " + std::string(target.data(), static_cast<std::size_t>(n)) + ": " + Error;
    struct stat st {};
    switch (Err) {
        case EACCES:
        case EPERM: {
            // Serial devices belong to the group dialout; a device of another group names its own.
            const std::string group = ::stat(Path.c_str(), &st) == 0 && st.st_gid != 0 ? GroupName(st.st_gid) : "dialout";
            const std::string user = UserName();
            Error += ". Пользователю " + user + " нужны права на чтение и запись порта: добавьте его в группу " +
                     group + " (sudo usermod -aG " + group + " " + user + ") и начните новый сеанс";
            break;
        }
        case EBUSY:
            Error += ". Порт занят другой программой (другой копией драйвера, терминалом или ModemManager): "
                     "закройте её или отключите ModemManager для этого устройства";
            break;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            Error += ". Устройство не найдено: проверьте, что ККТ включена и подключена, и номер порта "
                     "(frcli port показывает порты и их устройства)";
            break;
        default: break;
    }
    return false;
}

// A link is trusted when root or this user owns it, or the owner of a folder that no one else
// may write to: such a folder's owner decides where its links point anyway.
bool TrustedOwner(const std::string& Path, uid_t AOwner) {
    if (AOwner == 0 || AOwner == ::geteuid()) return true;
    const auto slash = Path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : Path.substr(0, slash);
    struct stat d {};
    return ::stat(dir.c_str(), &d) == 0 && d.st_uid == AOwner && (d.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::string SystemPortMapDir() {
    if (const char* env = std::getenv("FR_PORTMAP_DIR"); env && *env) {
        std::string dir = env;
        if (dir.back() != '/') dir += '/';
        return dir;
    }
    return std::string("/etc/") + kModuleBaseName + "/";
}

std::string SerialDevicePath(int PortNumber) {
    const std::string name = "COM" + std::to_string(PortNumber);
    for (const std::string& dir : {SystemPortMapDir(), CommonAppDataDir() + kModuleBaseName + "/"}) {
        struct stat st {};
        if (::lstat((dir + name).c_str(), &st) == 0) return dir + name;
    }
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
    if (Path.rfind("/dev/", 0) != 0 && ::lstat(Path.c_str(), &st) == 0 && !TrustedOwner(Path, st.st_uid)) {
        Error = "Ссылка " + Path + " принадлежит пользователю " + OwnerName(st.st_uid) +
                ", а не root и не пользователю драйвера";
        return false;
    }
    UniqueFd fd(::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return OpenFailed(Error, errno, Path);
    // TIOCEXCL keeps other (non-root) openers out; the lock also keeps out a second driver
    // running as root. Exclusive mode itself is not taken as "busy": a host killed while the
    // terminal stays open elsewhere leaves it set, and the lock, gone with that host, says more.
    if (::ioctl(fd.Get(), TIOCEXCL) != 0) return Failed(Error, errno);
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::ioctl(fd.Get(), TIOCNXCL);
        return OpenFailed(Error, err, Path);
    }
    if (::tcflush(fd.Get(), TCIOFLUSH) != 0) {
        const int err = errno;
        ::ioctl(fd.Get(), TIOCNXCL);
        return Failed(Error, err);
    }
    FImpl->Fd = std::move(fd);
    return true;
}

void TSerialDevice::Close() {
    if (!IsOpen()) return;
    const int fd = FImpl->Fd.Get();
    SetControlLines(false);
    ::tcflush(fd, TCIFLUSH);      // bytes written but not yet sent still go out (close drains them)
    // The terminal may stay open elsewhere (a peer holding its other end, a second descriptor):
    // exclusive mode outlives this descriptor and would keep the next non-root opener out.
    ::ioctl(fd, TIOCNXCL);
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
