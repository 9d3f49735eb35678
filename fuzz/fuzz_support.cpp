#include "fuzz_support.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "common/debug_log.h"
#include "platform/clock.h"

namespace kx::fuzz {

void fail(const std::string& what) {
  std::fprintf(stderr, "INVARIANT BROKEN: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

std::FILE* inputAsFile(const uint8_t* data, std::size_t size, std::span<char> buffer) {
  // fmemopen reads a zero-length buffer as an empty file.
  static char empty[1];
  std::FILE* file =
      fmemopen(size ? const_cast<uint8_t*>(data) : reinterpret_cast<uint8_t*>(empty), size, "r");
  require(file != nullptr, "fmemopen failed");
  require(std::setvbuf(file, buffer.data(), _IOFBF, buffer.size()) == 0, "setvbuf failed");
  return file;
}

namespace {

bool hexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool modelAddress(std::string_view s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  int digits = 0;
  for (char c : s) {
    if (hexDigit(c)) ++digits;
    else if (c != '-' && c != ':') return false;
  }
  return digits == 12;
}

std::string_view blanksOff(std::string_view s) {
  const std::size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

}  // namespace

bool modelIsEventLine(std::string_view text, bool* disconnect) {
  if (disconnect) *disconnect = text.rfind("DISCONNECT", 0) == 0;
  if (text.rfind("DISCONNECT", 0) == 0) {
    const std::string_view rest = text.substr(10);
    if (rest.empty() || (rest[0] != ' ' && rest[0] != '"')) return false;
    return modelAddress(blanksOff(rest));
  }
  if (text.rfind("CONNECT ", 0) != 0) return false;
  const std::string_view body = blanksOff(text.substr(8));
  return body == "Attempt Fail!!" || modelAddress(body);
}

bool modelHasDeviceAddress(std::string_view text) {
  for (std::size_t at = 0; at + 14 <= text.size(); ++at) {
    bool form = true;
    for (std::size_t i = 0; i < 14 && form; ++i)
      form = (i == 4 || i == 7) ? text[at + i] == '-' : hexDigit(text[at + i]);
    const auto joined = [&](std::size_t i) { return text[i] == '-' || hexDigit(text[i]); };
    if (form && !(at > 0 && joined(at - 1)) && !(at + 14 < text.size() && joined(at + 14)))
      return true;
  }
  return false;
}

void quietStartup() {
  debugFlag = 0;
  // A scaled wait below a microsecond is no wait.
  setClockScale(1e-9);
}

void FuzzWindow::fold(int64_t value, const std::string& text) {
  ++received_;
  if (!digesting_) return;
  const auto mix = [this](uint8_t byte) { digest_ = (digest_ ^ byte) * 1099511628211ull; };
  for (int i = 0; i < 8; ++i) mix(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
  for (char c : text) mix(static_cast<uint8_t>(c));
  mix(0);
}

void FuzzWindow::post(int32_t id, int64_t lParam, const std::string& text) {
  fold(id * 1000003ll + lParam, text);
  if (recording_) notifications_.push_back({id, lParam, text});
}

void FuzzWindow::send(int32_t id, int64_t lParam, const std::string& text) {
  if (sendHandler_) sendHandler_({id, lParam, text});
  post(id, lParam, text);
}

void FuzzWindow::setTimer(int32_t id, int periodMs) {
  killTimer(id);
  timers_.emplace_back(id, periodMs);
  std::sort(timers_.begin(), timers_.end());
}

void FuzzWindow::killTimer(int32_t id) {
  std::erase_if(timers_, [id](const auto& t) { return t.first == id; });
}

MsgResult FuzzWindow::messageBox(const std::string& text, const std::string&, MsgButtons buttons,
                                 MsgIcon) {
  postMessageBox(text);
  return buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
}

void FuzzWindow::postMessageBox(const std::string& text) {
  fold(-1, text);
  ++boxCount_;
  if (recording_) boxes_.push_back(text);
}

void FuzzWindow::clear() {
  notifications_.clear();
  boxes_.clear();
  boxCount_ = 0;
  received_ = 0;
  digest_ = kDigestStart;
  timers_.clear();
}

std::string FuzzWindow::timers() const {
  std::string out;
  for (const auto& [id, period] : timers_)
    out += std::to_string(id) + ":" + std::to_string(period) + " ";
  return out;
}

int LoopbackAdapter::configure(const LineSettings& settings) {
  settings_ = settings;
  return 0;
}

int LoopbackAdapter::read(uint8_t*, std::size_t, int, std::size_t* got) {
  *got = 0;
  return 0;
}

int LoopbackAdapter::write(const uint8_t* data, std::size_t length, int) {
  if (answer_) answer_(data, length);
  return 0;
}

int LoopbackAdapter::modemStatus(uint32_t* bits) {
  *bits = MODEM_CTS_ON | MODEM_DSR_ON;
  return 0;
}

}  // namespace kx::fuzz
