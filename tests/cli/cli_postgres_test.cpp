// The unit log in PostgreSQL, for a line with several stations: a real
// server, started for the test on a socket in a private directory (Debian's
// postgresql package); skipped, saying why, where it cannot be started.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_options.h"
#include "production/unit_log.h"
#include "support/cli_process.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace {

using namespace kx::cli;
using namespace kx::production;
namespace fs = std::filesystem;

// A PostgreSQL server of its own: initdb into the test's directory, then
// the server on a Unix socket there, with no TCP port. The server refuses to
// run as root; as root the test runs it as the "postgres" user.
class PostgresServer {
 public:
  explicit PostgresServer(const std::string& dir) : dir_(dir) {
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
    if (run({bin + "/initdb", "-D", data, "-A", "trust", "-U", "postgres", "-E", "UTF8",
             "--no-sync", "--no-instructions"}) != 0) {
      why_ = "initdb failed (see " + dir + "/server.log)";
      return;
    }
    // fsync off: a test database, thrown away.
    pid_ = start({bin + "/postgres", "-D", data, "-k", dir, "-c", "listen_addresses=",
                  "-c", "fsync=off", "-p", "5432"});
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string error;
    while (std::chrono::steady_clock::now() < end) {
      if (fs::exists(dir + "/.s.PGSQL.5432") && UnitLog::open(uri(), &error)) return;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why_ = "the server did not start (" + error + "; see " + dir + "/server.log)";
  }
  ~PostgresServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGINT);  // fast shutdown
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  bool running() const { return why_.empty(); }
  const std::string& whyNot() const { return why_; }
  std::string uri() const { return "postgresql:///postgres?host=" + dir_ + "&port=5432&user=postgres"; }

 private:
  pid_t start(const std::vector<std::string>& argv) {
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
  int run(const std::vector<std::string>& argv) {
    const pid_t pid = start(argv);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string dir_;
  std::string why_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  pid_t pid_ = -1;
};

// Two stations on one database: each unit's number and list row given once
// between them, and the units programmed through the command line logged
// there as in an SQLite file.
TEST(UnitLogPostgres, TwoStationsShareOneLog) {
  kx::test::TempDir dir;
  PostgresServer server(dir.path());
  if (!server.running()) GTEST_SKIP() << "PostgreSQL: " << server.whyNot();

  std::string error;
  auto first = UnitLog::open(server.uri(), &error);
  auto second = UnitLog::open(server.uri(), &error);
  ASSERT_TRUE(first && second) << error;
  UnitAssignment a, b, again;
  ASSERT_TRUE(first->assign("0012-6F-000001", "pins.csv", 3, true, &a)) << first->error();
  ASSERT_TRUE(second->assign("0012-6F-000002", "pins.csv", 3, true, &b)) << second->error();
  ASSERT_TRUE(second->assign("0012-6F-000001", "pins.csv", 3, true, &again));
  EXPECT_EQ(a.seq, 1);
  EXPECT_EQ(b.seq, 2);
  EXPECT_EQ(a.valuesRow, 2);
  EXPECT_EQ(b.valuesRow, 3);
  EXPECT_EQ(again.seq, a.seq) << "a unit keeps its number";
  EXPECT_EQ(again.valuesRow, a.valuesRow);
  ASSERT_TRUE(first->assign("0012-6F-000003", "pins.csv", 3, true, &a));
  EXPECT_EQ(a.valuesRow, std::nullopt) << "no row left";

  kx::test::SimProcess sim({});
  ASSERT_TRUE(sim.started());
  const std::string file = dir.file("line.txt");
  std::ofstream(file) << "Name = PG-{address:4}-{seq:3}\n";
  const std::vector<std::string> apply{"apply", "--port", sim.ptyPath(), "--log-db", server.uri(),
                                       "--time-scale", "0.05", "--station", "line-2", file};
  auto r = kx::test::runCli(apply);
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(sim.control("get 1 name"), "OK PG-0001-004");
  r = kx::test::runCli(apply);
  EXPECT_EQ(r.code, kExitAlreadyProvisioned) << r.err;
  r = kx::test::runCli({"log", server.uri()});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find("line-2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("already provisioned"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2 unit(s)\n"), std::string::npos) << r.out;
}

}  // namespace
