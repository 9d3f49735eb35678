// Fuzzes File > Load: each input is read as a settings file that programs the
// adapter, every differing value one command. The adapter is a stand-in on
// this thread: it answers each command inside the write, in the adapter's
// framing, keeping the settings that change how it talks (line settings,
// echo, responses, escape) and refusing values the adapter refuses. The
// input's length (mod 3) chooses its firmware: v6.80, v4.10 (legacy: no
// modem signals, no speeds above 230400) or v6.52 (remote service but no
// remote class of device).
//
// Slower than the parser target (fuzz_settings_file) by the whole command
// engine per line, it finds what only the programming can: every write is
// one command line, sent at the line settings the adapter runs (see
// Harness::misread), and its answer completes it at once; after the load the
// PC port, the echo and the response mode agree with the adapter; the
// records stay intact; and with both back at 19200 8N1 a fresh "AT\r" is
// still answered "\r\nOK\r\n".
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "atcmd/command_table.h"
#include "atcmd/receive_dispatch.h"
#include "atcmd/transmission.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/response_apply.h"
#include "device/settings_file.h"
#include "fuzz_support.h"
#include "serial/uart.h"

namespace {

using kx::fuzz::require;

constexpr int kBps[] = {1200,  2400,   4800,   9600,   19200, 38400,
                        57600, 115200, 230400, 460800, 921600};
constexpr const char* kVersions[] = {"v6.80", "v4.10", "v6.52"};

// What the stand-in adapter keeps.
struct Adapter {
  int baudCode = 14;
  kx::Parity parity = kx::Parity::None;
  int stopBits = 1;
  bool flow = false;
  bool echo = false;
  bool resp = true;
  bool escape = true;
  std::string version;

