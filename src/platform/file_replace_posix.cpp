#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_replace.h"

namespace kx {

std::FILE* createFileBeside(const std::string& path, std::string* tmpPath, int* err) {
  std::string tmp = path + ".tmpXXXXXX";
  const int fd = ::mkstemp(tmp.data());
  std::FILE* file = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
  if (!file) {
    *err = errno;
    if (fd >= 0) {
      ::close(fd);
      ::unlink(tmp.c_str());
    }
    return nullptr;
  }
  *tmpPath = tmp;
  return file;
}

int replaceWithFile(std::FILE* file, const std::string& tmpPath, const std::string& path) {
  const bool written = std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
  const int writeErr = errno;
  const bool closed = std::fclose(file) == 0;
  const int closeErr = errno;
  // A new file gets the permissions a plain create would have given it.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::chmod(tmpPath.c_str(), 0666 & ~mask);
  if (!written || !closed || std::rename(tmpPath.c_str(), path.c_str()) != 0) {
    const int err = !written ? writeErr : !closed ? closeErr : errno;
    ::unlink(tmpPath.c_str());
    return err;
  }
  return 0;
}

}  // namespace kx
