// The unit log in PostgreSQL, for a line with several stations: a real
// server, started for the test (tests/support/postgres_server.h); skipped,
// saying why, where it cannot be started.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "production/unit_log.h"
#include "support/cli_process.h"
#include "support/postgres_server.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace {

using namespace kx::cli;
using namespace kx::production;
using kx::test::PostgresServer;

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

  // A role that may only read the units lists them.
  auto admin = openPostgresDatabase(server.uri(), &error);
  ASSERT_TRUE(admin) << error;
  ASSERT_TRUE(admin->run("CREATE ROLE reader LOGIN") &&
              admin->run("GRANT SELECT ON units TO reader"))
      << admin->error();
  std::string readerUri = server.uri();
  readerUri.replace(readerUri.find("user=postgres"), 13, "user=reader");
  r = kx::test::runCli({"log", readerUri});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find("2 unit(s)\n"), std::string::npos) << r.out;
}

}  // namespace
