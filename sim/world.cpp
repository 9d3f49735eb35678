#include "sim/world.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "sim/device_state.h"

namespace kx::sim {

namespace {

constexpr int kBaudTable[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr int kTickMs = 100;

std::string formatAddress(unsigned nap, unsigned uap, unsigned lap) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%04X-%02X-%06X", nap & 0xFFFFu, uap & 0xFFu, lap & 0xFFFFFFu);
  return buf;
}

}  // namespace

bool isLegacyFirmware(const std::string& version) {
  return version.find("v4.") != std::string::npos || version.find("v6.54.c") != std::string::npos;
}
bool supportsRemoteService(const std::string& version) {
  return version.find("v6.52") != std::string::npos || version.find("v6.8") != std::string::npos;
}
bool supportsRemoteCod(const std::string& version) { return version.find("v6.8") != std::string::npos; }

int baudCodeToBps(int code) {
  if (code < 10 || code > 20) return 0;
  return kBaudTable[code - 10];
}

int bpsToBaudCode(int bps) {
  for (int i = 0; i < 11; ++i)
    if (kBaudTable[i] == bps) return i + 10;
  return 0;
}

bool lineSettingsMatch(const LineSettings& adapter, const LineSettings& pc, bool parityVisible) {
  if (adapter.baud != pc.baud || adapter.stopBits != pc.stopBits || adapter.rtsCts != pc.rtsCts)
    return false;
  if (parityVisible) return adapter.parity == pc.parity;
  // A pseudo-terminal keeps only the odd flag: even and none look alike.
  return (adapter.parity == Parity::Odd) == (pc.parity == Parity::Odd);
}

std::string inquiryLine(const std::string& name, const std::string& cod, int rssi,
                        const std::string& address) {
  rssi = std::clamp(rssi, -99, -1);
  char buf[96];
  // name 20, blank, class 6, blank, rssi 4, two blanks: the address starts at 34.
  std::snprintf(buf, sizeof buf, "%-20.20s %-6.6s %-4d  %s", name.c_str(), cod.c_str(), rssi,
                address.c_str());
  return buf;
}

std::string escapeToken(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c > 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

World::World(const WorldOptions& options) : options_(options), start_(Clock::now()) {
  options_.adapters = std::clamp(options_.adapters, 1, 16);
  options_.remotes = std::clamp(options_.remotes, 0, 16);
  for (int i = 1; i <= options_.adapters; ++i) {
    auto d = std::make_unique<Device>();
    d->isAdapter = true;
    d->address = formatAddress(0x0012, 0x6F, 0x100000u + static_cast<unsigned>(i));
    d->version = options_.version;
    d->factory.name = "KX627-" + std::to_string(i);
    d->factory.flow = isLegacyFirmware(d->version);
    d->s = d->factory;
    if (i == 1) {
      d->oldFirmware = options_.oldFirmware;
      d->s.echo = options_.echo;
      d->s.resp = options_.resp;
      if (options_.oldFirmware) {
        d->factory.flow = true;
        d->s.baudCode = 14;
        d->s.parity = Parity::None;
        d->s.stopBits = 1;
        d->s.flow = true;
      } else {
        const int code = bpsToBaudCode(options_.baud);
        d->s.baudCode = code ? code : 14;
        d->s.parity = options_.parity;
        d->s.stopBits = options_.stopBits == 2 ? 2 : 1;
        d->s.flow = options_.flow;
      }
    }
    devices_.push_back(std::move(d));
  }
  for (int i = 1; i <= options_.remotes; ++i) {
    auto d = std::make_unique<Device>();
    d->isAdapter = false;
    d->address = formatAddress(0x0023, 0x45, 0xB00000u + static_cast<unsigned>(i));
    d->version = "v6.80";
    d->factory.name = "Remote Device " + std::to_string(i);
    d->cod = "5A020C";
    d->rssi = -60 - 5 * i;
    d->s = d->factory;
    devices_.push_back(std::move(d));
  }
  worker_ = std::thread([this] { run(); });
}

World::~World() {
  std::shared_ptr<Transport> transport;
  {
    std::lock_guard lock(mutex_);
    transport = transport_;
  }
  if (transport) transport->worldGone();
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    transport_.reset();
  }
  cv_.notify_all();
  worker_.join();
}

void World::setTransport(std::shared_ptr<Transport> transport) {
  {
    std::lock_guard lock(mutex_);
    transport_ = std::move(transport);
    outbox_.clear();
    modemDirty_ = true;
  }
  cv_.notify_all();
}

World::Device* World::dev(int n) {
  if (n < 1 || n > static_cast<int>(devices_.size())) return nullptr;
  return devices_[static_cast<std::size_t>(n - 1)].get();
}

const World::Device* World::dev(int n) const {
  if (n < 1 || n > static_cast<int>(devices_.size())) return nullptr;
  return devices_[static_cast<std::size_t>(n - 1)].get();
}

int World::indexOf(const Device& d) const {
  for (std::size_t i = 0; i < devices_.size(); ++i)
    if (devices_[i].get() == &d) return static_cast<int>(i) + 1;
  return 0;
}

World::Device* World::findByAddress(const std::string& twelveHex) {
  for (auto& d : devices_) {
    std::string bare;
    for (char c : d->address)
      if (c != '-') bare += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (bare == twelveHex) return d.get();
  }
  return nullptr;
}

long long World::nowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
}

