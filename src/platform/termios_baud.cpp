// Kept apart from the other termios code: <asm/termbits.h> and <termios.h>
// declare the same names and cannot be included together.
#include "platform/termios_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace kx {

int termiosSetBaud(int fd, int baud) {
  if (baud <= 0) return EINVAL;
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return errno;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = static_cast<speed_t>(baud);
  tio.c_ospeed = static_cast<speed_t>(baud);
  if (::ioctl(fd, TCSETS2, &tio) != 0) return errno;
  return 0;
}

int termiosGetBaud(int fd, int* baud) {
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return errno;
  *baud = static_cast<int>(tio.c_ospeed);
  return 0;
}

}  // namespace kx
