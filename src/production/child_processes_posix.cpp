#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <csignal>

#include "production/child_processes.h"

namespace kx::production {

struct ChildProcesses::State {
  struct Child {
    pid_t pid = -1;
    int outFd = -1, errFd = -1;
    int inFd = -1;  // the write end of its standard input
    bool ended = false;
  };
  std::vector<Child> children;
  int sigFd = -1;
};

ChildProcesses::ChildProcesses(bool takeInterrupts) : s_(std::make_unique<State>()) {
  if (!takeInterrupts) return;
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  s_->sigFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
}

ChildProcesses::~ChildProcesses() {
  // A child still running is ended and waited for, as on Windows: a long
  // running program (the window) keeps no zombie of it.
  for (State::Child& c : s_->children) {
    if (c.ended) continue;
    ::kill(c.pid, SIGKILL);
    ::waitpid(c.pid, nullptr, 0);
  }
  for (State::Child& c : s_->children) {
    if (c.outFd >= 0) ::close(c.outFd);
    if (c.errFd >= 0) ::close(c.errFd);
    if (c.inFd >= 0) ::close(c.inFd);
  }
  if (s_->sigFd >= 0) ::close(s_->sigFd);
}

std::string ChildProcesses::selfPath() {
  char self[4096];
  const ssize_t len = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (len <= 0) return {};
  return std::string(self, static_cast<std::size_t>(len));
}

std::string ChildProcesses::besideSelf(const std::string& name) {
  const std::string self = selfPath();
  const std::size_t slash = self.rfind('/');
  if (slash == std::string::npos) return {};
  const std::string path = self.substr(0, slash + 1) + name;
  return ::access(path.c_str(), X_OK) == 0 ? path : std::string();
}

std::string ChildProcesses::makeTempDirectory() {
  char dirTemplate[] = "/tmp/kx627-cli-XXXXXX";
  const char* dir = ::mkdtemp(dirTemplate);
  return dir ? dir : "";
}

bool ChildProcesses::start(const std::string& program, const std::vector<std::string>& args) {
  s_->children.emplace_back();
  State::Child& c = s_->children.back();
  c.ended = true;  // until it runs
  int out[2], err[2], in[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return false;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return false;
  }
  if (::pipe2(in, O_CLOEXEC) != 0) {
    for (int fd : {out[0], out[1], err[0], err[1]}) ::close(fd);
    return false;
  }
  std::vector<std::string> argv = args;
  argv.insert(argv.begin(), program);
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    for (int fd : {out[0], out[1], err[0], err[1], in[0], in[1]}) ::close(fd);
    return false;
  }
  if (pid == 0) {
    // It dies with this program, however that ends (a kill -9, a crash, a
    // closed terminal): a child left alone would go on holding its port and
    // programming units that nobody reports. The parent may have died
    // before the request took hold; then the child was handed to another
    // process and ends here.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);
    // Its own process group: the terminal's Ctrl-C reaches the parent
    // alone, which passes it on once.
    ::setpgid(0, 0);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::dup2(in[0], STDIN_FILENO);
    sigset_t none;
    sigemptyset(&none);
    ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  ::close(in[0]);
  c.pid = pid;
  c.outFd = out[0];
  c.errFd = err[0];
  c.inFd = in[1];
  c.ended = false;
  return true;
}

int ChildProcesses::wait(int timeoutMs, std::vector<Output>& output, std::vector<Exit>& exits) {
  std::vector<pollfd> fds;
  std::vector<std::pair<std::size_t, bool>> who;  // child, is-stderr
  for (std::size_t i = 0; i < s_->children.size(); ++i) {
    const State::Child& c = s_->children[i];
    if (c.outFd >= 0) {
      fds.push_back({c.outFd, POLLIN, 0});
      who.emplace_back(i, false);
    }
    if (c.errFd >= 0) {
      fds.push_back({c.errFd, POLLIN, 0});
      who.emplace_back(i, true);
    }
  }
  if (s_->sigFd >= 0) fds.push_back({s_->sigFd, POLLIN, 0});
  ::poll(fds.data(), fds.size(), timeoutMs);
  for (std::size_t k = 0; k < who.size(); ++k) {
    if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    State::Child& c = s_->children[who[k].first];
    int& fd = who[k].second ? c.errFd : c.outFd;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      output.push_back({who[k].first, who[k].second, std::string(buf, static_cast<std::size_t>(n))});
      continue;
    }
    output.push_back({who[k].first, who[k].second, {}});
    ::close(fd);
    fd = -1;
  }
  int interrupts = 0;
  if (s_->sigFd >= 0 && (fds.back().revents & POLLIN)) {
    signalfd_siginfo info{};
    if (::read(s_->sigFd, &info, sizeof info) > 0) ++interrupts;
  }
  for (std::size_t i = 0; i < s_->children.size(); ++i) {
    State::Child& c = s_->children[i];
    if (c.ended) continue;
    int status = 0;
    if (::waitpid(c.pid, &status, WNOHANG) == c.pid) {
      c.ended = true;
      exits.push_back({i, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)});
    }
  }
  return interrupts;
}

bool ChildProcesses::sendLine(std::size_t child, std::string_view line) {
  State::Child& c = s_->children.at(child);
  if (c.ended || c.inFd < 0) return false;
  const std::string text = std::string(line) + "\n";
  // A child that has closed its input makes the write raise SIGPIPE, which
  // would end this program: held back for the write and taken away after.
  sigset_t pipeSignal, before;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
  ssize_t n;
  do {
    n = ::write(c.inFd, text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  const bool written = n == static_cast<ssize_t>(text.size());
  if (n < 0 && errno == EPIPE) {
    const timespec none{0, 0};
    ::sigtimedwait(&pipeSignal, nullptr, &none);
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (!written) {
    ::close(c.inFd);
    c.inFd = -1;
  }
  return written;
}

void ChildProcesses::interrupt(std::size_t child, bool hard) {
  const State::Child& c = s_->children.at(child);
  if (!c.ended) ::kill(c.pid, hard ? SIGKILL : SIGINT);
}

bool ChildProcesses::busy() const {
  for (const State::Child& c : s_->children)
    if (!c.ended || c.outFd >= 0 || c.errFd >= 0) return true;
  return false;
}

}  // namespace kx::production
