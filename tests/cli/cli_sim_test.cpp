// kx627-cli run as a program against adapter-sim on a pseudo-terminal: every
// command, the settings search with its progress and Ctrl-C, apply with its
// verification report and its dry run, pairing with the swap questions
// answered on standard input, the radio commands, the factory reset, the
// trace file and the exit codes.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "support/cli_process.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace {

using kx::test::CliProcess;
using kx::test::runCli;
using kx::test::SimProcess;
using namespace kx::cli;

// The tool's fixed waits (settle times, the pairing's bond waits) scaled down.
const char* const kScale = "0.05";

class CliSim : public ::testing::Test {
 protected:
  void start(std::vector<std::string> extra = {}) {
    std::vector<std::string> a{"--restart-ms", "100", "--connect-ms", "50", "--guard-ms", "100"};
    a.insert(a.end(), extra.begin(), extra.end());
    sim = std::make_unique<SimProcess>(a);
    ASSERT_TRUE(sim->started()) << "could not start " << kx::test::adapterSimPath();
  }
  std::vector<std::string> args(std::vector<std::string> a) {
    a.insert(a.begin() + 1, {"--port", sim->ptyPath(), "--time-scale", kScale});
    return a;
  }
  void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
  }
  std::unique_ptr<SimProcess> sim;
  kx::test::TempDir dir;
};

