#include "support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <climits>

#include "platform/termios_baud.h"

extern char** environ;

namespace kx::test {

namespace {

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::string adapterSimPath() {
#ifdef KX_ADAPTER_SIM_PATH
  return KX_ADAPTER_SIM_PATH;
#else
  char self[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/adapter-sim";
#endif
}

SimProcess::SimProcess(const std::vector<std::string>& args) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  const std::string program = adapterSimPath();
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  toChild_ = in[1];
  fromChild_ = out[0];
  if (rc != 0) {
    pid_ = -1;
    return;
  }
  ptyPath_ = readLine(5000);
}

SimProcess::~SimProcess() {
  if (pid_ > 0 && finish(3000) == -1) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (toChild_ >= 0) ::close(toChild_);
  if (fromChild_ >= 0) ::close(fromChild_);
}

std::string SimProcess::readLine(int timeoutMs) {
  const long long end = nowMs() + timeoutMs;
  for (;;) {
    const std::size_t nl = buffered_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      return line;
    }
    const long long left = end - nowMs();
    if (left <= 0) return {};
    struct pollfd p {fromChild_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buf[1024];
    const ssize_t n = ::read(fromChild_, buf, sizeof buf);
    if (n <= 0) return {};
    buffered_.append(buf, static_cast<std::size_t>(n));
  }
}

std::string SimProcess::control(const std::string& line, int timeoutMs) {
  const std::string l = line + "\n";
  if (::write(toChild_, l.data(), l.size()) != static_cast<ssize_t>(l.size())) return {};
  return readLine(timeoutMs);
}

int SimProcess::finish(int timeoutMs) {
  if (pid_ <= 0) return -1;
  if (toChild_ >= 0) {
    ::close(toChild_);
    toChild_ = -1;
  }
  const long long end = nowMs() + timeoutMs;
  int status = 0;
  while (nowMs() < end) {
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    ::usleep(10000);
  }
  return -1;
}

PtyTerminal::PtyTerminal(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return;
  setLine(19200);
  ::tcflush(fd_, TCIOFLUSH);
}

PtyTerminal::~PtyTerminal() {
  if (fd_ >= 0) ::close(fd_);
}

bool PtyTerminal::setLine(int baud, char parity, int stopBits, bool flow) {
  struct termios tio {};
  if (::tcgetattr(fd_, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CSTOPB | CRTSCTS);
  if (parity == 'O') tio.c_cflag |= PARENB | PARODD;
  if (parity == 'E') tio.c_cflag |= PARENB;
  if (stopBits == 2) tio.c_cflag |= CSTOPB;
  if (flow) tio.c_cflag |= CRTSCTS;
  if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
    // A pty drops PARENB; asking again for the parity it shows is refused
    // with EINVAL although the line is as requested.
    struct termios now {};
    if (errno != EINVAL || ::tcgetattr(fd_, &now) != 0 ||
        (now.c_cflag | PARENB) != (tio.c_cflag | PARENB))
      return false;
  }
  return kx::termiosSetBaud(fd_, baud) == 0;
}

void PtyTerminal::send(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      struct pollfd p {fd_, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
}

bool PtyTerminal::fill(int timeoutMs) {
  struct pollfd p {fd_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return false;
  char buf[1024];
  const ssize_t n = ::read(fd_, buf, sizeof buf);
  if (n <= 0) return false;
  buffered_.append(buf, static_cast<std::size_t>(n));
  return true;
}

std::string PtyTerminal::readN(std::size_t n, int timeoutMs) {
  const long long end = nowMs() + timeoutMs;
  while (buffered_.size() < n) {
    const long long left = end - nowMs();
    if (left <= 0) break;
    fill(static_cast<int>(left));
  }
  const std::size_t k = std::min(n, buffered_.size());
  std::string out = buffered_.substr(0, k);
  buffered_.erase(0, k);
  return out;
}

std::string PtyTerminal::readUntil(std::string_view needle, int timeoutMs) {
  const long long end = nowMs() + timeoutMs;
  for (;;) {
    const std::size_t at = buffered_.find(needle);
    if (at != std::string::npos) {
      std::string out = buffered_.substr(0, at + needle.size());
      buffered_.erase(0, at + needle.size());
      return out;
    }
    const long long left = end - nowMs();
    if (left <= 0) break;
    fill(static_cast<int>(left));
  }
  std::string out;
  out.swap(buffered_);
  return out;
}

std::string PtyTerminal::collectFor(int ms) {
  const long long end = nowMs() + ms;
  for (long long left; (left = end - nowMs()) > 0;) fill(static_cast<int>(left));
  std::string out;
  out.swap(buffered_);
  return out;
}

bool SimProcess::waitControl(const std::string& query, const std::string& expected,
                             int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (control(query) == expected) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace kx::test
