// The simulated adapter as a terminal program sees it: adapter-sim on a
// pseudo-terminal, raw termios, the bytes on the wire. Command forms, answer
// framing, echo, responses off, line settings, factory reset, bad input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_device.h"
#include "support/sim_process.h"

namespace {

using kx::test::PtyTerminal;
using kx::test::SimProcess;

std::vector<std::string> fastArgs(std::vector<std::string> extra = {}) {
  std::vector<std::string> a{"--inquiry-ms", "400", "--restart-ms", "200", "--connect-ms", "50",
                             "--guard-ms", "100"};
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

class SimTerminal : public ::testing::Test {
 protected:
  void start(std::vector<std::string> extra = {}) {
    sim = std::make_unique<SimProcess>(fastArgs(std::move(extra)));
    ASSERT_TRUE(sim->started()) << "could not start " << kx::test::adapterSimPath();
    term = std::make_unique<PtyTerminal>(sim->ptyPath());
    ASSERT_TRUE(term->isOpen());
  }
  bool waitControl(const std::string& query, const std::string& expected, int timeoutMs = 3000) {
    return sim->waitControl(query, expected, timeoutMs);
  }
  // Polls with "AT\r" until the adapter answers (after a restart).
  bool waitForAnswer(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      term->send("AT\r");
      if (term->readUntil("OK\r\n", 150).find("OK\r\n") != std::string::npos) return true;
    }
    return false;
  }
  std::unique_ptr<SimProcess> sim;
  std::unique_ptr<PtyTerminal> term;
};

struct Exchange {
  const char* command;
  const char* answer;
};

// Every command form of a current-firmware adapter, in an order that also
// shows each set command's effect on the next query.
const Exchange kCommandForms[] = {
    {"AT\r", "\r\nOK\r\n"},
    {"AT+VER\r", "\r\nv6.80\r\nOK\r\n"},
    {"ATI0\r", "\r\nERROR\r\n"},
    {"AT+RESP?\r", "\r\nRESP+\r\nOK\r\n"},
    {"at+resp?\r", "\r\nRESP+\r\nOK\r\n"},
    {"AT+ECHO?\r", "\r\nECHO-\r\nOK\r\n"},
    {"AT+ROLE?\r", "\r\nROLES\r\nOK\r\n"},
    {"AT+ROLEM\r", "\r\nOK\r\n"},
    {"AT+ROLE?\r", "\r\nROLEM\r\nOK\r\n"},
    {"AT+ROLES\r", "\r\nOK\r\n"},
    {"AT+ROLE?\r", "\r\nROLES\r\nOK\r\n"},
    {"AT+ADDR?\r", "\r\n0012-6F-100001\r\nOK\r\n"},
    {"AT+NAME?\r", "\r\nKX627-1\r\nOK\r\n"},
    {"AT+NAME=Lab Bench\r", "\r\nOK\r\n"},
    {"AT+NAME?\r", "\r\nLab Bench\r\nOK\r\n"},
    {"AT+NAME=\r", "\r\nERROR\r\n"},
    {"AT+NAME=ABCDEFGHIJKLMNOPQRST\r", "\r\nERROR\r\n"},
    {"AT+PIN?\r", "\r\n1234\r\nOK\r\n"},
    {"AT+PIN=9876\r", "\r\nOK\r\n"},
    {"AT+PIN?\r", "\r\n9876\r\nOK\r\n"},
    {"AT+PIN-\r", "\r\nOK\r\n"},
    {"AT+PIN?\r", "\r\nNULL\r\nOK\r\n"},
    {"AT+PIN=12 4\r", "\r\nERROR\r\n"},
    {"AT+BOND?\r", "\r\n0000-00-000000\r\nOK\r\n"},
    {"AT+BOND=00126f100002\r", "\r\nOK\r\n"},
    {"AT+BOND?\r", "\r\n0012-6F-100002\r\nOK\r\n"},
    {"AT+BOND=12345\r", "\r\nERROR\r\n"},
    {"AT+BOND-\r", "\r\nOK\r\n"},
    {"AT+BOND?\r", "\r\n0000-00-000000\r\nOK\r\n"},
    {"AT+DCOV?\r", "\r\nDCOV+\r\nOK\r\n"},
    {"AT+DCOV-\r", "\r\nOK\r\n"},
    {"AT+DCOV?\r", "\r\nDCOV-\r\nOK\r\n"},
    {"AT+ACON?\r", "\r\nACON-\r\nOK\r\n"},
    {"AT+ACON+\r", "\r\nOK\r\n"},
    {"AT+ACON?\r", "\r\nACON+\r\nOK\r\n"},
    {"AT+ESC?\r", "\r\nESC+\r\nOK\r\n"},
    {"AT+ESC-\r", "\r\nOK\r\n"},
    {"AT+ESC?\r", "\r\nESC-\r\nOK\r\n"},
    {"AT+RCFG?\r", "\r\nRCFG+\r\nOK\r\n"},
    {"AT+RCFG-\r", "\r\nOK\r\n"},
    {"AT+RCFG?\r", "\r\nRCFG-\r\nOK\r\n"},
    {"AT+SLEEP?\r", "\r\nSLEEP-\r\nOK\r\n"},
    {"AT+SLEEP+\r", "\r\nOK\r\n"},
    {"AT+SLEEP?\r", "\r\nSLEEP+\r\nOK\r\n"},
    {"AT+BAUD?\r", "\r\nBAUD14\r\nOK\r\n"},
    {"AT+STOP?\r", "\r\nSTOP1\r\nOK\r\n"},
    {"AT+PAR?\r", "\r\nPAR0\r\nOK\r\n"},
    {"AT+FLOW?\r", "\r\nFLOW-\r\nOK\r\n"},
    {"AT+MODEM?\r", "\r\nMODEM-\r\nOK\r\n"},
    {"AT+MODEML\r", "\r\nOK\r\n"},
    {"AT+MODEM?\r", "\r\nMODEML\r\nOK\r\n"},
    {"AT+MODEMR\r", "\r\nOK\r\n"},
    {"AT+MODEM?\r", "\r\nMODEMR\r\nOK\r\n"},
    {"AT+MODEMX\r", "\r\nERROR\r\n"},
    {"AT+RSERVICE?\r", "\r\nNULL\r\nOK\r\n"},
    {"AT+RSERVICE=SPP Link\r", "\r\nOK\r\n"},
    {"AT+RSERVICE?\r", "\r\nSPP Link\r\nOK\r\n"},
    {"AT+RSERVICE-\r", "\r\nOK\r\n"},
    {"AT+RSERVICE?\r", "\r\nNULL\r\nOK\r\n"},
    {"AT+RCOD?\r", "\r\n000000\r\nOK\r\n"},
    {"AT+RCOD=1F0500\r", "\r\nOK\r\n"},
    {"AT+RCOD?\r", "\r\n1F0500\r\nOK\r\n"},
    {"AT+RCOD=XYZ\r", "\r\nERROR\r\n"},
    {"AT+RCOD-\r", "\r\nOK\r\n"},
    {"AT+RCOD?\r", "\r\n000000\r\nOK\r\n"},
    {"AT+FIND-\r", "\r\nOK\r\n"},
    {"AT+DROP\r", "\r\nOK\r\n"},
    {"AT+RSSI\r", "\r\nERROR\r\n"},
    {"AT+UPGRADE\r", "\r\nOK\r\n"},
    {"AT+CONN=12\r", "\r\nERROR\r\n"},
    {"AT+BAUD99\r", "\r\nERROR\r\n"},
    {"AT+BAUD9\r", "\r\nERROR\r\n"},
    {"AT+STOP3\r", "\r\nERROR\r\n"},
    {"AT+PAR3\r", "\r\nERROR\r\n"},
    {"AT+FLOW?X\r", "\r\nERROR\r\n"},
    {"ATZ\r", "\r\nERROR\r\n"},
    {"AT \r", "\r\nERROR\r\n"},
    {"AT+FOO\r", "\r\nERROR\r\n"},
};

TEST_F(SimTerminal, AnswersEveryCommandFormInTheAdaptersFraming) {
  start();
  for (const Exchange& e : kCommandForms)
    EXPECT_EQ(term->ask(e.command, e.answer), e.answer) << "command " << e.command;
}

TEST_F(SimTerminal, EnqListsTheSettingsAsValueLinesThenOk) {
  start();
  term->send("AT+ENQ\r");
  const std::string answer = term->readUntil("OK\r\n");
  EXPECT_EQ(answer.rfind("\r\nNAME=KX627-1\r\nADDR=0012-6F-100001\r\n", 0), 0u) << answer;
  EXPECT_NE(answer.find("\r\nBAUD14\r\n"), std::string::npos);
  EXPECT_EQ(answer.substr(answer.size() - 6), "\r\nOK\r\n");
}

TEST_F(SimTerminal, FirmwareVersionGatesOptionalCommands) {
  struct Row {
    const char* version;
    const char* command;
    bool accepted;
  };
  const Row rows[] = {
      {"v6.54.c", "AT+MODEM?\r", false},   {"v6.54.c", "AT+BAUD19\r", false},
      {"v6.54.c", "AT+RSERVICE?\r", false}, {"v6.52", "AT+RSERVICE?\r", true},
      {"v6.52", "AT+RCOD?\r", false},       {"v6.52", "AT+MODEM?\r", true},
      {"v4.51", "AT+BAUD20\r", false},      {"v4.51", "AT+BAUD18\r", true},
  };
  for (const Row& r : rows) {
    start({"--version", r.version, "--flow", "on"});
    term->setLine(19200, 'N', 1, true);
    term->send(r.command);
    const std::string answer = term->readUntil(r.accepted ? "OK\r\n" : "ERROR\r\n");
    if (r.accepted)
      EXPECT_EQ(answer.substr(answer.size() - 6), "\r\nOK\r\n") << r.version << " " << r.command;
    else
      EXPECT_EQ(answer, "\r\nERROR\r\n") << r.version << " " << r.command;
  }
}

TEST_F(SimTerminal, EchoOnReturnsTheCommandTextFirst) {
  start({"--echo", "on"});
  EXPECT_EQ(term->ask("AT+STOP?\r", "AT+STOP?\r\r\nSTOP1\r\nOK\r\n"), "AT+STOP?\r\r\nSTOP1\r\nOK\r\n");
  EXPECT_EQ(term->ask("AT+ECHO-\r", "AT+ECHO-\r\r\nOK\r\n"), "AT+ECHO-\r\r\nOK\r\n");
  EXPECT_EQ(term->ask("AT+ECHO?\r", "\r\nECHO-\r\nOK\r\n"), "\r\nECHO-\r\nOK\r\n");
}

TEST_F(SimTerminal, RefusedCommandIsAnsweredWithErrorUntilCleared) {
  start();
  EXPECT_EQ(sim->control("set 1 refuse at+resp?"), "OK");
  EXPECT_EQ(sim->control("get 1 refuse"), "OK AT+RESP?");
  EXPECT_EQ(term->ask("AT+RESP?\r", "\r\nERROR\r\n"), "\r\nERROR\r\n");
  EXPECT_EQ(term->ask("AT+STOP?\r", "\r\nSTOP1\r\nOK\r\n"), "\r\nSTOP1\r\nOK\r\n");  // others as before
  EXPECT_EQ(sim->control("set 1 refuse none"), "OK");
  EXPECT_EQ(term->ask("AT+RESP?\r", "\r\nRESP+\r\nOK\r\n"), "\r\nRESP+\r\nOK\r\n");
}

TEST_F(SimTerminal, ResponsesOffAnswerSetByCrLfAndQueryByItsValueLine) {
  start({"--resp", "off"});
  EXPECT_EQ(term->ask("AT+NAME=Quiet\r", "\r\n"), "\r\n");
  EXPECT_EQ(term->ask("AT+STOP?\r", "\r\nSTOP1\r\n"), "\r\nSTOP1\r\n");
  EXPECT_EQ(term->ask("AT+NAME?\r", "\r\nQuiet\r\n"), "\r\nQuiet\r\n");
  EXPECT_EQ(term->ask("AT+RESP?\r", "\r\nRESP-\r\n"), "\r\nRESP-\r\n");
  EXPECT_EQ(term->ask("AT+FOO\r", "\r\nERROR\r\n"), "\r\nERROR\r\n");
  // Switching responses on is answered in the new mode, off in the new mode.
  EXPECT_EQ(term->ask("AT+RESP+\r", "\r\nOK\r\n"), "\r\nOK\r\n");
  EXPECT_EQ(term->ask("AT+STOP?\r", "\r\nSTOP1\r\nOK\r\n"), "\r\nSTOP1\r\nOK\r\n");
  EXPECT_EQ(term->ask("AT+RESP-\r", "\r\n"), "\r\n");
  EXPECT_EQ(term->ask("AT+ESC?\r", "\r\nESC+\r\n"), "\r\nESC+\r\n");
}

TEST_F(SimTerminal, EchoAndResponsesOffTogether) {
  start({"--echo", "on", "--resp", "off"});
  EXPECT_EQ(term->ask("AT+SLEEP+\r", "AT+SLEEP+\r\r\n"), "AT+SLEEP+\r\r\n");
  EXPECT_EQ(term->ask("AT+SLEEP?\r", "AT+SLEEP?\r\r\nSLEEP+\r\n"), "AT+SLEEP?\r\r\nSLEEP+\r\n");
}

// The adapter drops what it cannot understand: after a command at wrong
// settings, the first bytes at the right settings are the answer to the next
// command, and the adapter's log holds only that command.
TEST_F(SimTerminal, StaysSilentWhenThePcRunsOtherLineSettings) {
  struct Row {
    const char* what;
    std::vector<std::string> adapter;
    int baud;
    char parity;
    int stop;
    bool flow;
  };
  const Row rows[] = {
      {"speed", {}, 9600, 'N', 1, false},
      {"stop bits", {}, 19200, 'N', 2, false},
      {"flow control", {}, 19200, 'N', 1, true},
      {"odd parity on the PC", {}, 19200, 'O', 1, false},
      {"no parity against odd", {"--parity", "odd"}, 19200, 'N', 1, false},
      {"flow off against on", {"--flow", "on"}, 19200, 'N', 1, false},
      {"two stop bits expected", {"--stop", "2", "--baud", "57600"}, 57600, 'N', 1, false},
  };
  for (const Row& r : rows) {
    start(r.adapter);
    ASSERT_TRUE(term->setLine(r.baud, r.parity, r.stop, r.flow));
    term->send("AT+RESP?\r");
    // The adapter must have taken (and dropped) the bytes before the PC re-tunes.
    ASSERT_TRUE(waitControl("get 1 dropped", "OK 9")) << r.what;
    // Back to the adapter's own settings.
    std::string baud = "19200";
    char parity = 'N';
    int stop = 1;
    bool flow = false;
    for (std::size_t i = 0; i + 1 < r.adapter.size(); i += 2) {
      if (r.adapter[i] == "--parity") parity = 'O';
      if (r.adapter[i] == "--flow") flow = true;
      if (r.adapter[i] == "--stop") stop = 2;
      if (r.adapter[i] == "--baud") baud = r.adapter[i + 1];
    }
    ASSERT_TRUE(term->setLine(std::stoi(baud), parity, stop, flow));
    EXPECT_EQ(term->ask("AT+NAME?\r", "\r\nKX627-1\r\nOK\r\n"), "\r\nKX627-1\r\nOK\r\n") << r.what;
    EXPECT_EQ(sim->control("received 1"), "OK 1 AT+NAME?\\r") << r.what;
  }
}

TEST_F(SimTerminal, OddParityAdapterAnswersAnOddParityPc) {
  start({"--parity", "odd", "--stop", "2", "--flow", "on", "--baud", "9600"});
  ASSERT_TRUE(term->setLine(9600, 'O', 2, true));
  EXPECT_EQ(term->ask("AT+PAR?\r", "\r\nPAR1\r\nOK\r\n"), "\r\nPAR1\r\nOK\r\n");
  EXPECT_EQ(term->ask("AT+STOP?\r", "\r\nSTOP2\r\nOK\r\n"), "\r\nSTOP2\r\nOK\r\n");
  EXPECT_EQ(term->ask("AT+FLOW?\r", "\r\nFLOW+\r\nOK\r\n"), "\r\nFLOW+\r\nOK\r\n");
  EXPECT_EQ(term->ask("AT+BAUD?\r", "\r\nBAUD13\r\nOK\r\n"), "\r\nBAUD13\r\nOK\r\n");
}

TEST_F(SimTerminal, LineSettingCommandsAreAcknowledgedAtTheOldSettingsThenTakeEffect) {
  start();
  struct Step {
    const char* command;
    int baud;
    char parity;
    int stop;
    bool flow;
  };
  const Step steps[] = {
      {"AT+BAUD17\r", 115200, 'N', 1, false},
      {"AT+STOP2\r", 115200, 'N', 2, false},
      {"AT+PAR1\r", 115200, 'O', 2, false},
      {"AT+FLOW+\r", 115200, 'O', 2, true},
      {"AT+BAUD10\r", 1200, 'O', 2, true},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(term->ask(s.command, "\r\nOK\r\n"), "\r\nOK\r\n") << s.command;
    ASSERT_TRUE(term->setLine(s.baud, s.parity, s.stop, s.flow)) << s.command << " " << errno;
    EXPECT_EQ(term->ask("AT\r", "\r\nOK\r\n"), "\r\nOK\r\n") << s.command;
  }
  EXPECT_EQ(term->ask("AT+BAUD?\r", "\r\nBAUD10\r\nOK\r\n"), "\r\nBAUD10\r\nOK\r\n");
  EXPECT_EQ(sim->control("get 1 baud"), "OK 1200");
  EXPECT_EQ(sim->control("get 1 parity"), "OK odd");
}

TEST_F(SimTerminal, OutputIsWithheldWhileThePcRunsOtherSettings) {
  start({"--adapters", "2"});
  ASSERT_EQ(term->ask("AT+ROLEM\r", "\r\nOK\r\n"), "\r\nOK\r\n");
  ASSERT_EQ(term->ask("AT+FIND?\r", "\r\nOK\r\n"), "\r\nOK\r\n");
  ASSERT_TRUE(term->setLine(9600));
  EXPECT_EQ(term->collectFor(700), "");  // the whole inquiry went by unheard
  ASSERT_TRUE(term->setLine(19200));
  EXPECT_EQ(term->ask("AT\r", "\r\nOK\r\n"), "\r\nOK\r\n");
}

TEST_F(SimTerminal, FactoryResetRestartsWithFactorySettings) {
  struct Row {
    const char* version;
    bool flowAfterReset;
  };
  for (const Row r : {Row{"v6.80", false}, Row{"v4.51", true}, Row{"v6.54.c", true}}) {
    start({"--version", r.version, "--baud", "115200", "--parity", "even", "--stop", "2"});
    ASSERT_TRUE(term->setLine(115200, 'E', 2, false));
    ASSERT_EQ(term->ask("AT+NAME=Custom\r", "\r\nOK\r\n"), "\r\nOK\r\n");
    ASSERT_EQ(term->ask("AT+ROLEM\r", "\r\nOK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(term->ask("AT+RESET\r", "\r\nOK\r\n"), "\r\nOK\r\n") << r.version;
    EXPECT_EQ(sim->control("get 1 mode"), "OK restarting");
    ASSERT_TRUE(term->setLine(19200, 'N', 1, r.flowAfterReset));
    ASSERT_TRUE(waitForAnswer(3000)) << r.version;
    EXPECT_EQ(term->ask("AT+BAUD?\r", "\r\nBAUD14\r\nOK\r\n"), "\r\nBAUD14\r\nOK\r\n");
    EXPECT_EQ(term->ask("AT+PAR?\r", "\r\nPAR0\r\nOK\r\n"), "\r\nPAR0\r\nOK\r\n");
    EXPECT_EQ(term->ask("AT+STOP?\r", "\r\nSTOP1\r\nOK\r\n"), "\r\nSTOP1\r\nOK\r\n");
    const std::string flow = r.flowAfterReset ? "\r\nFLOW+\r\nOK\r\n" : "\r\nFLOW-\r\nOK\r\n";
    EXPECT_EQ(term->ask("AT+FLOW?\r", flow), flow) << r.version;
    EXPECT_EQ(term->ask("AT+NAME?\r", "\r\nKX627-1\r\nOK\r\n"), "\r\nKX627-1\r\nOK\r\n");
    EXPECT_EQ(term->ask("AT+ROLE?\r", "\r\nROLES\r\nOK\r\n"), "\r\nROLES\r\nOK\r\n");
  }
}

TEST_F(SimTerminal, OldFirmwareAnswersAti0AtItsFixedSettings) {
  start({"--old-firmware", "--version", "v4.51", "--baud", "115200"});
  // Its settings are fixed: the --baud option does not apply.
  ASSERT_TRUE(term->setLine(19200, 'N', 1, true));
  // Sent one byte at a time, as the tool's old-firmware check does.
  for (char c : std::string("ATI0\r")) term->send(std::string(1, c));
  EXPECT_EQ(term->readN(13), "\r\nv4.51\r\nOK\r\n");
  EXPECT_EQ(term->ask("AT+FLOW?\r", "\r\nFLOW+\r\nOK\r\n"), "\r\nFLOW+\r\nOK\r\n");
}

TEST_F(SimTerminal, BadInputNeverStopsTheAdapter) {
  start();
  // Overlong commands are refused as a whole, and the name stays.
  EXPECT_EQ(term->ask("AT+NAME=" + std::string(200, 'x') + "\r", "\r\nERROR\r\n"), "\r\nERROR\r\n");
  EXPECT_EQ(term->ask("AT+NAME?\r", "\r\nKX627-1\r\nOK\r\n"), "\r\nKX627-1\r\nOK\r\n");
  // Every byte value, many times, in one burst, then a clean command.
  std::string noise;
  uint32_t x = 12345;
  for (int i = 0; i < 20000; ++i) {
    x = x * 1103515245u + 12345u;
    noise += static_cast<char>((x >> 16) & 0xFF);
  }
  noise += std::string(256, '\0') + "+++" + std::string(100, '\r') + "AT+\xFF\xFE\r";
  term->send(noise);
  // The burst's lines are refused; a marker set afterwards shows the adapter
  // worked through all of it.
  term->send("\rAT+NAME=Marker\rAT+NAME?\r");
  const std::string all = term->readUntil("\r\nMarker\r\nOK\r\n", 5000);
  EXPECT_NE(all.find("\r\nERROR\r\n"), std::string::npos);
  EXPECT_NE(all.find("\r\nMarker\r\nOK\r\n"), std::string::npos);
  EXPECT_EQ(term->ask("AT+ADDR?\r", "\r\n0012-6F-100001\r\nOK\r\n"), "\r\n0012-6F-100001\r\nOK\r\n");
  EXPECT_EQ(sim->control("get 1 name"), "OK Marker");
}

TEST_F(SimTerminal, PacingAndLatencyDelayTheAnswer) {
  start({"--pace", "--baud", "1200", "--latency", "100"});
  ASSERT_TRUE(term->setLine(1200));
  const auto t0 = std::chrono::steady_clock::now();
  // 15 bytes at 1200 bit/s with 10 bits each take 125 ms on the wire.
  EXPECT_EQ(term->ask("AT+NAME?\r", "\r\nKX627-1\r\nOK\r\n"), "\r\nKX627-1\r\nOK\r\n");
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t0)
                      .count();
  EXPECT_GE(ms, 200);
  EXPECT_LT(ms, 3000);
}

// The tool's own port layer on the simulator's pty: re-applying a parity the
// pty already shows must not fail (Linux refuses such a request with EINVAL).
TEST(SimPty, PosixSerialDeviceReappliesParitySettings) {
  SimProcess sim(fastArgs({"--parity", "odd"}));
  ASSERT_TRUE(sim.started());
  kx::PosixSerialDevice port;
  ASSERT_EQ(port.open(sim.ptyPath()), 0);
  for (kx::Parity p : {kx::Parity::Odd, kx::Parity::Odd, kx::Parity::Even, kx::Parity::Even,
                       kx::Parity::None, kx::Parity::Odd}) {
    EXPECT_EQ(port.configure({19200, p, 1, false}), 0) << static_cast<int>(p);
  }
  // The adapter (odd parity) answers the port at odd parity.
  const uint8_t probe[] = {'A', 'T', '\r'};
  ASSERT_EQ(port.write(probe, sizeof probe, 1000), 0);
  std::string got;
  for (int i = 0; i < 20 && got.size() < 6; ++i) {
    uint8_t buf[64];
    std::size_t n = 0;
    ASSERT_EQ(port.read(buf, sizeof buf, 100, &n), 0);
    got.append(reinterpret_cast<const char*>(buf), n);
  }
  EXPECT_EQ(got, "\r\nOK\r\n");
}

}  // namespace
