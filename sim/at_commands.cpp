// The plugged adapter's side of the AT conversation: command-mode line
// collection with echo, the command set with its query and set forms, data
// mode and the "+++" escape.
#include <algorithm>
#include <cctype>

#include "sim/device_state.h"
#include "sim/world.h"

namespace kx::sim {

namespace {

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool isHex(const std::string& s, std::size_t n) {
  return s.size() == n && std::all_of(s.begin(), s.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) != 0;
         });
}

bool isPrintable(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7f;
  });
}

std::string dashed(const std::string& twelveHex) {
  const std::string u = upper(twelveHex);
  return u.substr(0, 4) + "-" + u.substr(4, 2) + "-" + u.substr(6);
}

const char* sign(bool on) { return on ? "+" : "-"; }

}  // namespace

void World::handlePcByte(Device& d, uint8_t b, long long now) {
  if (d.dataMode) {
    handleDataByte(d, b, now);
    d.lastRxMs = now;
    return;
  }
  d.lastRxMs = now;
  if (d.s.echo) sendToPc(d, std::string(1, static_cast<char>(b)));
  if (b == '\r') {
    const std::string command = d.line;
    const bool overlong = d.overflow;
    d.line.clear();
    d.overflow = false;
    if (overlong) {
      d.remember(command + "...\r");
      replyError(d);
    } else if (!command.empty()) {
      d.remember(command + "\r");
      execute(d, command);
    }
    return;
  }
  if (b == '\n' && d.line.empty()) return;  // a terminal's CR LF
  if (d.line.size() >= kMaxCommandLength) {
    d.overflow = true;
    return;
  }
  d.line += static_cast<char>(b);
  // "+++" needs no CR; in command mode it only confirms the mode.
  if (d.line == "+++" && d.s.esc) {
    d.line.clear();
    d.remember("+++");
    sendToPc(d, "\r\nOK\r\n");
  }
}

void World::handleDataByte(Device& d, uint8_t b, long long now) {
  if (d.s.esc && b == '+') {
    const long long gap = now - d.lastRxMs;
    if (d.heldPlus.empty()) {
      if (gap >= options_.guardMs) {
        d.heldPlus = "+";
        return;
      }
    } else if (gap < options_.guardMs) {
      d.heldPlus += '+';
      if (d.heldPlus.size() == 3) {
        d.heldPlus.clear();
        d.dataMode = false;
        d.remember("+++");
        sendToPc(d, "\r\nOK\r\n");
      }
      return;
    }
  }
  std::string bytes = std::move(d.heldPlus);
  d.heldPlus.clear();
  bytes += static_cast<char>(b);
  sendOverLink(d, bytes);
}

bool World::executeSetting(Device& d, const std::string& u, const std::string& command) {
  // The two-state settings: AT+XXX? / AT+XXX+ / AT+XXX-.
  struct Toggle {
    const char* name;
    bool AdapterSettings::*field;
    bool dropsLink;
  };
  static const Toggle toggles[] = {
      {"ECHO", &AdapterSettings::echo, false}, {"DCOV", &AdapterSettings::dcov, true},
      {"ACON", &AdapterSettings::acon, true},  {"ESC", &AdapterSettings::esc, false},
      {"RCFG", &AdapterSettings::rcfg, false}, {"SLEEP", &AdapterSettings::sleep, false},
      {"FLOW", &AdapterSettings::flow, true}};
  for (const Toggle& t : toggles) {
    const std::string base = std::string("AT+") + t.name;
    if (u == base + "?") {
      replyValue(d, std::string(t.name) + sign(d.s.*t.field));
      return true;
    }
    if (u == base + "+" || u == base + "-") {
      replyOk(d);  // acknowledged at the old line settings
      d.s.*t.field = u.back() == '+';
      if (t.dropsLink && d.peer) disconnect(d, false);
      return true;
    }
  }
  (void)command;
  return false;
}

