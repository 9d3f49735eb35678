// Line speeds by number rather than by Bxxx constant, through the Linux
// termios2 interface, so that speeds without a constant (14400) work too.
#pragma once

namespace kx {

// Sets input and output speed of the tty on fd; 0 or errno.
int termiosSetBaud(int fd, int baud);
// Reads the output speed of the tty on fd into *baud; 0 or errno.
int termiosGetBaud(int fd, int* baud);

}  // namespace kx
