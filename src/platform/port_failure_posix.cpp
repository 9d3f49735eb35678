// Who holds a port, and what to do about a refused one, on Linux. On Linux the programs holding a
// port are found through /proc: /proc/locks names the process holding the
// port's lock (serial programs lock the ports they use, as this tool does);
// without a lock, each process's open descriptors are links to the files they
// opened, so a descriptor on the same device names a holder.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/serial_device.h"

namespace kx {
namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool holdsFile(const std::string& fdDir, const struct stat& target) {
  DIR* fds = ::opendir(fdDir.c_str());
  if (!fds) return false;  // another user's process: the system does not tell
  bool found = false;
  // A directory stream of this function's own: readdir is safe on it (and
  // readdir_r is deprecated).
  while (const dirent* fd = ::readdir(fds)) {  // NOLINT(concurrency-mt-unsafe)
    if (fd->d_name[0] == '.') continue;
    struct stat st {};
    if (::stat((fdDir + "/" + fd->d_name).c_str(), &st) == 0 && sameFile(st, target)) {
      found = true;
      break;
    }
  }
  ::closedir(fds);
  return found;
}

// The processes whose lock on the file is listed in /proc/locks, whose
// lines read "1: FLOCK  ADVISORY  WRITE 1234 00:19:3 0 EOF" (pid, then the
// device's major and minor in hex and the inode).
std::vector<std::string> lockHolders(const struct stat& target) {
  std::vector<std::string> pids;
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    char pid[16] = {};
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(line.c_str(), "%*s %*s %*s %*s %15s %x:%x:%llu", pid, &major, &minor,
                    &inode) == 4 &&
        major == ::major(target.st_dev) && minor == ::minor(target.st_dev) &&
        inode == target.st_ino)
      pids.emplace_back(pid);
  }
  return pids;
}

std::string describeProcesses(const std::vector<std::string>& pids) {
  std::string out;
  int listed = 0;
  for (const std::string& pid : pids) {
    if (listed++ == 3) return out + ", ...";
    std::string name;
    std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
    out += (out.empty() ? "" : ", ") + (name.empty() ? "a program" : name) + " (process " + pid +
           ")";
  }
  return out;
}

}  // namespace

std::string portHolders(const std::string& port) {
  struct stat target {};
  if (::stat(port.c_str(), &target) != 0) return {};
  const std::string self = std::to_string(::getpid());
  std::vector<std::string> pids;
  for (const std::string& pid : lockHolders(target))
    if (pid != self) pids.push_back(pid);
  if (!pids.empty()) return describeProcesses(pids);
  DIR* proc = ::opendir("/proc");
  if (!proc) return {};
  while (const dirent* e = ::readdir(proc)) {  // NOLINT(concurrency-mt-unsafe): ours alone
    const std::string pid = e->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    if (holdsFile("/proc/" + pid + "/fd", target)) pids.push_back(pid);
  }
  ::closedir(proc);
  return describeProcesses(pids);
}

std::string permissionHint(const std::string& port) {
  return "No permission to open " + port +
         ": add your user to the dialout group (sudo usermod -aG dialout $USER) and log in "
         "again.";
}

}  // namespace kx
