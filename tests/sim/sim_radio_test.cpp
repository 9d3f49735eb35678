// The simulator's radio world seen from a terminal on its pseudo-terminal:
// inquiry, connect and disconnect on both ends, data mode and escape, the
// remote-access byte protocol, swapping adapters, and the control protocol.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim/world.h"
#include "support/sim_process.h"

namespace {

using kx::test::PtyTerminal;
using kx::test::SimProcess;

constexpr int kGuardMs = 100;

class SimRadio : public ::testing::Test {
 protected:
  void start(std::vector<std::string> extra = {}) {
    std::vector<std::string> a{"--inquiry-ms", "400", "--restart-ms", "200", "--connect-ms", "50",
                               "--guard-ms", std::to_string(kGuardMs), "--adapters", "2"};
    a.insert(a.end(), extra.begin(), extra.end());
    sim = std::make_unique<SimProcess>(a);
    ASSERT_TRUE(sim->started()) << "could not start " << kx::test::adapterSimPath();
    term = std::make_unique<PtyTerminal>(sim->ptyPath());
    ASSERT_TRUE(term->isOpen());
  }
  bool waitControl(const std::string& query, const std::string& expected, int timeoutMs = 3000) {
    return sim->waitControl(query, expected, timeoutMs);
  }
  void ok(const char* command) { ASSERT_EQ(term->ask(command, "\r\nOK\r\n"), "\r\nOK\r\n") << command; }
  // The silence the escape sequence needs before "+++": a minimum the
  // protocol asks for, not a wait for something to happen.
  void guard() { std::this_thread::sleep_for(std::chrono::milliseconds(kGuardMs * 2)); }
  void connectTo(const char* twelveHex, const std::string& dashed) {
    ok((std::string("AT+CONN=") + twelveHex + "\r").c_str());
    EXPECT_EQ(term->readUntil("\"\r\n"), "\r\nCONNECT \"" + dashed + "\"\r\n");
  }
  std::unique_ptr<SimProcess> sim;
  std::unique_ptr<PtyTerminal> term;
};

std::vector<std::string> splitLines(const std::string& s) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t nl; (nl = s.find("\r\n", at)) != std::string::npos; at = nl + 2)
    lines.push_back(s.substr(at, nl - at));
  return lines;
}

TEST(SimFormat, InquiryLinePutsTheAddressAtColumn34) {
  for (const std::string name : {"", "A", "KX627-1", "A very long device name indeed"}) {
    for (int rssi : {-1, -50, -99, -120, 5}) {
      const std::string line = kx::sim::inquiryLine(name, "001F00", rssi, "0012-6F-100001");
      EXPECT_EQ(line.substr(34), "0012-6F-100001") << name << " " << rssi;
    }
  }
}

TEST(SimFormat, LineSettingsMatchTellsPtyParityApartOnlyByOdd) {
  using kx::LineSettings;
  using kx::Parity;
  const LineSettings base{19200, Parity::None, 1, false};
  struct Row {
    LineSettings pc;
    bool parityVisible;
    bool match;
  };
  const Row rows[] = {
      {{19200, Parity::None, 1, false}, true, true},  {{9600, Parity::None, 1, false}, true, false},
      {{19200, Parity::None, 2, false}, true, false}, {{19200, Parity::None, 1, true}, true, false},
      {{19200, Parity::Even, 1, false}, true, false}, {{19200, Parity::Even, 1, false}, false, true},
      {{19200, Parity::Odd, 1, false}, false, false}, {{19200, Parity::Odd, 1, false}, true, false},
  };
  for (const Row& r : rows) EXPECT_EQ(kx::sim::lineSettingsMatch(base, r.pc, r.parityVisible), r.match);
}

TEST(SimFormat, EscapeTokenKeepsOneTokenPerCommand) {
  EXPECT_EQ(kx::sim::escapeToken("AT+NAME=a b\r"), "AT+NAME=a\\x20b\\r");
  EXPECT_EQ(kx::sim::escapeToken(std::string("\\\n\0\xff", 4)), "\\\\\\n\\x00\\xFF");
}

