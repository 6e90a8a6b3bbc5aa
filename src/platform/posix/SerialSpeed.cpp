#include "platform/posix/SerialSpeed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace fr::serial_detail {

int SetArbitrarySpeed(int Fd, int Rate) {
    struct termios2 tio {};
    if (ioctl(Fd, TCGETS2, &tio) != 0) return errno;
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_cflag &= ~(CBAUD << IBSHIFT);
    tio.c_cflag |= BOTHER << IBSHIFT;
    tio.c_ispeed = static_cast<speed_t>(Rate);
    tio.c_ospeed = static_cast<speed_t>(Rate);
    if (ioctl(Fd, TCSETS2, &tio) != 0) return errno;
    return 0;
}

}  // namespace fr::serial_detail
