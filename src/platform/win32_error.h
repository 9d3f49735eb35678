// Win32 error codes as the errno values the POSIX layer reports for the same
// conditions, so that texts, hints and exit codes are the same everywhere.
#pragma once

namespace kx {

// A Win32 error (GetLastError()) as an errno value; EIO when there is no
// closer one. ERROR_ACCESS_DENIED is EACCES here; the serial device maps it
// to EBUSY itself, because on a COM port it means another program holds it.
int errnoFromWin32(unsigned long error);

}  // namespace kx