TEST_F(SimRadio, InquiryListsDiscoverableDevicesWithTheAddressAt34) {
  start();
  EXPECT_EQ(term->ask("AT+FIND?\r", "\r\nERROR\r\n"), "\r\nERROR\r\n");  // a slave may not inquire
  ok("AT+ROLEM\r");
  ok("AT+ACON+\r");
  EXPECT_EQ(term->ask("AT+FIND?\r", "\r\nERROR\r\n"), "\r\nERROR\r\n");  // nor a master with auto-connect
  ok("AT+ACON-\r");
  ASSERT_EQ(sim->control("set 4 dcov off"), "OK");  // Remote Device 2 hides
  ok("AT+FIND?\r");
  const std::string out = term->readUntil("Inquiry End\r\n", 3000);
  // Result lines share their CR LF framing; the first opens with one.
  ASSERT_EQ(out.rfind("\r\n", 0), 0u) << out;
  const std::vector<std::string> lines = splitLines(out.substr(2));
  ASSERT_EQ(lines.size(), 3u) << out;
  EXPECT_EQ(lines[0].substr(34, 14), "0012-6F-100002");
  EXPECT_EQ(lines[0].rfind("KX627-2", 0), 0u);
  EXPECT_EQ(lines[1].substr(34, 14), "0023-45-B00001");
  EXPECT_EQ(lines[2], "Inquiry End");
  EXPECT_EQ(sim->control("get 1 inquiry"), "OK off");
}

TEST_F(SimRadio, CancelledInquiryEndsWithoutMoreLines) {
  start();
  ok("AT+ROLEM\r");
  ok("AT+FIND?\r");
  EXPECT_EQ(sim->control("get 1 inquiry"), "OK on");
  ok("AT+FIND-\r");
  EXPECT_EQ(sim->control("get 1 inquiry"), "OK off");
  EXPECT_EQ(term->collectFor(600), "");
}

TEST_F(SimRadio, ConnectDataModeEscapeAndDropOnBothEnds) {
  start();
  connectTo("00126F100002", "0012-6F-100002");
  EXPECT_EQ(sim->control("get 2 peer"), "OK 0012-6F-100001");
  EXPECT_EQ(sim->control("get 1 mode"), "OK data");
  EXPECT_EQ(sim->control("get 2 mode"), "OK data");
  // Adapter 2 has remote configuration on; switch it off to carry plain data.
  ASSERT_EQ(sim->control("set 2 rcfg off"), "OK");
  term->send("hello AT+NAME?\r");
  EXPECT_TRUE(waitControl("get 2 data", "OK hello\\x20AT+NAME?\\r"));
  ASSERT_EQ(sim->control("send 2 from\\x20peer\\r\\n"), "OK");
  EXPECT_EQ(term->readUntil("\r\n"), "from peer\r\n");
  // "+++" without the guard silence is data.
  term->send("x+++");
  EXPECT_TRUE(waitControl("get 2 data", "OK hello\\x20AT+NAME?\\rx+++"));
  guard();
  EXPECT_EQ(term->ask("+++", "\r\nOK\r\n"), "\r\nOK\r\n");
  EXPECT_EQ(sim->control("get 1 mode"), "OK command");
  EXPECT_EQ(term->ask("AT+RSSI\r", "\r\n-50\r\nOK\r\n"), "\r\n-50\r\nOK\r\n");
  ok("AT+AUTO\r");
  EXPECT_EQ(sim->control("get 1 mode"), "OK data");
  guard();
  EXPECT_EQ(term->ask("+++", "\r\nOK\r\n"), "\r\nOK\r\n");
  ok("AT+DROP\r");
  EXPECT_EQ(term->readUntil("\"\r\n"), "\r\nDISCONNECT \"0012-6F-100002\"\r\n");
  EXPECT_EQ(sim->control("get 2 peer"), "OK none");
  EXPECT_EQ(sim->control("get 2 mode"), "OK command");
}

TEST_F(SimRadio, EscapeDisabledCarriesPlusesAsData) {
  start();
  ok("AT+ESC-\r");
  connectTo("002345B00001", "0023-45-B00001");
  ASSERT_EQ(sim->control("set 3 rcfg off"), "OK");
  guard();
  term->send("+++");
  EXPECT_TRUE(waitControl("get 3 data", "OK +++"));
  EXPECT_EQ(sim->control("get 1 mode"), "OK data");
}

