// The simulator's control interface: plug and unplug adapters, read and change
// any device's state, inject link events and line noise. One command line in,
// one answer line out.
#include <algorithm>
#include <cctype>
#include <sstream>

#include "sim/device_state.h"
#include "sim/world.h"

namespace kx::sim {

namespace {

std::string upperCased(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool parseBool(const std::string& v, bool* out) {
  const std::string l = lower(v);
  if (l == "on" || l == "1" || l == "+" || l == "yes" || l == "true") {
    *out = true;
    return true;
  }
  if (l == "off" || l == "0" || l == "-" || l == "no" || l == "false") {
    *out = false;
    return true;
  }
  return false;
}

bool parseInt(const std::string& v, int* out) {
  if (v.empty() || v.size() > 9) return false;
  std::size_t i = v[0] == '-' ? 1 : 0;
  if (i == v.size()) return false;
  for (std::size_t k = i; k < v.size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>(v[k]))) return false;
  *out = std::stoi(v);
  return true;
}

// A Bluetooth address in 4-2-6 form or as 12 hex digits, to 4-2-6 upper case.
bool parseAddress(const std::string& v, std::string* out) {
  std::string bare;
  for (char c : v) {
    if (c == '-' || c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    bare += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (bare.size() != 12) return false;
  *out = bare.substr(0, 4) + "-" + bare.substr(4, 2) + "-" + bare.substr(6);
  return true;
}

const char* parityName(Parity p) {
  return p == Parity::Odd ? "odd" : p == Parity::Even ? "even" : "none";
}

const char* onOff(bool b) { return b ? "on" : "off"; }

// The inverse of escapeToken for text typed on the control line.
std::string unescapeToken(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'r') out += '\r';
    else if (c == 'n') out += '\n';
    else if (c == 'x' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
             std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else out += c;
  }
  return out;
}

}  // namespace

bool World::setField(Device& d, const std::string& fieldIn, const std::string& v, std::string* error) {
  const std::string field = lower(fieldIn);
  bool b = false;
  int n = 0;
  struct Toggle {
    const char* name;
    bool AdapterSettings::*member;
  };
  static const Toggle toggles[] = {{"echo", &AdapterSettings::echo}, {"resp", &AdapterSettings::resp},
                                   {"dcov", &AdapterSettings::dcov}, {"esc", &AdapterSettings::esc},
                                   {"sleep", &AdapterSettings::sleep}, {"acon", &AdapterSettings::acon},
                                   {"rcfg", &AdapterSettings::rcfg}, {"auth", &AdapterSettings::auth},
                                   {"flow", &AdapterSettings::flow}};
  for (const Toggle& t : toggles) {
    if (field != t.name) continue;
    if (!parseBool(v, &b)) return *error = "expected on or off", false;
    d.s.*t.member = b;
    return true;
  }
  if (field == "name") {
    if (v.empty() || v.size() > 19) return *error = "name must have 1 to 19 characters", false;
    d.s.name = v;
  } else if (field == "pin") {
    if (lower(v) == "null") {
      d.s.auth = false;
    } else {
      if (v.empty() || v.size() > 16) return *error = "pin must have 1 to 16 characters", false;
      d.s.pin = v;
      d.s.auth = true;
    }
  } else if (field == "bond") {
    std::string a;
    if (lower(v) == "none") a = "0000-00-000000";
    else if (!parseAddress(v, &a)) return *error = "expected an address or none", false;
    d.s.bond = a;
  } else if (field == "addr") {
    std::string a;
    if (!parseAddress(v, &a)) return *error = "expected an address", false;
    d.address = a;
  } else if (field == "role") {
    const std::string l = lower(v);
    if (l == "master" || l == "m") d.s.master = true;
    else if (l == "slave" || l == "s") d.s.master = false;
    else return *error = "expected master or slave", false;
  } else if (field == "modem") {
    const std::string l = lower(v);
    if (l == "-" || l == "off") d.s.modem = 0;
    else if (l == "l" || l == "local") d.s.modem = 1;
    else if (l == "r" || l == "remote") d.s.modem = 2;
    else return *error = "expected off, local or remote", false;
  } else if (field == "rservice") {
    if (v.empty() || v.size() > 32) return *error = "expected 1 to 32 characters", false;
    d.s.rservice = v;
  } else if (field == "rcod" || field == "cod") {
    if (v.size() != 6 || !std::all_of(v.begin(), v.end(), [](char c) {
          return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        }))
      return *error = "expected 6 hex digits", false;
    (field == "cod" ? d.cod : d.s.rcod) = v;
  } else if (field == "baud") {
    if (!parseInt(v, &n) || bpsToBaudCode(n) == 0) return *error = "not an adapter speed", false;
    d.s.baudCode = bpsToBaudCode(n);
  } else if (field == "parity") {
    const std::string l = lower(v);
    if (l == "none") d.s.parity = Parity::None;
    else if (l == "odd") d.s.parity = Parity::Odd;
    else if (l == "even") d.s.parity = Parity::Even;
    else return *error = "expected none, odd or even", false;
  } else if (field == "stop") {
    if (v != "1" && v != "2") return *error = "expected 1 or 2", false;
    d.s.stopBits = v[0] - '0';
  } else if (field == "version") {
    if (v.empty() || v.size() > 39) return *error = "expected 1 to 39 characters", false;
    d.version = v;
  } else if (field == "old") {
    if (!parseBool(v, &b)) return *error = "expected on or off", false;
    d.oldFirmware = b;
  } else if (field == "rssi") {
    if (!parseInt(v, &n) || n > -1 || n < -99) return *error = "expected -99 to -1", false;
    d.rssi = n;
  } else if (field == "connectable") {
    if (!parseBool(v, &b)) return *error = "expected on or off", false;
    d.connectable = b;
  } else if (field == "answer") {
    const std::string l = lower(v);
    if (l == "ok") d.remoteAnswer = RemoteAnswer::Ok;
    else if (l == "fail") d.remoteAnswer = RemoteAnswer::Fail;
    else if (l == "silent") d.remoteAnswer = RemoteAnswer::Silent;
    else return *error = "expected ok, fail or silent", false;
  } else if (field == "refuse") {
    // A command the adapter answers with ERROR from now on ("none" clears it;
    // a final "*" stands for any rest).
    std::string u = upperCased(v);
    if (!u.empty() && u.back() == '\r') u.pop_back();
    d.refuse = u == "NONE" ? std::string() : u;
  } else {
    return *error = "unknown field " + fieldIn, false;
  }
  return true;
}

bool World::getField(const Device& d, const std::string& fieldIn, std::string* out) const {
  const std::string field = lower(fieldIn);
  const AdapterSettings& s = d.s;
  if (field == "name") *out = s.name;
  else if (field == "pin") *out = s.auth ? s.pin : "NULL";
  else if (field == "auth") *out = onOff(s.auth);
  else if (field == "bond") *out = s.bond;
  else if (field == "addr") *out = d.address;
  else if (field == "role") *out = s.master ? "master" : "slave";
  else if (field == "echo") *out = onOff(s.echo);
  else if (field == "resp") *out = onOff(s.resp);
  else if (field == "dcov") *out = onOff(s.dcov);
  else if (field == "esc") *out = onOff(s.esc);
  else if (field == "sleep") *out = onOff(s.sleep);
  else if (field == "acon") *out = onOff(s.acon);
  else if (field == "rcfg") *out = onOff(s.rcfg);
  else if (field == "modem") *out = s.modem == 0 ? "off" : s.modem == 1 ? "local" : "remote";
  else if (field == "rservice") *out = s.rservice;
  else if (field == "rcod") *out = s.rcod;
  else if (field == "cod") *out = d.cod;
  else if (field == "baud") *out = std::to_string(baudCodeToBps(s.baudCode));
  else if (field == "parity") *out = parityName(s.parity);
  else if (field == "stop") *out = std::to_string(s.stopBits);
  else if (field == "flow") *out = onOff(s.flow);
  else if (field == "version") *out = d.version;
  else if (field == "old") *out = onOff(d.oldFirmware);
  else if (field == "rssi") *out = std::to_string(d.rssi);
  else if (field == "connectable") *out = onOff(d.connectable);
  else if (field == "refuse") *out = d.refuse.empty() ? "none" : d.refuse;
  else if (field == "answer")
    *out = d.remoteAnswer == RemoteAnswer::Ok ? "ok" : d.remoteAnswer == RemoteAnswer::Fail ? "fail" : "silent";
  else if (field == "mode")
    *out = d.restarting ? "restarting" : d.remoteAccess ? "remote-access" : d.dataMode ? "data" : "command";
  else if (field == "peer") *out = d.peer ? dev(d.peer)->address : "none";
  else if (field == "inquiry") *out = onOff(d.inquiring);
  else if (field == "connecting") *out = onOff(d.connecting);
  else if (field == "dropped") *out = std::to_string(d.droppedBytes);
  else if (field == "traffic") *out = std::to_string(d.bytesIn) + " " + std::to_string(d.bytesOut);
  else if (field == "data") *out = escapeToken(d.linkData);
  else if (field == "kind") *out = d.isAdapter ? "adapter" : "remote";
  else if (field == "plugged") *out = onOff(indexOf(d) == plugged_);
  else return false;
  return true;
}

bool World::plug(int n) {
  std::lock_guard lock(mutex_);
  const Device* d = dev(n);
  if (!d || !d->isAdapter) return false;
  if (plugged_ != n) {
    if (Device* old = dev(plugged_)) {
      old->line.clear();
      old->overflow = false;
    }
    plugged_ = n;
    outbox_.clear();
    modemLinesChanged();
  }
  return true;
}

void World::unplug() {
  std::lock_guard lock(mutex_);
  if (Device* old = dev(plugged_)) {
    old->line.clear();
    old->overflow = false;
  }
  plugged_ = 0;
  outbox_.clear();
  modemLinesChanged();
}

int World::plugged() const {
  std::lock_guard lock(mutex_);
  return plugged_;
}

int World::deviceCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(devices_.size());
}

bool World::set(int n, const std::string& field, const std::string& value, std::string* error) {
  std::string ignored;
  std::lock_guard lock(mutex_);
  Device* d = dev(n);
  if (!d) return (error ? *error : ignored) = "no device " + std::to_string(n), false;
  return setField(*d, field, value, error ? error : &ignored);
}

bool World::get(int n, const std::string& field, std::string* value) {
  std::lock_guard lock(mutex_);
  const Device* d = dev(n);
  return d && getField(*d, field, value);
}

std::vector<std::string> World::received(int n) const {
  std::lock_guard lock(mutex_);
  const Device* d = dev(n);
  if (!d) return {};
  return {d->received.begin(), d->received.end()};
}

std::string World::address(int n) const {
  std::lock_guard lock(mutex_);
  const Device* d = dev(n);
  return d ? d->address : std::string();
}

bool World::eventConnect(int n, const std::string& addressText, std::string* error) {
  std::string ignored;
  std::string& err = error ? *error : ignored;
  std::lock_guard lock(mutex_);
  Device* d = dev(n);
  if (!d) return err = "no device " + std::to_string(n), false;
  if (d->peer || d->restarting) return err = "device " + std::to_string(n) + " is busy", false;
  Device* from = nullptr;
  if (addressText.empty()) {
    for (auto& o : devices_)
      if (!o->isAdapter && o->peer == 0) {
        from = o.get();
        break;
      }
    if (!from) return err = "no free remote device", false;
  } else {
    std::string a;
    if (!parseAddress(addressText, &a)) return err = "bad address", false;
    for (auto& o : devices_)
      if (o->address == a) from = o.get();
    if (!from) return err = "no device with address " + a, false;
    if (from == d || from->peer) return err = "that device is busy", false;
  }
  connect(*from, *d);
  return true;
}

bool World::eventDisconnect(int n, std::string* error) {
  std::string ignored;
  std::lock_guard lock(mutex_);
  Device* d = dev(n);
  if (!d) return (error ? *error : ignored) = "no device " + std::to_string(n), false;
  if (!d->peer) return (error ? *error : ignored) = "not connected", false;
  // The peer goes away: both ends report it, as after a drop by the peer.
  Device* p = dev(d->peer);
  disconnect(*p, true);
  return true;
}

void World::garbage(int count) {
  std::lock_guard lock(mutex_);
  if (!transport_ || count <= 0) return;
  Outgoing out;
  out.force = true;
  out.device = plugged_;
  out.at = std::max(Clock::now() + std::chrono::milliseconds(options_.latencyMs), lineFree_);
  for (int i = 0; i < std::min(count, 65536); ++i) {
    noise_ ^= noise_ << 13;
    noise_ ^= noise_ >> 17;
    noise_ ^= noise_ << 5;
    out.bytes += static_cast<char>(noise_ & 0xFF);
  }
  lineFree_ = out.at;
  outbox_.push_back(std::move(out));
  cv_.notify_all();
}

std::string World::listLine() const {
  std::ostringstream o;
  o << "OK plugged=" << plugged_;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    const Device& d = *devices_[i];
    o << "; " << i + 1 << (d.isAdapter ? " adapter " : " remote ") << d.address << " \"" << d.s.name
      << "\" " << baudCodeToBps(d.s.baudCode) << "/" << parityName(d.s.parity) << "/" << d.s.stopBits
      << "/flow-" << onOff(d.s.flow) << " " << (d.s.master ? "master" : "slave") << " bond "
      << d.s.bond << " "
      << (d.restarting ? "restarting" : d.dataMode ? "data" : "command");
    if (d.peer) o << " peer " << dev(d.peer)->address;
  }
  return o.str();
}