TEST_F(CliSim, ReadPrintsTheSettingsFileOfTheAdapter) {
  start();
  ASSERT_EQ(sim->control("set 1 name Line-4 Unit"), "OK");
  const auto r = runCli(args({"read"}));
  ASSERT_EQ(r.code, kExitOk) << r.err;
  for (const char* line : {"# KX627 Configuration Utility Settings\n", "Baud = 19200\n",
                           "Name = Line-4 Unit\n", "Role = Slave\n", "RemoteCOD = 000000\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "in\n" << r.out;
  EXPECT_NE(r.out.find("Port = " + sim->ptyPath() + "\n"), std::string::npos);
  // Progress goes to standard error, never into the settings.
  EXPECT_NE(r.err.find("Device Settings read complete"), std::string::npos);
  EXPECT_EQ(r.out.find("Reading Device Settings"), std::string::npos);
}

TEST_F(CliSim, ReadJsonIsOneObjectWithTheAdapterValues) {
  start({"--version", "v6.52"});
  ASSERT_EQ(sim->control("set 1 name Q\"uot\xE9"), "OK");  // an 8-bit byte: Latin-1 e-acute
  const auto r = runCli(args({"read", "--json"}));
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out.front(), '{');
  EXPECT_EQ(r.out.substr(r.out.size() - 2), "}\n");
  for (const char* field : {"\"Name\":\"Q\\\"uot\xC3\xA9\"", "\"Baud\":19200", "\"FlowControl\":false",
                            "\"FirmwareVersion\":\"v6.52\"", "\"Address\":\"0012-6F-100001\"",
                            "\"Discoverable\":true", "\"RemoteService\":"})
    EXPECT_NE(r.out.find(field), std::string::npos) << field << " in " << r.out;
  // v6.52 has no remote class of device to read.
  EXPECT_EQ(r.out.find("RemoteCOD"), std::string::npos);
}

TEST_F(CliSim, SendPrintsTheAnswerAndExitsByIt) {
  start({"--version", "v6.52"});
  const struct {
    const char* command;
    const char* out;
    int code;
  } rows[] = {
      {"AT+NAME?", "KX627-1\nOK\n", kExitOk},
      {"AT+NAME=Station9", "OK\n", kExitOk},
      {"AT+NAME?", "Station9\nOK\n", kExitOk},  // the set above reached the adapter
      {"AT+BOGUS", "ERROR\n", kExitFailed},
      {"AT+RCOD?", "", kExitFailed},  // refused for this firmware, not sent
      {"AT+NAME=ABCDEFGHIJKLMNOPQRSTUVWXYZ", "", kExitUsage},  // longer than a command buffer
  };
  for (const auto& row : rows) {
    const auto r = runCli(args({"send", row.command}));
    EXPECT_EQ(r.code, row.code) << row.command << "\n" << r.err;
    EXPECT_EQ(r.out, row.out) << row.command;
  }
  EXPECT_EQ(sim->control("get 1 name"), "OK Station9");
  const auto refused = runCli(args({"send", "AT+RCOD?"}));
  EXPECT_NE(refused.err.find("Remote Class of Device command (AT+RCOD) not supported"),
            std::string::npos);
}

TEST_F(CliSim, SendCollectsTheTimerDrivenAnswer) {
  start();
  const auto r = runCli(args({"send", "AT+ENQ"}));
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_FALSE(r.out.empty());
  EXPECT_NE(r.err.find("AT+ENQ"), std::string::npos);
}

TEST_F(CliSim, ApplyProgramsAndVerifiesEveryKey) {
  start({"--adapters", "2"});
  const std::string file = dir.file("line.txt");
  writeFile(file,
            "# production settings\n"
            "Port = COM9\n"
            "Name = Line-7\n"
            "Pin = 4321\n"
            "Discoverable = Off\n"
            "Role = Master\n"
            "EchoMode = Off\n"
            "AutoConnect = Off\n"
            "RemoteAddress = 0012-6F-100002\n"
            "Baud = 38400\n"
            "RemoteCOD = 001F00\n");
  const auto r = runCli(args({"apply", file}));
  ASSERT_EQ(r.code, kExitOk) << r.out << r.err;
  for (const char* line : {"Name: ok (Line-7)\n", "Pin: ok (4321)\n", "Discoverable: ok (Off)\n",
                           "Role: ok (Master)\n", "Baud: ok (38400)\n", "RemoteCOD: ok (001F00)\n",
                           "RemoteAddress: ok (0012-6F-100002)\n", "Port: skipped",
                           "9 verified, 0 mismatched\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  // Progress on standard error: each command with the count of the plan.
  EXPECT_NE(r.err.find("Programming 1 of 7, "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("s (AT+NAME=Line-7)\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Programming 7 of 7, "), std::string::npos) << r.err;
  EXPECT_EQ(sim->control("get 1 name"), "OK Line-7");
  EXPECT_EQ(sim->control("get 1 baud"), "OK 38400");
  EXPECT_EQ(sim->control("get 1 bond"), "OK 0012-6F-100002");
}

TEST_F(CliSim, ApplyReportsEveryValueTheAdapterDoesNotHold) {
  start({"--version", "v4.51"});  // legacy firmware: no speeds above 230400
  const std::string file = dir.file("bad.txt");
  writeFile(file,
            "Baud = 921600\n"
            "EscapeMode = Off\n"
            "ModemSignal = LocalLoopback\n");
  const auto r = runCli(args({"apply", file}));
  EXPECT_EQ(r.code, kExitMismatch) << r.out << r.err;
  EXPECT_NE(r.out.find("Baud: MISMATCH (file 921600, adapter 19200)"), std::string::npos);
  EXPECT_NE(r.err.find("Baud Rate 921600 not sent: firmware v4.51 does not take it"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("EscapeMode: ok (Off)"), std::string::npos);
  EXPECT_NE(r.out.find("ModemSignal: skipped"), std::string::npos);
  EXPECT_NE(r.out.find("1 verified, 1 mismatched"), std::string::npos);
  EXPECT_EQ(sim->control("get 1 esc"), "OK off");
}

// A missing file, or one with any line that cannot be used, is reported whole
// and no port is opened, on one port or several.
TEST_F(CliSim, ApplyWithABadFileOpensNoPort) {
  start();
  const std::string missing = dir.file("missing.txt");
  auto r = runCli(args({"apply", missing}));
  EXPECT_EQ(r.code, kExitFileError);
  EXPECT_NE(r.err.find("cannot read the settings file " + missing + ": No such file"),
            std::string::npos)
      << r.err;
  const std::string file = dir.file("bad.txt");
  writeFile(file, "Name = Baud-Tester\nNmae = Typo\nEchoMode = Maybe\nBaud = 12345\n");
  for (const auto& ports : {std::vector<std::string>{}, std::vector<std::string>{"--port", "/x"}}) {
    std::vector<std::string> a = args({"apply", file});
    a.insert(a.end(), ports.begin(), ports.end());
    r = runCli(a);
    EXPECT_EQ(r.code, kExitFileError);
    for (const std::string& line : {file + ":2: unknown key \"Nmae\" (did you mean \"Name\"?)\n",
                                   file + ":3: EchoMode: \"Maybe\" is not On or Off\n",
                                   file + ":4: Baud: \"12345\" is not an adapter speed"})
      EXPECT_NE(r.err.find(line), std::string::npos) << line << " in\n" << r.err;
  }
  EXPECT_EQ(sim->control("received 1"), "OK 0");  // the port was never opened
}

TEST_F(CliSim, FindSearchesTheLineSettingsWithProgress) {
  start({"--baud", "38400"});
  const auto r = runCli(args({"find", "--baud", "19200"}), 120000);
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find("Baud = 38400\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("FlowControl = Off\n"), std::string::npos);
  EXPECT_NE(r.err.find("Trying all settings"), std::string::npos);
  // Off a terminal each step is a plain line, with its pass and the seconds
  // since the start: 9600, then 38400.
  EXPECT_NE(r.err.find("Search step 2 of 131 (common settings), "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("s (no answer at 9600 bit/s, parity None, 1 stop bit(s), flow control "
                       "Off)\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("Search step 3 "), std::string::npos);

  const auto json = runCli(args({"find", "--baud", "38400", "--json"}));
  ASSERT_EQ(json.code, kExitOk) << json.err;
  EXPECT_NE(json.out.find("\"Baud\":38400,\"StopBits\":1,\"FlowControl\":false"),
            std::string::npos)
      << json.out;
  EXPECT_EQ(json.err.find("Search step"), std::string::npos);  // the probe answered
}

TEST_F(CliSim, CtrlCEndsTheSearch) {
  start();
  ASSERT_EQ(sim->control("unplug"), "OK unplugged");
  CliProcess p(args({"find"}));
  ASSERT_TRUE(p.waitForError("Search step 1 of 131", 30000)) << p.err();
  p.signal(SIGINT);
  EXPECT_EQ(p.finish(30000), kExitCancelled) << p.err();
  EXPECT_NE(p.err().find("Initialization operation aborted"), std::string::npos) << p.err();
  EXPECT_EQ(p.err().find("Search step 20 "), std::string::npos);
  EXPECT_TRUE(p.out().empty());
}

TEST_F(CliSim, PortAndUsageFailuresHaveTheirCodes) {
  start();
  // Each reason the port did not open: the box's second line and the report.
  const std::string file = dir.file("plain-file");
  writeFile(file, "not a port\n");
  const struct {
    std::string port;
    const char* reason;
    const char* result;
  } rows[] = {{dir.file("no-such-port"), "No such port: nothing answers to", "no such port"},
              {dir.path(), "is not a serial port.", "not a serial port"},
              {file, "is not a serial port.", "not a serial port"}};
  for (const auto& row : rows) {
    const std::string report = dir.file("report.json");
    const auto r = runCli({"read", "--port", row.port, "--report", report});
    EXPECT_EQ(r.code, kExitPortFailed) << r.err;
    EXPECT_NE(r.err.find("Please check no other application is using the port or the right port "
                         "is selected\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(row.reason), std::string::npos) << r.err;
    EXPECT_NE(kx::test::readFile(report).find(std::string("\"result\":\"") + row.result + "\""),
              std::string::npos)
        << kx::test::readFile(report);
  }
  const auto usage = runCli({"read"});
  EXPECT_EQ(usage.code, kExitUsage);
  EXPECT_NE(usage.err.find("needs --port"), std::string::npos);
  const auto help = runCli({"--help"});
  EXPECT_EQ(help.code, kExitOk);
  EXPECT_NE(help.out.find("Exit codes:"), std::string::npos);
  const auto log = runCli(args({"read", "--log", dir.file("no-dir/trace.txt")}));
  EXPECT_EQ(log.code, kExitFileError);
}

TEST_F(CliSim, OldFirmwareIsRefused) {
  start({"--old-firmware"});
  const auto r = runCli(args({"read"}));
  EXPECT_EQ(r.code, kExitOldFirmware) << r.err;
  EXPECT_NE(r.err.find("old firmware"), std::string::npos);
}

TEST_F(CliSim, LogWritesTheTrace) {
  start();
  const std::string log = dir.file("trace.txt");
  const auto r = runCli(args({"send", "AT+VER", "--log", log}));
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const std::string trace = kx::test::readFile(log);
  EXPECT_EQ(trace.rfind("Setting debugFlag = TRUE\n", 0), 0u);
  EXPECT_NE(trace.find("UART: "), std::string::npos);
  EXPECT_NE(trace.find("AT+VER"), std::string::npos);
}

// Pairs adapter 1 with adapter 2, swapping them on the port when asked, as
// the person at the production line would.
TEST_F(CliSim, PairAndUnpairSwapAdaptersWhenAsked) {
  start({"--adapters", "2"});
  {
    CliProcess p(args({"pair"}));
    ASSERT_TRUE(p.waitForError("Connect Device 2 to " + sim->ptyPath() + " and then Press OK",
                               30000))
        << p.err();
    ASSERT_EQ(sim->control("plug 2"), "OK plugged 2");
    p.writeInput("\n");
    const std::size_t mark = p.err().size();
    ASSERT_TRUE(p.waitForError("Connect Device 1 to", 30000, mark)) << p.err();
    ASSERT_EQ(sim->control("plug 1"), "OK plugged 1");
    p.writeInput("ok\n");
    EXPECT_EQ(p.finish(60000), kExitOk) << p.err();
    EXPECT_NE(p.err().find("Pairing completed successfully"), std::string::npos);
    EXPECT_EQ(p.out(), "Local device 0012-6F-100001 bonded to 0012-6F-100002\n");
  }
  EXPECT_EQ(sim->control("get 1 bond"), "OK 0012-6F-100002");
  EXPECT_EQ(sim->control("get 2 bond"), "OK 0012-6F-100001");
  EXPECT_EQ(sim->control("get 1 role"), "OK master");
  // The paired master connects to its slave by itself and goes into data
  // mode; for the unpairing it is back in command mode, as after a restart
  // with auto-connect off.
  ASSERT_EQ(sim->control("set 1 acon off"), "OK");
  sim->control("event disconnect 1");
  {
    CliProcess p(args({"unpair"}));
    ASSERT_TRUE(p.waitForError("Connect Device 2 to", 30000)) << p.err();
    ASSERT_EQ(sim->control("plug 2"), "OK plugged 2");
    p.writeInput("\n");
    EXPECT_EQ(p.finish(60000), kExitOk) << p.err();
    EXPECT_NE(p.err().find("Unpairing completed successfully"), std::string::npos);
  }
  EXPECT_EQ(sim->control("get 1 bond"), "OK 0000-00-000000");
  EXPECT_EQ(sim->control("get 2 bond"), "OK 0000-00-000000");
}

TEST_F(CliSim, CancelledSwapQuestionEndsThePairing) {
  start({"--adapters", "2"});
  for (const char* answer : {"c\n", ""}) {  // typed Cancel; no input at all
    CliProcess p(args({"pair"}));
    ASSERT_TRUE(p.waitForError("Connect Device 2 to", 30000)) << p.err();
    p.writeInput(answer);
    p.closeInput();
    EXPECT_EQ(p.finish(30000), kExitCancelled) << p.err();
    EXPECT_NE(p.err().find("Pairing Procedure aborted"), std::string::npos);
  }
  EXPECT_EQ(sim->control("get 1 bond"), "OK 0000-00-000000");
}

// The radio side, each step its own run as a script would do it: inquiry,
// connect, the remote adapter's speed, disconnect. The runs after the first
// find the adapter in data mode and escape it before anything else.
TEST_F(CliSim, RadioCommandsEachInTheirOwnRun) {
  start({"--inquiry-ms", "300"});
  ASSERT_EQ(sim->control("set 1 role master"), "OK");
  auto r = runCli(args({"inquire", "--json"}));
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out.find("{\"name\":\"Remote Device 1\",\"address\":\"0023-45-B00001\""), 0u)
      << r.out;
  EXPECT_EQ(r.out.find("Inquiry"), std::string::npos) << "devices only";

  r = runCli(args({"connect", "0023-45-B00001"}));
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out, "connected 0023-45-B00001\n");
  EXPECT_EQ(sim->control("get 1 mode"), "OK data");

  r = runCli(args({"remote", "--remote-baud", "115200", "--yes"}));
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.err.find("back in command mode"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Search step"), std::string::npos) << "no settings search";
  for (const char* line : {"Handshake Complete...\n", "Remote Device Baud rate changed.\n",
                           "Remote Access Mode Exited.\n"})
    EXPECT_NE(r.err.find(line), std::string::npos) << line;
  EXPECT_EQ(sim->control("get 2 baud"), "OK 115200");

  // A run in between leaves the adapter in command mode with its link up:
  // the handshake finds the link.
  ASSERT_EQ(runCli(args({"read"})).code, kExitOk);
  r = runCli(args({"remote", "--remote-baud", "57600", "--yes"}));
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.err.find("No link seen in this run"), std::string::npos) << r.err;
  EXPECT_EQ(sim->control("get 2 baud"), "OK 57600");

  r = runCli(args({"disconnect"}));
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out, "disconnected\n");
  EXPECT_EQ(sim->control("get 1 peer"), "OK none");
  // No link left: said at once, not after the whole time-out.
  r = runCli(args({"disconnect", "--timeout", "600"}));
  EXPECT_EQ(r.code, kExitLinkFailed);
  EXPECT_NE(r.err.find("not connected"), std::string::npos) << r.err;
  // Nor for remote, which says what to run and leaves the adapter in
  // command mode.
  r = runCli(args({"remote", "--remote-baud", "57600", "--yes"}));
  EXPECT_EQ(r.code, kExitLinkFailed);
  EXPECT_NE(r.err.find("not connected: the adapter has no link"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("kx627-cli connect --port "), std::string::npos) << r.err;
  EXPECT_EQ(sim->control("get 1 mode"), "OK command");

  // Nobody answers at this address.
  r = runCli(args({"connect", "0023-45-B0000F"}));
  EXPECT_EQ(r.code, kExitLinkFailed);
  EXPECT_NE(r.err.find("Local Device failed to connect to remote device.  Attempt Fail!!"),
            std::string::npos)
      << r.err;
}

// Names and inquiry results that hold an event's words are values: only a
// line of an event's whole form is an event.
TEST_F(CliSim, LookAlikeNamesAreReadAndListedExactly) {
  start({"--inquiry-ms", "300"});
  ASSERT_EQ(sim->control("set 1 role master"), "OK");
  ASSERT_EQ(sim->control("set 1 name CONNECTOR-7"), "OK");
  ASSERT_EQ(sim->control("set 2 name BT-CONNECT"), "OK");
  ASSERT_EQ(sim->control("set 3 name Inquiry End"), "OK");
  auto r = runCli(args({"read", "--json"}));
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find("\"Name\":\"CONNECTOR-7\""), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("connected to remote device"), std::string::npos) << r.err;

  r = runCli(args({"inquire"}));
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out.find("BT-CONNECT "), 0u) << r.out;
  EXPECT_NE(r.out.find("\nInquiry End          "), std::string::npos) << "a device named so";
  EXPECT_NE(r.out.find("\nInquiry End\n"), std::string::npos) << "the closing line";
  EXPECT_EQ(r.err.find("connected to remote device"), std::string::npos) << r.err;
}

// An adapter pulled out mid-command ends the command at once, without a
// busy wait, with an exit code of its own.
TEST_F(CliSim, PulledAdapterEndsTheCommand) {
  start({"--inquiry-ms", "60000"});
  ASSERT_EQ(sim->control("set 1 role master"), "OK");
  const std::string port = sim->ptyPath();
  CliProcess cli(args({"inquire"}));
  ASSERT_TRUE(cli.waitForError("Inquiry started", 30000)) << cli.err();
  sim.reset();  // the adapter goes, and its port with it
  EXPECT_EQ(cli.finish(30000), kExitDeviceLost) << cli.err();
  EXPECT_NE(cli.err().find("the adapter on " + port + " went away"), std::string::npos)
      << cli.err();
  EXPECT_LT(cli.cpuSeconds(), 1.0);
}

// Results that cannot be written are no success.
TEST_F(CliSim, UnwritableOutputIsAFailure) {
  start();
  const std::string report = dir.file("report.json");
  const std::string cli = kx::test::cliPath() + " read --port " + sim->ptyPath() +
                          " --time-scale " + kScale + " --report " + report;
  const auto full = kx::test::runProgram("/bin/sh", {"-c", "exec " + cli + " >/dev/full"});
  EXPECT_EQ(full.code, kExitFileError) << full.err;
  EXPECT_NE(full.err.find("cannot write the results"), std::string::npos) << full.err;
  const auto fullReport = runCli(args({"read", "--report", "/dev/full"}));
  EXPECT_EQ(fullReport.code, kExitFileError) << fullReport.err;
  EXPECT_NE(fullReport.err.find("cannot write the report /dev/full"), std::string::npos);
}

TEST_F(CliSim, DryRunPrintsTheCommandsAndSendsNone) {
  start();
  ASSERT_EQ(sim->control("set 1 name Line-1"), "OK");
  const std::string file = dir.file("line.txt");
  writeFile(file, "Name = Line-2\nBaud = 19200\nEchoMode = On\nPin = 1234\n");
  auto r = runCli(args({"apply", "--dry-run", file}));
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out, "AT+NAME=Line-2\nAT+ECHO+\n") << "the PIN 1234 is the adapter's already";
  EXPECT_EQ(sim->control("get 1 name"), "OK Line-1");
  // An adapter that already holds the file's values: nothing to print.
  writeFile(file, "Name = Line-1\n");
  r = runCli(args({"apply", "--dry-run", file}));
  EXPECT_EQ(r.code, kExitOk);
  EXPECT_EQ(r.out, "");
}

TEST_F(CliSim, ResetRestoresFactorySettingsAndReadsThemBack) {
  start({"--baud", "57600"});
  ASSERT_EQ(sim->control("set 1 name Line-7"), "OK");
  const auto r = runCli(args({"reset", "--baud", "57600"}));
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find("Baud = 19200\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Name = KX627-1\n"), std::string::npos) << r.out;
  EXPECT_EQ(sim->control("get 1 baud"), "OK 19200");
}

// A production line: one file, several fixtures at once. One adapter refuses
// every probe; the others are programmed all the same, each line carries its
// port, and the report has one object per port.
TEST_F(CliSim, ApplyOnSeveralPortsAtOnce) {
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (int i = 0; i < 3; ++i) {
    sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{}));
    ASSERT_TRUE(sims.back()->started());
  }
  ASSERT_EQ(sims[1]->control("set 1 refuse AT+RESP?"), "OK");
  const std::string file = dir.file("line.txt"), report = dir.file("report.json");
  writeFile(file, "Name = Line-9\n");
  const auto r = runCli({"apply", "--port", sims[0]->ptyPath(), "--port", sims[1]->ptyPath(),
                         "--port", sims[2]->ptyPath(), "--time-scale", kScale, "--report", report,
                         file});
  EXPECT_EQ(r.code, kExitNotFound) << "the failing port's code";
  EXPECT_EQ(sims[0]->control("get 1 name"), "OK Line-9");
  EXPECT_EQ(sims[2]->control("get 1 name"), "OK Line-9");
  EXPECT_NE(r.out.find(sims[0]->ptyPath() + ": Name: ok (Line-9)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find(sims[1]->ptyPath() + ": Initializion failed."), std::string::npos) << r.err;
  const std::string lines = kx::test::readFile(report);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3) << lines;
  EXPECT_NE(lines.find("\"port\":\"" + sims[1]->ptyPath() +
                       "\",\"address\":\"\",\"name\":\"\",\"result\":\"not found\",\"exit\":4"),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("\"name\":\"Line-9\",\"result\":\"ok\",\"exit\":0"), std::string::npos);
}

}  // namespace
