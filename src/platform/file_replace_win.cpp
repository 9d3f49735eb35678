#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/file_replace.h"
#include "platform/win32_error.h"

namespace kx {

std::FILE* createFileBeside(const std::string& path, std::string* tmpPath, int* err) {
  for (unsigned n = 0; n < 100; ++n) {
    const std::string tmp = path + ".tmp" + std::to_string(::GetCurrentProcessId()) + "-" +
                            std::to_string(::GetTickCount() + n);
    HANDLE h = ::CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS) continue;
      *err = errnoFromWin32(error);
      return nullptr;
    }
    // A text stream: lines end in CR LF, as Windows text files do.
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_TEXT);
    std::FILE* file = fd >= 0 ? ::_fdopen(fd, "w") : nullptr;
    if (!file) {
      *err = errno;
      if (fd >= 0)
        ::_close(fd);
      else
        ::CloseHandle(h);
      ::DeleteFileA(tmp.c_str());
      return nullptr;
    }
    *tmpPath = tmp;
    return file;
  }
  *err = EEXIST;
  return nullptr;
}

int replaceWithFile(std::FILE* file, const std::string& tmpPath, const std::string& path) {
  int err = 0;
  if (std::fflush(file) != 0)
    err = errno;
  else if (!::FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)))))
    err = errnoFromWin32(::GetLastError());
  if (std::fclose(file) != 0 && err == 0) err = errno;
  if (err == 0 && !::MoveFileExA(tmpPath.c_str(), path.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    err = errnoFromWin32(::GetLastError());
  if (err != 0) ::DeleteFileA(tmpPath.c_str());
  return err;
}

}  // namespace kx
