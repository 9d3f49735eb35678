#include "cli/parallel.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "common/text.h"

namespace kx::cli {
namespace {

using Clock = std::chrono::steady_clock;

// A child that has not ended after this long is killed and reported: every
// wait of a run is bounded, so only a fault gets here.
constexpr auto kChildDeadline = std::chrono::minutes(30);

struct Child {
  std::string port;
  std::string reportPath;
  pid_t pid = -1;
  int outFd = -1, errFd = -1;
  std::string outLine, errLine;  // a line not yet ended
  int exitCode = -1;
  bool killed = false;
  Clock::time_point started;
  double seconds = 0;
};

// Every argument but --port X and --report X; the child gets its own.
std::vector<std::string> childArguments(const std::vector<std::string>& argv) {
  std::vector<std::string> out;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if ((argv[i] == "--port" || argv[i] == "--report") && i + 1 < argv.size()) {
      ++i;
      continue;
    }
    out.push_back(argv[i]);
  }
  return out;
}

bool spawn(Child& c, const std::string& self, std::vector<std::string> args) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return false;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return false;
  }
  args.insert(args.end(), {"--port", c.port, "--report", c.reportPath});
  std::vector<char*> cargv;
  std::string program = self;
  cargv.push_back(program.data());
  for (std::string& a : args) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // Its own process group: the terminal's Ctrl-C reaches the parent
    // alone, which passes it on once.
    ::setpgid(0, 0);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);
    sigset_t none;
    sigemptyset(&none);
    ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
    ::execv(program.c_str(), cargv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  c.pid = pid;
  c.outFd = out[0];
  c.errFd = err[0];
  c.started = Clock::now();
  return true;
}

// Passes on the complete lines of `pending` + what was read, prefixed.
void passLines(std::string& pending, const char* data, ssize_t n, const std::string& prefix,
               std::FILE* to) {
  pending.append(data, static_cast<std::size_t>(n));
  std::size_t start = 0, nl;
  while ((nl = pending.find('\n', start)) != std::string::npos) {
    std::fprintf(to, "%s: %s\n", prefix.c_str(), pending.substr(start, nl - start).c_str());
    start = nl + 1;
  }
  pending.erase(0, start);
  std::fflush(to);
}

void drain(int& fd, std::string& pending, const std::string& port, std::FILE* to) {
  char buf[4096];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  if (n > 0) {
    passLines(pending, buf, n, port, to);
    return;
  }
  if (n < 0 && errno == EINTR) return;
  if (!pending.empty()) passLines(pending, "\n", 1, port, to);
  ::close(fd);
  fd = -1;
}

std::string readFileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

int runOnEveryPort(const Options& options, const std::vector<std::string>& argv) {
  char self[4096];
  const ssize_t len = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (len <= 0) {
    std::fprintf(stderr, "kx627-cli: cannot find its own program file\n");
    return kExitFailed;
  }
  self[len] = '\0';

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  const int sigFd = ::signalfd(-1, &signals, SFD_CLOEXEC);

  char dirTemplate[] = "/tmp/kx627-cli-XXXXXX";
  const char* dir = ::mkdtemp(dirTemplate);
  std::vector<Child> children(options.ports.size());
  const std::vector<std::string> args = childArguments(argv);
  for (std::size_t i = 0; i < children.size(); ++i) {
    Child& c = children[i];
    c.port = options.ports[i];
    c.reportPath = std::string(dir ? dir : "/tmp") + "/report-" + std::to_string(i);
    if (!spawn(c, self, args)) {
      std::fprintf(stderr, "%s: could not start a process for this port\n", c.port.c_str());
      c.exitCode = kExitFailed;
    }
  }

  int cancels = 0;
  while (true) {
    std::vector<pollfd> fds;
    std::vector<std::pair<Child*, bool>> who;  // child, is-stdout
    for (Child& c : children) {
      if (c.outFd >= 0) {
        fds.push_back({c.outFd, POLLIN, 0});
        who.emplace_back(&c, true);
      }
      if (c.errFd >= 0) {
        fds.push_back({c.errFd, POLLIN, 0});
        who.emplace_back(&c, false);
      }
    }
    bool running = false;
    for (Child& c : children) running = running || (c.pid > 0 && c.exitCode < 0);
    if (fds.empty() && !running) break;
    if (sigFd >= 0) fds.push_back({sigFd, POLLIN, 0});
    ::poll(fds.data(), fds.size(), 200);
    for (std::size_t i = 0; i < who.size(); ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      Child& c = *who[i].first;
      if (who[i].second)
        drain(c.outFd, c.outLine, c.port, stdout);
      else
        drain(c.errFd, c.errLine, c.port, stderr);
    }
    if (sigFd >= 0 && (fds.back().revents & POLLIN)) {
      signalfd_siginfo info{};
      (void)!::read(sigFd, &info, sizeof info);
      ++cancels;
      std::fprintf(stderr, "Cancelling every port...%s\n",
                   cancels > 1 ? " (again: stopping them at once)" : "");
      for (Child& c : children)
        if (c.pid > 0 && c.exitCode < 0) ::kill(c.pid, cancels > 1 ? SIGKILL : SIGINT);
    }
    for (Child& c : children) {
      if (c.pid <= 0 || c.exitCode >= 0) continue;
      int status = 0;
      if (::waitpid(c.pid, &status, WNOHANG) == c.pid) {
        c.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        c.seconds = std::chrono::duration<double>(Clock::now() - c.started).count();
      } else if (Clock::now() - c.started > kChildDeadline && !c.killed) {
        std::fprintf(stderr, "%s: no end after %d minutes; stopped\n", c.port.c_str(),
                     static_cast<int>(kChildDeadline.count()));
        ::kill(c.pid, SIGKILL);
        c.killed = true;
      }
    }
  }
  if (sigFd >= 0) ::close(sigFd);

  // The summary, and the reports in port order.
  std::string reports;
  std::fprintf(stdout, "\n%-24s %-16s %-20s %-17s %-28s %s\n", "port", "address", "name",
               "result", "mismatched", "seconds");
  int first = kExitOk;
  for (Child& c : children) {
    std::string json = readFileText(c.reportPath);
    while (!json.empty() && json.back() == '\n') json.pop_back();
    RunReport r;
    if (const auto parsed = parseReportJson(json)) {
      r = *parsed;
    } else {
      r.port = c.port;
      r.exitCode = c.exitCode;
      r.seconds = c.seconds;
      json = reportJson(r);
    }
    if (c.killed) r.result = "timed out";
    std::string mismatched;
    for (const std::string& key : r.mismatched) mismatched += (mismatched.empty() ? "" : ",") + key;
    reports += json + "\n";
    std::fprintf(stdout, "%-24s %-16s %-20s %-17s %-28s %.1f\n", c.port.c_str(), r.address.c_str(),
                 r.name.c_str(), r.result.empty() ? resultWord(c.exitCode) : r.result.c_str(),
                 mismatched.c_str(), c.seconds);
    if (first == kExitOk && c.exitCode != kExitOk) first = c.exitCode;
    ::unlink(c.reportPath.c_str());
  }
  if (dir) ::rmdir(dir);
  std::fflush(stdout);
  if (!options.reportPath.empty()) {
    std::FILE* f = std::fopen(options.reportPath.c_str(), "w");
    if (!f) {
      std::fprintf(stderr, "kx627-cli: cannot write the report %s\n", options.reportPath.c_str());
      return first == kExitOk ? kExitFileError : first;
    }
    std::fputs(reports.c_str(), f);
    std::fclose(f);
  }
  return first;
}

}  // namespace kx::cli