TEST_F(SimRadio, FailedAttemptsUseTheAttemptFailForm) {
  start();
  struct Row {
    const char* what;
    const char* control;
    const char* address;
  };
  const Row rows[] = {
      {"nobody has the address", nullptr, "001122334455"},
      {"the slave is bonded elsewhere", "set 2 bond 0011-22-334455", "00126F100002"},
      {"the remote device refuses", "set 3 connectable off", "002345B00001"},
  };
  for (const Row& r : rows) {
    if (r.control) {
      ASSERT_EQ(sim->control(r.control), "OK");
    }
    ok((std::string("AT+CONN=") + r.address + "\r").c_str());
    const std::string line = term->readUntil("!!\r\n");
    ASSERT_EQ(line.rfind("\r\nCONNECT", 0), 0u) << r.what;
    // The parameter after the keyword and one skipped character.
    EXPECT_EQ(line.substr(10, line.size() - 12), " Attempt Fail!!") << r.what;
    EXPECT_EQ(sim->control("get 1 peer"), "OK none") << r.what;
  }
}

TEST_F(SimRadio, PeerEventsReachThePluggedAdapter) {
  start();
  ASSERT_EQ(sim->control("event connect 1"), "OK");
  EXPECT_EQ(term->readUntil("\"\r\n"), "\r\nCONNECT \"0023-45-B00001\"\r\n");
  EXPECT_EQ(sim->control("event connect 1"), "ERROR device 1 is busy");
  ASSERT_EQ(sim->control("event disconnect 1"), "OK");
  EXPECT_EQ(term->readUntil("\"\r\n"), "\r\nDISCONNECT \"0023-45-B00001\"\r\n");
  EXPECT_EQ(sim->control("get 3 peer"), "OK none");
  ASSERT_EQ(sim->control("event connect 1 0012-6F-100002"), "OK");
  EXPECT_EQ(term->readUntil("\"\r\n"), "\r\nCONNECT \"0012-6F-100002\"\r\n");
  EXPECT_EQ(sim->control("event disconnect 3"), "ERROR not connected");
}

TEST_F(SimRadio, BondedMasterWithAutoConnectConnectsByItself) {
  start();
  ok("AT+BOND=00126F100002\r");
  ok("AT+ROLEM\r");
  ok("AT+ACON+\r");
  EXPECT_EQ(term->readUntil("\"\r\n", 5000), "\r\nCONNECT \"0012-6F-100002\"\r\n");
  EXPECT_EQ(sim->control("get 2 peer"), "OK 0012-6F-100001");
}

TEST_F(SimRadio, AutoConnectSwitchedOffWhilePagingGivesUpTheAttempt) {
  start({"--connect-ms", "1500"});
  ok("AT+BOND=00126F100002\r");
  ok("AT+ROLEM\r");
  ok("AT+ACON+\r");
  ASSERT_TRUE(waitControl("get 1 connecting", "OK on"));  // paging has begun
  ok("AT+ACON-\r");
  EXPECT_EQ(term->collectFor(2500), "") << "no connection after auto-connect was switched off";
  EXPECT_EQ(sim->control("get 1 peer"), "OK none");
}

TEST_F(SimRadio, RemoteAccessProtocolOnTheConnectedPeer) {
  start();
  connectTo("002345B00001", "0023-45-B00001");
  const std::string handshake(8, '\xAA');
  EXPECT_EQ(term->ask(handshake, "\xAA\xAA"), "\xAA\xAA");
  EXPECT_EQ(sim->control("get 3 mode"), "OK remote-access");
  EXPECT_EQ(term->ask(std::string("\x01\x05", 2), std::string("\x01\x00", 2)), std::string("\x01\x00", 2));
  EXPECT_EQ(sim->control("get 3 baud"), "OK 115200");
  EXPECT_EQ(term->ask(std::string("\x01\x09", 2), std::string("\x01\x01", 2)), std::string("\x01\x01", 2));
  EXPECT_EQ(term->ask(std::string("\x00\x80", 2), std::string("\x00\x00", 2)), std::string("\x00\x00", 2));
  EXPECT_EQ(sim->control("get 3 mode"), "OK data");

  ASSERT_EQ(sim->control("set 3 answer fail"), "OK");
  EXPECT_EQ(term->ask(handshake, "\xAA\x55"), "\xAA\x55");
  EXPECT_EQ(sim->control("get 3 mode"), "OK data");

  ASSERT_EQ(sim->control("set 3 answer silent"), "OK");
  term->send(handshake);
  EXPECT_EQ(term->collectFor(300), "");

  ASSERT_EQ(sim->control("set 3 answer ok"), "OK");
  EXPECT_EQ(term->ask(handshake, "\xAA\xAA"), "\xAA\xAA");
  ASSERT_EQ(sim->control("set 3 answer fail"), "OK");
  EXPECT_EQ(term->ask(std::string("\x00\x80", 2), std::string("\x00\x01", 2)), std::string("\x00\x01", 2));
  EXPECT_EQ(sim->control("get 3 mode"), "OK remote-access");
}