LineSettings World::lineOf(const Device& d) const {
  LineSettings l;
  l.baud = baudCodeToBps(d.s.baudCode);
  l.parity = d.s.parity;
  l.stopBits = d.s.stopBits;
  l.rtsCts = d.s.flow;
  return l;
}

void World::sendToPc(Device& d, const std::string& bytes) {
  if (bytes.empty() || d.restarting || !d.isAdapter || indexOf(d) != plugged_ || !transport_)
    return;
  d.bytesOut += static_cast<long long>(bytes.size());
  Outgoing out;
  out.bytes = bytes;
  out.settings = lineOf(d);
  out.device = plugged_;
  out.at = Clock::now() + std::chrono::milliseconds(options_.latencyMs);
  if (out.at < lineFree_) out.at = lineFree_;
  if (options_.pace && out.at < inputFree_) out.at = inputFree_;
  if (options_.pace && out.settings.baud > 0) {
    const int bits = 1 + 8 + (out.settings.parity == Parity::None ? 0 : 1) + out.settings.stopBits;
    out.at += std::chrono::microseconds(static_cast<long long>(bytes.size()) * bits * 1000000LL /
                                        out.settings.baud);
  }
  lineFree_ = out.at;
  // Bounded: an adapter that nobody reads drops its oldest output.
  if (outbox_.size() >= 4096) outbox_.pop_front();
  outbox_.push_back(std::move(out));
  cv_.notify_all();
}

void World::replyOk(Device& d) { sendToPc(d, d.s.resp ? "\r\nOK\r\n" : "\r\n"); }
void World::replyError(Device& d) { sendToPc(d, "\r\nERROR\r\n"); }
void World::replyValue(Device& d, const std::string& value) {
  sendToPc(d, "\r\n" + value + "\r\n" + (d.s.resp ? "OK\r\n" : ""));
}

void World::schedule(int delayMs, std::function<void()> fn) {
  timers_.emplace(Clock::now() + std::chrono::milliseconds(std::max(0, delayMs)), std::move(fn));
  cv_.notify_all();
}

void World::run() {
  std::unique_lock lock(mutex_);
  auto nextTick = Clock::now();
  while (!stop_) {
    const auto now = Clock::now();
    if (now >= nextTick) {
      autoConnectTick();
      nextTick = now + std::chrono::milliseconds(kTickMs);
    }
    while (!timers_.empty() && timers_.begin()->first <= Clock::now()) {
      auto fn = std::move(timers_.begin()->second);
      timers_.erase(timers_.begin());
      fn();
    }
    std::vector<Outgoing> due;
    while (!outbox_.empty() && outbox_.front().at <= Clock::now()) {
      due.push_back(std::move(outbox_.front()));
      outbox_.pop_front();
    }
    std::shared_ptr<Transport> transport = transport_;
    bool modem = false, dsr = false, cts = false;
    if (modemDirty_) {
      modemDirty_ = false;
      modem = true;
      const Device* p = dev(plugged_);
      dsr = cts = p && !p->restarting;
    }
    if (transport && (!due.empty() || modem)) {
      const int pluggedNow = plugged_;
      lock.unlock();
      if (modem) transport->setModemLines(dsr, cts);
      for (const Outgoing& out : due) {
        if (out.device != pluggedNow && !out.force) continue;
        LineSettings pc;
        if (!transport->pcSettings(&pc)) continue;
        if (out.force || lineSettingsMatch(out.settings, pc, transport->carriesParity()))
          transport->deliver(out.bytes);
      }
      lock.lock();
      continue;
    }
    auto wake = nextTick;
    if (!timers_.empty()) wake = std::min(wake, timers_.begin()->first);
    if (!outbox_.empty()) wake = std::min(wake, outbox_.front().at);
    cv_.wait_until(lock, wake);
  }
}