const char* const World::kControlCommands[] = {
    "plug N: plug adapter N into the port",
    "unplug: nothing behind the port (silence)",
    "list: one line describing every device",
    "get N FIELD: a field of device N",
    "set N FIELD VALUE: change device N (name, pin, bond, baud, parity, stop, flow, answer, ...)",
    "event connect N [ADDRESS]: a remote device connects to device N",
    "event disconnect N: device N's peer goes away",
    "send N TEXT: device N sends TEXT to its peer (\\r \\n \\xHH escapes)",
    "garbage COUNT: COUNT bytes of line noise to the PC",
    "received N: the commands adapter N received",
    "help: these commands",
    nullptr,
};

std::string World::controlHelp(const char* separator) {
  std::string out;
  for (const char* const* c = kControlCommands; *c; ++c) out += (out.empty() ? "" : separator) + std::string(*c);
  return out;
}

std::string World::control(std::string_view lineIn) {
  std::string line(lineIn);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
    line.pop_back();
  std::istringstream in(line);
  std::string cmd;
  in >> cmd;
  cmd = lower(cmd);
  std::vector<std::string> args;
  for (std::string a; in >> a;) args.push_back(a);
  const auto deviceArg = [&](std::size_t i, int* n) {
    return i < args.size() && parseInt(args[i], n) && *n >= 1 && *n <= deviceCount();
  };
  int n = 0;
  std::string err;

  if (cmd == "plug") {
    if (!deviceArg(0, &n)) return "ERROR usage: plug N";
    return plug(n) ? "OK plugged " + std::to_string(n) : "ERROR device " + args[0] + " is no adapter";
  }
  if (cmd == "unplug") {
    unplug();
    return "OK unplugged";
  }
  if (cmd == "list") {
    std::lock_guard lock(mutex_);
    return listLine();
  }
  if (cmd == "set") {
    if (!deviceArg(0, &n) || args.size() < 3) return "ERROR usage: set N FIELD VALUE";
    // The value is the rest of the line, so that names may hold blanks.
    std::string value;
    const std::size_t at = line.find(args[1], line.find(args[0]) + args[0].size());
    value = line.substr(line.find_first_not_of(' ', at + args[1].size()));
    return set(n, args[1], value, &err) ? "OK" : "ERROR " + err;
  }
  if (cmd == "get") {
    if (!deviceArg(0, &n) || args.size() != 2) return "ERROR usage: get N FIELD";
    std::string value;
    return get(n, args[1], &value) ? "OK " + value : "ERROR unknown field " + args[1];
  }
  if (cmd == "event") {
    if (args.size() < 2 || !deviceArg(1, &n)) return "ERROR usage: event connect|disconnect N [ADDRESS]";
    const std::string what = lower(args[0]);
    if (what == "connect")
      return eventConnect(n, args.size() > 2 ? args[2] : "", &err) ? "OK" : "ERROR " + err;
    if (what == "disconnect") return eventDisconnect(n, &err) ? "OK" : "ERROR " + err;
    return "ERROR usage: event connect|disconnect N [ADDRESS]";
  }
  if (cmd == "send") {
    // send N TEXT: device N sends TEXT (C escapes \\r \\n \\xHH allowed) over its link.
    if (!deviceArg(0, &n) || args.size() < 2) return "ERROR usage: send N TEXT";
    const std::string text = line.substr(line.find_first_not_of(' ', line.find(args[0]) + args[0].size()));
    return sendFrom(n, unescapeToken(text), &err) ? "OK" : "ERROR " + err;
  }
  if (cmd == "garbage") {
    if (args.size() != 1 || !parseInt(args[0], &n) || n < 1 || n > 65536)
      return "ERROR usage: garbage COUNT (1..65536)";
    garbage(n);
    return "OK";
  }
  if (cmd == "received") {
    if (!deviceArg(0, &n)) return "ERROR usage: received N";
    const std::vector<std::string> commands = received(n);
    std::string out = "OK " + std::to_string(commands.size());
    for (const std::string& c : commands) out += " " + escapeToken(c);
    return out;
  }
  if (cmd == "help") return "OK " + controlHelp("; ");
  if (cmd.empty()) return "ERROR empty command";
  return "ERROR unknown command " + escapeToken(cmd);
}

}  // namespace kx::sim