TEST_F(SimRadio, PlugAndUnplugSwapTheAdapterBehindThePort) {
  start();
  EXPECT_EQ(term->ask("AT+ADDR?\r", "\r\n0012-6F-100001\r\nOK\r\n"), "\r\n0012-6F-100001\r\nOK\r\n");
  EXPECT_EQ(sim->control("plug 2"), "OK plugged 2");
  EXPECT_EQ(term->ask("AT+ADDR?\r", "\r\n0012-6F-100002\r\nOK\r\n"), "\r\n0012-6F-100002\r\nOK\r\n");
  EXPECT_EQ(sim->control("unplug"), "OK unplugged");
  term->send("AT+NAME?\r");
  EXPECT_EQ(term->collectFor(300), "");  // nobody behind the port
  EXPECT_EQ(sim->control("plug 3"), "ERROR device 3 is no adapter");
  EXPECT_EQ(sim->control("plug 1"), "OK plugged 1");
  EXPECT_EQ(term->ask("AT\r", "\r\nOK\r\n"), "\r\nOK\r\n");
  EXPECT_EQ(sim->control("received 1"), "OK 2 AT+ADDR?\\r AT\\r");
  EXPECT_EQ(sim->control("received 2"), "OK 1 AT+ADDR?\\r");
  EXPECT_NE(sim->control("list").find("OK plugged=1; 1 adapter 0012-6F-100001"), std::string::npos);
}

TEST_F(SimRadio, ControlCommandsAnswerOneLineEach) {
  start();
  struct Row {
    const char* command;
    const char* answer;
  };
  const Row rows[] = {
      {"get 1 name", "OK KX627-1"},
      {"set 1 name Bench Unit", "OK"},
      {"get 1 name", "OK Bench Unit"},
      {"set 1 baud 12345", "ERROR not an adapter speed"},
      {"set 1 colour red", "ERROR unknown field colour"},
      {"get 1 colour", "ERROR unknown field colour"},
      {"get 9 name", "ERROR usage: get N FIELD"},
      {"set 2 pin NULL", "OK"},
      {"get 2 pin", "OK NULL"},
      {"get 3 kind", "OK remote"},
      {"event teleport 1", "ERROR usage: event connect|disconnect N [ADDRESS]"},
      {"garbage 0", "ERROR usage: garbage COUNT (1..65536)"},
      {"frobnicate", "ERROR unknown command frobnicate"},
      {"received 1", "OK 0"},
  };
  for (const Row& r : rows) EXPECT_EQ(sim->control(r.command), r.answer) << r.command;
  // `help` names every command, on the one answer line.
  const std::string help = sim->control("help");
  EXPECT_EQ(help.rfind("OK plug N: ", 0), 0u) << help;
  for (const char* command : {"; unplug: ", "; set N FIELD VALUE: ", "; received N: ", "; help: "})
    EXPECT_NE(help.find(command), std::string::npos) << command;
  EXPECT_EQ(help.find('\n'), std::string::npos);
  // Noise reaches the PC whatever its settings.
  ASSERT_TRUE(term->setLine(9600, 'O', 2, true));
  EXPECT_EQ(sim->control("garbage 50"), "OK");
  EXPECT_EQ(term->readN(50).size(), 50u);
}

TEST(SimProgram, LinkNamesThePtyAndTheProgramEndsWithItsInput) {
  const std::string link = "/tmp/kx-sim-test-link-" + std::to_string(::getpid());
  SimProcess sim({"--link", link});
  ASSERT_TRUE(sim.started());
  char target[256] = {};
  ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), sim.ptyPath());
  PtyTerminal term(link);
  ASSERT_TRUE(term.isOpen());
  EXPECT_EQ(term.ask("AT\r", "\r\nOK\r\n"), "\r\nOK\r\n");
  EXPECT_EQ(sim.finish(), 0);
  struct stat st {};
  EXPECT_NE(::lstat(link.c_str(), &st), 0);
}

TEST(SimProgram, RefusesBadOptions) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--baud", "1234"}, {"--parity", "mark"}, {"--stop", "3"}, {"--bogus"}}) {
    SimProcess sim(args);
    EXPECT_FALSE(sim.started());
    EXPECT_EQ(sim.finish(), 2);
  }
}

}  // namespace
