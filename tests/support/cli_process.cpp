#include "support/cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>

extern char** environ;

namespace kx::test {
namespace {

long long monotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::string cliPath() {
#ifdef KX_CLI_PATH
  return KX_CLI_PATH;
#else
  char self[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
  return dir.substr(0, dir.rfind('/')) + "/kx627-cli";
#endif
}

CliProcess::CliProcess(const std::vector<std::string>& args, const std::string& programPath) {
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return;
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  // The test binary may block signals in its own threads; the tool starts clean.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  const std::string program = programPath.empty() ? cliPath() : programPath;
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  toChild_ = in[1];
  outFd_ = out[0];
  errFd_ = err[0];
  if (rc != 0) pid_ = -1;
}

CliProcess::~CliProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (int fd : {toChild_, outFd_, errFd_})
    if (fd >= 0) ::close(fd);
}

bool CliProcess::pump(int waitMs) {
  struct pollfd p[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (outFd_ < 0 && errFd_ < 0) return false;
  if (::poll(p, 2, waitMs) <= 0) return true;
  for (int i = 0; i < 2; ++i) {
    int& fd = i == 0 ? outFd_ : errFd_;
    if (fd < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) {
      ::close(fd);
      fd = -1;
    } else {
      (i == 0 ? out_ : err_).append(buf, static_cast<std::size_t>(n));
    }
  }
  return outFd_ >= 0 || errFd_ >= 0;
}

bool CliProcess::waitForError(const std::string& needle, int timeoutMs, std::size_t from) {
  return waitFor(err_, needle, timeoutMs, from);
}

bool CliProcess::waitForOutput(const std::string& needle, int timeoutMs, std::size_t from) {
  return waitFor(out_, needle, timeoutMs, from);
}

bool CliProcess::waitFor(const std::string& stream, const std::string& needle, int timeoutMs,
                         std::size_t from) {
  const long long end = monotonicMs() + timeoutMs;
  while (true) {
    if (stream.size() > from && stream.find(needle, from) != std::string::npos) return true;
    const long long left = end - monotonicMs();
    if (left <= 0) return false;
    if (!pump(static_cast<int>(std::min<long long>(left, 100)))) {
      return stream.find(needle, from) != std::string::npos;
    }
  }
}

void CliProcess::writeInput(const std::string& text) {
  if (toChild_ >= 0) {
    const ssize_t n = ::write(toChild_, text.data(), text.size());
    (void)n;
  }
}

void CliProcess::closeInput() {
  if (toChild_ >= 0) ::close(toChild_);
  toChild_ = -1;
}

void CliProcess::signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

int CliProcess::finish(int timeoutMs) {
  if (pid_ <= 0) return exitCode_;
  const long long end = monotonicMs() + timeoutMs;
  while (monotonicMs() < end && pump(100)) {
  }
  int status = 0;
  struct rusage usage {};
  while (true) {
    const pid_t r = ::wait4(pid_, &status, WNOHANG, &usage);
    if (r == pid_) break;
    if (monotonicMs() >= end) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    ::usleep(10000);
  }
  pid_ = -1;
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  cpuSeconds_ = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return exitCode_;
}

CliResult runCli(const std::vector<std::string>& args, int timeoutMs, const std::string& input) {
  CliProcess p(args);
  if (!input.empty()) p.writeInput(input);
  p.closeInput();
  const int code = p.finish(timeoutMs);
  return {code, p.out(), p.err()};
}

CliResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     int timeoutMs) {
  CliProcess p(args, program);
  p.closeInput();
  const int code = p.finish(timeoutMs);
  return {code, p.out(), p.err()};
}

std::vector<pid_t> processesWith(const std::string& marker, pid_t except) {
  std::vector<pid_t> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "cmdline", std::ios::binary);
    const std::string cmdline{std::istreambuf_iterator<char>(in), {}};
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    if (pid != except && cmdline.find(marker) != std::string::npos) out.push_back(pid);
  }
  return out;
}

bool waitForEnds(const std::vector<pid_t>& pids, int timeoutMs) {
  // A pidfd turns readable when its process ends; one that is already gone
  // cannot be opened.
  std::vector<pollfd> fds;
  for (pid_t pid : pids) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) fds.push_back({fd, POLLIN, 0});
  }
  const long long end = monotonicMs() + timeoutMs;
  while (!fds.empty()) {
    const long long left = end - monotonicMs();
    if (left <= 0 || ::poll(fds.data(), fds.size(), static_cast<int>(left)) < 0) break;
    std::erase_if(fds, [](const pollfd& p) {
      if (!(p.revents & POLLIN)) return false;
      ::close(p.fd);
      return true;
    });
  }
  for (const pollfd& p : fds) ::close(p.fd);
  return fds.empty();
}

}  // namespace kx::test
