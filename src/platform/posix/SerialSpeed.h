#pragma once
// Bit rates that termios has no constant for (14400, 56000) are set through termios2; kept in a
// unit of its own because the kernel's termios2 header clashes with <termios.h>.

namespace fr::serial_detail {

// Sets the port's input and output bit rate to Rate; returns 0 or errno.
int SetArbitrarySpeed(int Fd, int Rate);

}  // namespace fr::serial_detail
