#include "common/debug_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>


namespace kx {

std::atomic<int32_t> debugFlag{0};
std::string startupDirectory;

namespace {
std::mutex gLogMutex;
FILE* gDebugFile = nullptr;  // guarded by gLogMutex
constexpr std::size_t kLogBound = 1024;
}  // namespace

void debugLog(const char* fmt, ...) {
  // The receive path logs every chunk: while the log is off nothing is
  // formatted.
  if (debugFlag.load(std::memory_order_relaxed) != 1) return;
  char buffer[kLogBound];
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  if (n < 0) buffer[0] = '\0';
  if (debugFlag.load(std::memory_order_relaxed) != 1) return;
  std::lock_guard lock(gLogMutex);
  if (gDebugFile) std::fprintf(gDebugFile, "%s\n", buffer);
}

std::string debugOpenErrorText(int err) {
  switch (err) {
    case EPERM:
      return "Failed to create Debug.txt file.Operation not permitted";
    case ENOMEM:
      return "Failed to create Debug.txt file.No Space in disk left";
    case EACCES:
      return "Failed to create Debug.txt file.Access Denied";
    case EBUSY:
      return "Failed to create Debug.txt file.File in use.";
    case ENAMETOOLONG:
      return "Failed to create Debug.txt file.File name too long";
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Failed to open Debug.txt file. Error %d", err);
      return text;
    }
  }
}

bool closeDebugLog() {
  std::lock_guard lock(gLogMutex);
  debugFlag = 0;
  if (!gDebugFile) return true;
  const bool written = !std::ferror(gDebugFile);
  const bool closed = std::fclose(gDebugFile) == 0;
  gDebugFile = nullptr;
  return written && closed;
}

bool openDebugLogAt(const std::string& path, int* err) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) {
    if (err) *err = errno;
    return false;
  }
  std::lock_guard lock(gLogMutex);
  if (gDebugFile) std::fclose(gDebugFile);
  gDebugFile = file;
  // Written before the flag is raised, so that it is the first line even
  // while other threads are logging.
  std::fprintf(gDebugFile, "%s\n", "Setting debugFlag = TRUE");
  debugFlag = 1;
  return true;
}

bool toggleDebug(bool checked, int* err) {
  if (checked) {
    closeDebugLog();
    return false;
  }
  // The file is opened by its full path in the start directory rather than by
  // changing the process's current directory, which other threads may rely on.
  std::string path = startupDirectory.empty() ? std::string("Debug.txt")
                                              : startupDirectory + "/Debug.txt";
  return openDebugLogAt(path, err);
}

}  // namespace kx