void World::receiveFromPc(const std::string& bytes, const LineSettings& pc, bool parityVisible) {
  std::lock_guard lock(mutex_);
  Device* d = dev(plugged_);
  if (!d || d->restarting) return;
  if (!lineSettingsMatch(lineOf(*d), pc, parityVisible)) {
    // Garbage to the adapter: whatever it had collected is lost too.
    d->droppedBytes += static_cast<long long>(bytes.size());
    d->line.clear();
    d->overflow = false;
    return;
  }
  if (options_.pace && pc.baud > 0) {
    const int bits = 1 + 8 + (pc.parity == Parity::None ? 0 : 1) + pc.stopBits;
    const auto start = std::max(Clock::now(), inputFree_);
    inputFree_ = start + std::chrono::microseconds(static_cast<long long>(bytes.size()) * bits *
                                                   1000000LL / pc.baud);
  }
  d->bytesIn += static_cast<long long>(bytes.size());
  const long long now = nowMs();
  for (char c : bytes) handlePcByte(*d, static_cast<uint8_t>(c), now);
}

void World::modemLinesChanged() {
  modemDirty_ = true;
  cv_.notify_all();
}

// ------------------------------------------------------------------ radio

void World::startInquiry(Device& d) {
  d.inquiring = true;
  d.inquiryLineSent = false;
  const uint64_t generation = ++d.inquiryGeneration;
  const int self = indexOf(d);
  std::vector<int> found;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    const Device& o = *devices_[i];
    if (&o != &d && o.s.dcov && !o.restarting && o.peer == 0) found.push_back(static_cast<int>(i) + 1);
  }
  const int slots = static_cast<int>(found.size()) + 1;
  for (int k = 0; k < static_cast<int>(found.size()); ++k) {
    const int other = found[static_cast<std::size_t>(k)];
    schedule(options_.inquiryMs * (k + 1) / slots, [this, self, other, generation] {
      Device* me = dev(self);
      const Device* o = dev(other);
      if (!me || !o || !me->inquiring || me->inquiryGeneration != generation) return;
      // Result lines share their CR LF separators: the first opens with one.
      std::string text = inquiryLine(o->s.name, o->cod, o->rssi, o->address) + "\r\n";
      sendToPc(*me, me->inquiryLineSent ? text : "\r\n" + text);
      me->inquiryLineSent = true;
    });
  }
  schedule(options_.inquiryMs, [this, self, generation] {
    Device* me = dev(self);
    if (!me || !me->inquiring || me->inquiryGeneration != generation) return;
    sendToPc(*me, std::string(me->inquiryLineSent ? "" : "\r\n") + "Inquiry End\r\n");
    me->inquiring = false;
  });
}

void World::cancelInquiry(Device& d) {
  d.inquiring = false;
  ++d.inquiryGeneration;
}

bool World::accepts(const Device& target, const Device& initiator) const {
  if (&target == &initiator || target.peer != 0 || target.restarting || target.connecting)
    return false;
  if (!target.isAdapter) return target.connectable;
  if (target.s.master) return false;
  return target.s.bond == kNoBond || target.s.bond == initiator.address;
}

void World::attemptConnect(int from, const std::string& twelveHex, bool automatic) {
  Device* d = dev(from);
  if (!d) return;
  d->connecting = true;
  schedule(options_.connectMs, [this, from, twelveHex, automatic] {
    Device* me = dev(from);
    if (!me) return;
    me->connecting = false;
    // An automatic attempt is given up when auto-connect was switched off
    // (or the role changed) while the adapter was paging.
    if (automatic && (!me->s.master || !me->s.acon)) return;
    Device* target = findByAddress(twelveHex);
    if (me->peer == 0 && !me->restarting && target && accepts(*target, *me)) {
      connect(*me, *target);
    } else if (!automatic) {
      sendToPc(*me, "\r\nCONNECT  Attempt Fail!!\r\n");
    }
  });
}

void World::connect(Device& a, Device& b) {
  cancelInquiry(a);
  cancelInquiry(b);
  a.peer = indexOf(b);
  b.peer = indexOf(a);
  for (Device* x : {&a, &b}) {
    x->dataMode = true;
    x->heldPlus.clear();
    x->remoteAccess = false;
    x->handshakeBytes = 0;
    x->pair.clear();
  }
  sendToPc(a, "\r\nCONNECT \"" + b.address + "\"\r\n");
  sendToPc(b, "\r\nCONNECT \"" + a.address + "\"\r\n");
}

void World::disconnect(Device& d, bool tellSelf) {
  Device* p = dev(d.peer);
  const long long retry = nowMs() + options_.autoConnectRetryMs;
  d.peer = 0;
  d.dataMode = false;
  d.remoteAccess = false;
  d.nextAutoMs = retry;
  if (p) {
    p->peer = 0;
    p->dataMode = false;
    p->remoteAccess = false;
    p->nextAutoMs = retry;
    sendToPc(*p, "\r\nDISCONNECT \"" + d.address + "\"\r\n");
    if (tellSelf) sendToPc(d, "\r\nDISCONNECT \"" + p->address + "\"\r\n");
  }
}