void World::execute(Device& d, const std::string& command) {
  const std::string u = upper(command);
  const auto value = [&](std::size_t prefixLength) { return command.substr(prefixLength); };

  // "AT+NAME=*" refuses every command that starts with "AT+NAME=".
  const std::string_view refused = d.refuse;
  if (!refused.empty() && (u == refused || (refused.back() == '*' &&
                                            u.starts_with(refused.substr(0, refused.size() - 1)))))
    return replyError(d);
  if (u == "AT") return replyOk(d);
  if (u == "AT+VER" || u == "AT+VER?") return replyValue(d, d.version);
  if (u == "ATI0") {
    if (d.oldFirmware) return replyValue(d, d.version);
    return replyError(d);
  }
  if (u == "AT+RESP?") return replyValue(d, std::string("RESP") + sign(d.s.resp));
  if (u == "AT+RESP+" || u == "AT+RESP-") {
    // Answered in the new mode: "\r\nOK\r\n" after RESP+, "\r\n" after RESP-.
    d.s.resp = u.back() == '+';
    return replyOk(d);
  }
  if (executeSetting(d, u, command)) return;

  if (u == "AT+ENQ") {
    const AdapterSettings& s = d.s;
    std::string all = "\r\nNAME=" + s.name + "\r\nADDR=" + d.address +
                      "\r\nPIN=" + (s.auth ? s.pin : std::string("NULL")) + "\r\nBOND=" + s.bond +
                      "\r\nROLE" + (s.master ? "M" : "S") + "\r\nBAUD" + std::to_string(s.baudCode) +
                      "\r\nPAR" + std::to_string(static_cast<int>(s.parity)) + "\r\nSTOP" +
                      std::to_string(s.stopBits) + "\r\nFLOW" + sign(s.flow) + "\r\nECHO" +
                      sign(s.echo) + "\r\nRESP" + sign(s.resp) + "\r\nDCOV" + sign(s.dcov) +
                      "\r\nESC" + sign(s.esc) + "\r\nSLEEP" + sign(s.sleep) + "\r\nACON" +
                      sign(s.acon) + "\r\nRCFG" + sign(s.rcfg) + "\r\n";
    return sendToPc(d, all + (s.resp ? "OK\r\n" : ""));
  }
  if (u == "AT+RESET") {
    replyOk(d);
    restart(d);
    return;
  }
  if (u == "AT+BAUD?") return replyValue(d, "BAUD" + std::to_string(d.s.baudCode));
  if (startsWith(u, "AT+BAUD")) {
    const std::string code = u.substr(7);
    if (code.size() != 2 || !std::isdigit(static_cast<unsigned char>(code[0])) ||
        !std::isdigit(static_cast<unsigned char>(code[1])))
      return replyError(d);
    const int c = std::stoi(code);
    if (c < 10 || c > 20 || (c > 18 && isLegacyFirmware(d.version))) return replyError(d);
    replyOk(d);
    d.s.baudCode = c;
    return;
  }
  if (u == "AT+STOP?") return replyValue(d, "STOP" + std::to_string(d.s.stopBits));
  if (u == "AT+STOP1" || u == "AT+STOP2") {
    replyOk(d);
    d.s.stopBits = u.back() - '0';
    return;
  }
  if (u == "AT+PAR?") return replyValue(d, "PAR" + std::to_string(static_cast<int>(d.s.parity)));
  if (u == "AT+PAR0" || u == "AT+PAR1" || u == "AT+PAR2") {
    replyOk(d);
    d.s.parity = static_cast<Parity>(u.back() - '0');
    return;
  }
  if (u == "AT+ROLE?") return replyValue(d, d.s.master ? "ROLEM" : "ROLES");
  if (u == "AT+ROLEM" || u == "AT+ROLES") {
    replyOk(d);
    d.s.master = u.back() == 'M';
    if (d.s.master) cancelInquiry(d);
    if (d.peer) disconnect(d, false);
    return;
  }
  if (u == "AT+ADDR?") return replyValue(d, d.address);
  if (u == "AT+FIND?") {
    if (!d.s.master || d.s.acon || d.peer || d.inquiring || d.connecting) return replyError(d);
    replyOk(d);
    startInquiry(d);
    return;
  }
  if (u == "AT+FIND-") {
    cancelInquiry(d);
    return replyOk(d);
  }
  if (u == "AT+RSSI") {
    const Device* p = dev(d.peer);
    if (!p) return replyError(d);
    return replyValue(d, std::to_string(p->rssi));
  }
  if (u == "AT+NAME?") return replyValue(d, d.s.name);
  if (startsWith(u, "AT+NAME=")) {
    const std::string name = value(8);
    if (name.empty() || name.size() > 19 || !isPrintable(name)) return replyError(d);
    d.s.name = name;
    return replyOk(d);
  }
  if (u == "AT+PIN?") return replyValue(d, d.s.auth ? d.s.pin : "NULL");
  if (u == "AT+PIN-") {
    d.s.auth = false;
    return replyOk(d);
  }
  if (startsWith(u, "AT+PIN=")) {
    const std::string pin = value(7);
    if (pin.empty() || pin.size() > 16 || !std::all_of(pin.begin(), pin.end(), [](char c) {
          return std::isalnum(static_cast<unsigned char>(c)) != 0;
        }))
      return replyError(d);
    d.s.pin = pin;
    d.s.auth = true;
    return replyOk(d);
  }
  if (startsWith(u, "AT+CONN=")) {
    const std::string address = u.substr(8);
    if (!isHex(address, 12) || d.peer || d.inquiring || d.connecting) return replyError(d);
    replyOk(d);
    attemptConnect(indexOf(d), address, false);
    return;
  }
  if (u == "AT+DROP") {
    replyOk(d);
    if (d.peer) disconnect(d, true);
    return;
  }
  if (u == "AT+BOND?") return replyValue(d, d.s.bond);
  if (u == "AT+BOND-") {
    d.s.bond = kNoBond;
    return replyOk(d);
  }
  if (startsWith(u, "AT+BOND=")) {
    const std::string address = u.substr(8);
    if (!isHex(address, 12)) return replyError(d);
    d.s.bond = dashed(address);
    return replyOk(d);
  }
  if (u == "AT+AUTO") {
    // Mode changes are confirmed even while command responses are off.
    sendToPc(d, "\r\nOK\r\n");
    d.dataMode = true;
    d.heldPlus.clear();
    return;
  }
  if (u == "AT+UPGRADE") return replyOk(d);
  if (startsWith(u, "AT+MODEM")) {
    if (isLegacyFirmware(d.version)) return replyError(d);
    if (u == "AT+MODEM?") return replyValue(d, std::string("MODEM") + "-LR"[d.s.modem]);
    if (u == "AT+MODEM-" || u == "AT+MODEML" || u == "AT+MODEMR") {
      d.s.modem = u.back() == '-' ? 0 : u.back() == 'L' ? 1 : 2;
      return replyOk(d);
    }
    return replyError(d);
  }
  if (startsWith(u, "AT+RSERVICE")) {
    if (!supportsRemoteService(d.version)) return replyError(d);
    if (u == "AT+RSERVICE?") return replyValue(d, d.s.rservice);
    if (u == "AT+RSERVICE-") {
      d.s.rservice = "NULL";
      return replyOk(d);
    }
    if (startsWith(u, "AT+RSERVICE=")) {
      const std::string service = value(12);
      if (service.empty() || service.size() > 32 || !isPrintable(service)) return replyError(d);
      d.s.rservice = service;
      return replyOk(d);
    }
    return replyError(d);
  }
  if (startsWith(u, "AT+RCOD")) {
    if (!supportsRemoteCod(d.version)) return replyError(d);
    if (u == "AT+RCOD?") return replyValue(d, d.s.rcod);
    if (u == "AT+RCOD-") {
      d.s.rcod = "000000";
      return replyOk(d);
    }
    if (startsWith(u, "AT+RCOD=") && isHex(u.substr(8), 6)) {
      d.s.rcod = u.substr(8);
      return replyOk(d);
    }
    return replyError(d);
  }
  replyError(d);
}

}  // namespace kx::sim
