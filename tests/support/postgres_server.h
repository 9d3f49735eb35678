// A PostgreSQL server of its own for a test (Debian's postgresql package):
// initdb into the test's directory, then the server on a Unix socket there
// and, when asked, on a free TCP port of 127.0.0.1 (Wine's libpq has no Unix
// sockets). Every connection is trusted: a password given is taken and not
// checked. The server refuses to run as root; as root it runs as the
// "postgres" user.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kx::test {

class PostgresServer {
 public:
  PostgresServer(const std::string& dir, bool tcp = false);
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  bool running() const { return why_.empty(); }
  const std::string& whyNot() const { return why_; }
  // The database "postgres" as the user "postgres" through the socket.
  std::string uri() const;
  // The TCP port (0 without TCP).
  int port() const { return port_; }

 private:
  pid_t start(const std::vector<std::string>& argv);
  int run(const std::vector<std::string>& argv);

  std::string dir_;
  std::string why_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace kx::test