void World::sendOverLink(Device& from, const std::string& bytes) {
  const int to = from.peer;
  if (to == 0 || bytes.empty()) return;
  const int self = indexOf(from);
  schedule(options_.latencyMs, [this, to, self, bytes] {
    Device* d = dev(to);
    if (d && d->peer == self) linkReceive(*d, bytes);
  });
}

void World::linkReceive(Device& d, const std::string& bytes) {
  d.linkData += bytes;
  if (d.linkData.size() > 4096) d.linkData.erase(0, d.linkData.size() - 4096);
  if (d.s.rcfg) {
    for (char c : bytes) remoteAccessByte(d, static_cast<uint8_t>(c));
    return;
  }
  if (d.dataMode) sendToPc(d, bytes);
}

bool World::sendFrom(int n, const std::string& bytes, std::string* error) {
  std::string ignored;
  std::lock_guard lock(mutex_);
  Device* d = dev(n);
  if (!d) return (error ? *error : ignored) = "no device " + std::to_string(n), false;
  if (!d->peer) return (error ? *error : ignored) = "not connected", false;
  sendOverLink(*d, bytes);
  return true;
}

void World::answerRemote(Device& d, uint8_t first, uint8_t second) {
  sendOverLink(d, std::string{static_cast<char>(first), static_cast<char>(second)});
}

void World::remoteAccessByte(Device& d, uint8_t b) {
  const bool ok = d.remoteAnswer == RemoteAnswer::Ok;
  if (!d.remoteAccess) {
    // Outside remote access everything is data; eight 0xAA in a row also ask
    // for remote access. (The local end sees the two-byte answers this way.)
    if (d.dataMode) sendToPc(d, std::string(1, static_cast<char>(b)));
    if (b != 0xAA) {
      d.handshakeBytes = 0;
      return;
    }
    if (++d.handshakeBytes < 8) return;
    d.handshakeBytes = 0;
    if (d.remoteAnswer == RemoteAnswer::Silent) return;
    answerRemote(d, 0xAA, ok ? 0xAA : 0x55);
    d.remoteAccess = ok;
    d.pair.clear();
    return;
  }
  if (d.remoteAnswer == RemoteAnswer::Silent) return;
  d.pair += static_cast<char>(b);
  if (d.pair.size() < 2) return;
  const auto first = static_cast<uint8_t>(d.pair[0]);
  const auto second = static_cast<uint8_t>(d.pair[1]);
  d.pair.clear();
  if (first == 0x01) {
    if (ok && second >= 1 && second <= 8) {
      d.s.baudCode = 12 + second;  // 1 = 9600 (code 13) ... 8 = 921600 (code 20)
      answerRemote(d, 0x01, 0x00);
    } else {
      answerRemote(d, 0x01, 0x01);
    }
  } else if (first == 0x00 && second == 0x80) {
    answerRemote(d, 0x00, ok ? 0x00 : 0x01);
    if (ok) d.remoteAccess = false;
  } else if (first == 0xAA && second == 0xAA) {
    // A repeated handshake while in remote access.
    d.handshakeBytes += 2;
    if (d.handshakeBytes >= 8) {
      d.handshakeBytes = 0;
      answerRemote(d, 0xAA, 0xAA);
    }
  } else {
    answerRemote(d, first, 0xFF);
  }
}

void World::restart(Device& d) {
  cancelInquiry(d);
  if (d.peer) disconnect(d, false);
  d.restarting = true;
  d.dataMode = false;
  d.line.clear();
  d.overflow = false;
  d.heldPlus.clear();
  d.s = d.factory;
  d.s.flow = d.oldFirmware || isLegacyFirmware(d.version);
  const uint64_t generation = ++d.restartGeneration;
  const int self = indexOf(d);
  if (self == plugged_) modemLinesChanged();
  schedule(options_.restartMs, [this, self, generation] {
    Device* me = dev(self);
    if (!me || me->restartGeneration != generation) return;
    me->restarting = false;
    me->nextAutoMs = nowMs();
    if (self == plugged_) modemLinesChanged();
  });
}

void World::autoConnectTick() {
  const long long now = nowMs();
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    Device& d = *devices_[i];
    if (!d.isAdapter || !d.s.master || !d.s.acon || d.s.bond == kNoBond || d.peer || d.restarting ||
        d.inquiring || d.connecting || now < d.nextAutoMs)
      continue;
    d.nextAutoMs = now + options_.autoConnectRetryMs;
    std::string bare;
    for (char c : d.s.bond)
      if (c != '-') bare += c;
    attemptConnect(static_cast<int>(i) + 1, bare, true);
  }
}

}  // namespace kx::sim
