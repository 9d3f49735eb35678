// kx627-cli against real adapters, when the ports are named: KX_TEST_PORT for
// one adapter, KX_TEST_PORT2 for a second one. Without them the tests skip.
// They only read and send queries; nothing is programmed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cli/cli_options.h"
#include "support/cli_process.h"
#include "support/temp_dir.h"

namespace {

using kx::test::runCli;
using namespace kx::cli;

std::string envPort(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

TEST(CliHardware, ReadSendAndAnUnchangedDryRun) {
  const std::string port = envPort("KX_TEST_PORT");
  if (port.empty()) GTEST_SKIP() << "set KX_TEST_PORT=/dev/ttyUSB0 to test against a real adapter";
  kx::test::TempDir dir;
  const std::string file = dir.file("unit.txt");
  auto r = runCli({"read", "--port", port}, 300000);
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find("\nName = "), std::string::npos) << r.out;
  {
    FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(r.out.c_str(), f);
    std::fclose(f);
  }
  r = runCli({"send", "--port", port, "AT+VER"}, 300000);
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_FALSE(r.out.empty());
  // The adapter's own settings, applied to it, change nothing.
  r = runCli({"apply", "--dry-run", "--port", port, file}, 300000);
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(CliHardware, TwoAdaptersReadAtOnce) {
  const std::string port = envPort("KX_TEST_PORT"), port2 = envPort("KX_TEST_PORT2");
  if (port.empty() || port2.empty())
    GTEST_SKIP() << "set KX_TEST_PORT and KX_TEST_PORT2 to test two real adapters";
  kx::test::TempDir dir;
  const std::string report = dir.file("report.json");
  const auto r = runCli({"read", "--port", port, "--port", port2, "--report", report}, 600000);
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find(port + ": Name = "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(port2 + ": Name = "), std::string::npos) << r.out;
}

}  // namespace
