#include "cat/transport/CPortTermios2.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace vela::termios2 {

int SetCustomBaud(int Fd, int Baud) {
  struct termios2 T;
  if (ioctl(Fd, TCGETS2, &T) != 0)
    return errno;
  T.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  T.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  T.c_ispeed = static_cast<speed_t>(Baud);
  T.c_ospeed = static_cast<speed_t>(Baud);
  if (ioctl(Fd, TCSETS2, &T) != 0)
    return errno;
  return 0;
}

int ReadBaud(int Fd, int& InBaud, int& OutBaud) {
  struct termios2 T;
  if (ioctl(Fd, TCGETS2, &T) != 0)
    return errno;
  InBaud = static_cast<int>(T.c_ispeed);
  OutBaud = static_cast<int>(T.c_ospeed);
  return 0;
}

} // namespace vela::termios2