  kx::LineSettings line() const {
    kx::LineSettings s;
    s.baud = kBps[baudCode - 10];
    s.parity = parity;
    s.stopBits = stopBits;
    s.rtsCts = flow;
    return s;
  }
  bool legacy() const { return version.find("v4.") != std::string::npos; }
  bool remoteService() const { return version != "v4.10"; }
  bool remoteCod() const { return version == "v6.80"; }
};

void answerWrite(const uint8_t* data, std::size_t length);

// Thrown out of the adapter's write (and through the loader) when the tool
// would wait for an answer that will not come.
struct LoadGivenUp {};

struct Harness {
  kx::fuzz::FuzzWindow window;
  kx::fuzz::NullForm page;  // written by the answers' application, never read
  kx::fuzz::LoopbackAdapter port{answerWrite};
  Adapter adapter;
  // A command whose value holds an earlier command's name (a Pin of
  // "xAT+RESETx") is looked up as that command, and its answer applied as
  // that command's: the first matching pattern wins even inside an argument.
  // The factory-settings and baud rules then retune the PC port although the
  // adapter changed nothing. From such a command on the line is not compared.
  bool misread = false;
  std::array<char, BUFSIZ> fileBuffer;  // each input's stream reads through it
};

Harness* gHarness = nullptr;

std::string describe(const kx::LineSettings& s) {
  return std::to_string(s.baud) + " parity " + std::to_string(static_cast<int>(s.parity)) +
         " stop " + std::to_string(s.stopBits) + " rtscts " + std::to_string(s.rtsCts);
}

bool sameLine(const kx::LineSettings& a, const kx::LineSettings& b) {
  return a.baud == b.baud && a.parity == b.parity && a.stopBits == b.stopBits &&
         a.rtsCts == b.rtsCts;
}

template <typename Test>
bool all(std::string_view s, Test test) {
  return std::all_of(s.begin(), s.end(),
                     [&](char c) { return test(static_cast<unsigned char>(c)); });
}
bool printable(unsigned char c) { return c >= 0x20 && c < 0x7f; }
bool digit(unsigned char c) { return std::isdigit(c) != 0; }
bool alnum(unsigned char c) { return std::isalnum(c) != 0; }
bool hex(unsigned char c) { return std::isxdigit(c) != 0; }
template <typename Test>
bool fits(std::string_view v, std::size_t most, Test test) {
  return !v.empty() && v.size() <= most && all(v, test);
}
bool startsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The adapter's answer to one command (without its CR); changes its settings
// after the answer, as the adapter acknowledges at the old settings.
std::string execute(Adapter& a, const std::string& command) {
  std::string u = command;
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string ok = a.resp ? "\r\nOK\r\n" : "\r\n";
  const std::string error = "\r\nERROR\r\n";
  const std::size_t eq = command.find('=');
  const std::string_view value =
      eq == std::string::npos ? std::string_view() : std::string_view(command).substr(eq + 1);

  if (u == "AT") return ok;
  // In command mode the escape sequence only confirms the mode.
  if (u == "+++") return a.escape ? "\r\nOK\r\n" : std::string();
  if (u == "AT+RESP+" || u == "AT+RESP-") {
    a.resp = u.back() == '+';  // answered in the new mode
    return a.resp ? "\r\nOK\r\n" : "\r\n";
  }
  // The two-state settings: AT+XXX+ / AT+XXX-.
  if (!u.empty() && (u.back() == '+' || u.back() == '-')) {
    const std::string_view base = std::string_view(u).substr(0, u.size() - 1);
    const bool on = u.back() == '+';
    for (std::string_view t :
         {"AT+ECHO", "AT+DCOV", "AT+ACON", "AT+ESC", "AT+RCFG", "AT+SLEEP", "AT+FLOW"}) {
      if (base != t) continue;
      if (t == "AT+ECHO") a.echo = on;
      if (t == "AT+FLOW") a.flow = on;
      if (t == "AT+ESC") a.escape = on;
      return ok;
    }
  }
  if (startsWith(u, "AT+BAUD")) {
    const std::string code = u.substr(7);
    if (code.size() != 2 || !all(code, digit)) return error;
    const int c = std::stoi(code);
    if (c < 10 || c > 20 || (c > 18 && a.legacy())) return error;
    a.baudCode = c;
    return ok;
  }
  if (u == "AT+STOP1" || u == "AT+STOP2") {
    a.stopBits = u.back() - '0';
    return ok;
  }
  if (u == "AT+PAR0" || u == "AT+PAR1" || u == "AT+PAR2") {
    a.parity = static_cast<kx::Parity>(u.back() - '0');
    return ok;
  }
  if (u == "AT+ROLEM" || u == "AT+ROLES" || u == "AT+PIN-" || u == "AT+BOND-") return ok;
  if (startsWith(u, "AT+MODEM"))
    return !a.legacy() && (u == "AT+MODEM-" || u == "AT+MODEML" || u == "AT+MODEMR") ? ok : error;
  if (startsWith(u, "AT+NAME=")) return fits(value, 19, printable) ? ok : error;
  if (startsWith(u, "AT+PIN=")) return fits(value, 16, alnum) ? ok : error;
  if (startsWith(u, "AT+BOND=")) return value.size() == 12 && all(value, hex) ? ok : error;
  if (startsWith(u, "AT+RSERVICE")) {
    if (!a.remoteService()) return error;
    return u == "AT+RSERVICE-" || (startsWith(u, "AT+RSERVICE=") && fits(value, 32, printable))
               ? ok
               : error;
  }
  if (startsWith(u, "AT+RCOD")) {
    if (!a.remoteCod()) return error;
    return u == "AT+RCOD-" || (startsWith(u, "AT+RCOD=") && value.size() == 6 && all(value, hex))
               ? ok
               : error;
  }
  return error;
}

void answerWrite(const uint8_t* data, std::size_t length) {
  Harness& h = *gHarness;
  const std::string written(reinterpret_cast<const char*>(data), length);
  const auto shown = [&] { return kx::escapeBytes(written); };
  KX_FUZZ_REQUIRE(written == "+++" || (!written.empty() && written.back() == '\r' &&
                                       written.find_first_of("\r\n") == written.size() - 1),
                  "written bytes " + shown() + " are not one command line");
  KX_FUZZ_REQUIRE(h.misread || sameLine(h.port.settings(), h.adapter.line()),
                  shown() + " written at " + describe(h.port.settings()) + " to an adapter at " +
                      describe(h.adapter.line()));

  const std::string command = written == "+++" ? written : written.substr(0, written.size() - 1);
  if (const std::size_t eq = command.find('='); eq != std::string::npos)
    h.misread |= kx::getCommandIndex(written.c_str()) !=
                 kx::getCommandIndex(command.substr(0, eq + 1).c_str());
  std::string reply = h.adapter.echo ? written : std::string();
  reply += execute(h.adapter, command);
  kx::dispatchReceivedData(reinterpret_cast<const uint8_t*>(reply.data()),
                           static_cast<uint32_t>(reply.size()));
  std::lock_guard lock(kx::atCommandMutex);
  if (kx::atCommand.responseComplete == 1) return;
  // Answers the tool cannot take: a set command whose value holds '?' is
  // taken for a query, and with responses off the adapter's CR LF does not
  // answer it. After a misread command the tool may also believe the adapter
  // in data mode and send the escape sequence, which an adapter in command
  // mode echoes (with echo on) or ignores (with escape off). The tool would
  // wait out its time-out, resend, and make the next command wait for late
  // answers that never come, seconds in all. The load is given up here.
  KX_FUZZ_REQUIRE(h.misread || (!h.adapter.resp && kx::atCommand.expectsData == 1),
                  "the answer " + kx::escapeBytes(reply) + " did not complete " + shown());
  throw LoadGivenUp{};
}

// Both ends at 19200 8N1, no flow control, echo off, responses on.
void restoreLine() {
  Harness& h = *gHarness;
  const std::string version = h.adapter.version;
  h.adapter = Adapter{};
  h.adapter.version = version;
  kx::uart.baud = 19200;
  kx::uart.stopBits = 1;
  kx::uart.parity = kx::PARITY_NONE_FLAG;
  kx::uart.flow = 0;
  if (!sameLine(h.port.settings(), h.adapter.line()))
    require(kx::UartChangeSettings() == 0, "PC port refused 19200 8N1");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::quietStartup();
  gHarness = new Harness;
  gHarness->window.setRecording(false);  // nothing checks what reaches the window
  gHarness->window.setDigesting(false);
  kx::mainWindowHandle = &gHarness->window;
  kx::clearUart();
  kx::copyField(kx::uart.comPort, "/dev/fuzzed-adapter");
  kx::uart.handle = &gHarness->port;
  // The main window applies an answer handed to it (the escape sequence's).
  gHarness->window.setSendHandler([](const kx::fuzz::FuzzWindow::Notification& n) {
    if (n.id == kx::NOTIFY_COMMAND_RESPONSE) kx::applyCommandResponse(gHarness->page);
  });
  restoreLine();
  kx::resetCommandEngine();
  kx::installCommandEngine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Harness& h = *gHarness;
  FILE* file = kx::fuzz::inputAsFile(data, size, h.fileBuffer);
  h.window.clear();
  kx::clearLocalDev();
  kx::localDev.cmdResponse = 1;
  h.adapter.version = kVersions[size % 3];
  h.misread = false;
  restoreLine();

  // File > Load: every differing value programmed into the adapter.
  kx::localDev.initialised = 1;
  kx::copyField(kx::localDev.fwVersion, h.adapter.version);
  bool givenUp = false;
  try {
    kx::readSettings(file, "fuzzed settings", 1, &h.page);
  } catch (const LoadGivenUp&) {
    givenUp = true;
    kx::resetCommandEngine();
  }
  std::fclose(file);
  kx::fuzz::checkRecordInvariants();
  if (!givenUp) {
    KX_FUZZ_REQUIRE(h.misread || sameLine(h.port.settings(), h.adapter.line()),
                    "after loading the PC port runs " + describe(h.port.settings()) +
                        ", the adapter " + describe(h.adapter.line()));
    require(kx::localDev.cmdResponse == (h.adapter.resp ? 1 : 0) &&
                kx::localDev.echo == (h.adapter.echo ? 1 : 0),
            "after loading the tool's echo/response mode differ from the adapter's");
  }

  restoreLine();
  kx::localDev.dataMode = 0;
  kx::localDev.cmdResponse = 1;
  require(kx::sendATCommand("AT\r", 0, 0, 1000) == 0, "fresh AT after loading not answered");
  {
    std::lock_guard lock(kx::atCommandMutex);
    KX_FUZZ_REQUIRE(std::string(kx::fieldView(kx::atCommand.response)) == "\r\nOK\r\n",
                    "fresh AT answered " + kx::escapeBytes(kx::fieldView(kx::atCommand.response)));
    kx::clearAtCommand();
  }
  return 0;
}
