#include "support/postgres_server.h"

#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "production/unit_log.h"

namespace kx::test {
namespace {

namespace fs = std::filesystem;

// A TCP port of 127.0.0.1 that nothing listens on now (0: none found).
int freeLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

}  // namespace

PostgresServer::PostgresServer(const std::string& dir, bool tcp) : dir_(dir) {
  std::string bin;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec))
    if (fs::exists(e.path() / "bin/initdb")) bin = (e.path() / "bin").string();
  if (bin.empty()) {
    why_ = "no PostgreSQL server installed (/usr/lib/postgresql/*/bin/initdb)";
    return;
  }
  if (::geteuid() == 0) {
    const passwd* pw = ::getpwnam("postgres");
    if (!pw) {
      why_ = "running as root and there is no \"postgres\" user to run the server as";
      return;
    }
    uid_ = pw->pw_uid;
    gid_ = pw->pw_gid;
    if (::chown(dir.c_str(), uid_, gid_) != 0) {
      why_ = "cannot give " + dir + " to the postgres user";
      return;
    }
  }
  const std::string data = dir + "/data";
  if (run({bin + "/initdb", "-D", data, "-A", "trust", "-U", "postgres", "-E", "UTF8", "--no-sync",
           "--no-instructions"}) != 0) {
    why_ = "initdb failed (see " + dir + "/server.log)";
    return;
  }
  // The socket's number is the port's; without TCP any number does.
  port_ = tcp ? freeLoopbackPort() : 0;
  if (tcp && port_ == 0) {
    why_ = "no free TCP port on 127.0.0.1";
    return;
  }
  const std::string number = std::to_string(tcp ? port_ : 5432);
  // fsync off: a test database, thrown away.
  pid_ = start({bin + "/postgres", "-D", data, "-k", dir, "-c",
                std::string("listen_addresses=") + (tcp ? "127.0.0.1" : ""), "-c", "fsync=off",
                "-p", number});
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::string error;
  while (std::chrono::steady_clock::now() < end) {
    if (fs::exists(dir + "/.s.PGSQL." + number) && production::UnitLog::open(uri(), &error)) return;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  why_ = "the server did not start (" + error + "; see " + dir + "/server.log)";
}

PostgresServer::~PostgresServer() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGINT);  // fast shutdown
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

std::string PostgresServer::uri() const {
  return "postgresql:///postgres?host=" + dir_ + "&port=" + std::to_string(port_ ? port_ : 5432) +
         "&user=postgres";
}

pid_t PostgresServer::start(const std::vector<std::string>& argv) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const std::string log = dir_ + "/server.log";
  std::FILE* f = std::fopen(log.c_str(), "a");
  if (f) {
    ::dup2(fileno(f), STDOUT_FILENO);
    ::dup2(fileno(f), STDERR_FILENO);
  }
  if (uid_ != 0 && (::setgid(gid_) != 0 || ::setuid(uid_) != 0)) ::_exit(126);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

int PostgresServer::run(const std::vector<std::string>& argv) {
  const pid_t pid = start(argv);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kx::test
