// Fuzzes the settings-file parser: each input is read as a settings text for
// the serial-port values, as at start-up (nothing is sent), and those are
// taken into the serial link's record. The programming of the adapter from a
// file has its own, slower target (fuzz_settings_load).
//
// Checked: the records stay intact; nothing reaches the adapter and no box
// the window (a line that cannot be used is one status line, nothing else);
// every line taken has its key exactly as the text before the line's first
// "=" and its value as what follows it, so no value can take over another
// key; every text value kept is the last such line's value (never a stale or
// cut one, never one run together from two fields); and the serial-port
// values the file gives reach the link's record unchanged (the others leave
// the record's own).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/records.h"
#include "common/text.h"
#include "device/settings_check.h"
#include "device/settings_file.h"
#include "fuzz_support.h"

namespace {

using kx::fuzz::require;

void noWrite(const uint8_t*, std::size_t) {
  require(false, "reading at start-up wrote to the adapter");
}

struct Harness {
  kx::fuzz::FuzzWindow window;
  kx::fuzz::LoopbackAdapter port{noWrite};
};

Harness* gHarness = nullptr;

// The input's lines, without their line ends; lines[0] is line 1.
std::vector<std::string_view> linesOf(std::string_view input) {
  std::vector<std::string_view> lines;
  while (!input.empty()) {
    const std::size_t nl = input.find('\n');
    std::string_view line = input.substr(0, nl);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (nl == std::string_view::npos) break;
    input.remove_prefix(nl + 1);
  }
  return lines;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Each entry's key is the text before its line's first "=", and its value
// the text after it. Returns every key's last value ("" when none).
std::vector<std::string> lastValues(const kx::SettingsFileCheck& check, std::string_view input) {
  // A UTF-8 byte-order mark before the first line is no part of it.
  const std::vector<std::string_view> lines = linesOf(kx::skipUtf8Bom(input));
  std::vector<std::string> last(kx::kSettingsFileKeyCount);
  for (const kx::SettingsLine& e : check.entries) {
    const std::size_t at = static_cast<std::size_t>(e.lineNumber) - 1;
    const std::string_view line = at < lines.size() ? lines[at] : std::string_view();
    const std::size_t eq = line.find('=');
    KX_FUZZ_REQUIRE(eq != std::string_view::npos &&
                        trimmed(line.substr(0, eq)) == kx::kSettingsFileKeys[e.key] &&
                        trimmed(line.substr(eq + 1)) == trimmed(e.value),
                    "line " + std::to_string(e.lineNumber) + " " + kx::escapeBytes(line) +
                        " was taken for " + kx::kSettingsFileKeys[e.key] + " = " +
                        kx::escapeBytes(e.value));
    last[static_cast<std::size_t>(e.key)] = e.value;
  }
  return last;
}

template <std::size_t N>
void requireLast(const char (&field)[N], const std::vector<std::string>& last, int key) {
  const std::string& want = last[static_cast<std::size_t>(key)];
  KX_FUZZ_REQUIRE(kx::fieldView(field) == want,
                  std::string(kx::kSettingsFileKeys[key]) + " holds " +
                      kx::escapeBytes(kx::fieldView(field)) + ", the file's last line " +
                      kx::escapeBytes(want));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::quietStartup();
  gHarness = new Harness;
  gHarness->window.setRecording(false);  // boxes are counted apart from status lines
  kx::mainWindowHandle = &gHarness->window;
  kx::clearUart();
  kx::uart.handle = &gHarness->port;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Harness& h = *gHarness;
  FILE* file = kx::fuzz::inputAsFile(data, size);
  h.window.clear();

  kx::readSettings(file, "fuzzed settings", 0);
  std::fclose(file);
  kx::fuzz::checkRecordInvariants();
  require(h.window.boxCount() == 0, "reading at start-up showed a box");

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  FILE* again = kx::fuzz::inputAsFile(data, size);
  const kx::SettingsFileCheck check = kx::checkSettingsStream(again);
  std::fclose(again);
  const std::vector<std::string> last = lastValues(check, input);
  const kx::FileSettings& f = kx::fileSettings;
  requireLast(f.comPort, last, kx::kKeyPort);
  requireLast(f.name, last, kx::kKeyName);
  requireLast(f.pin, last, kx::kKeyPin);
  requireLast(f.remoteAddress, last, kx::kKeyRemoteAddress);
  requireLast(f.remoteService, last, kx::kKeyRemoteService);
  requireLast(f.remoteCod, last, kx::kKeyRemoteCod);

  // A value the file gives reaches the link's record unchanged; one it does
  // not give (an empty port, a zero speed, stop bits or parity) leaves the
  // record's own.
  const std::string oldPort(kx::fieldView(kx::uart.comPort));
  const int32_t oldBaud = kx::uart.baud, oldStop = kx::uart.stopBits, oldParity = kx::uart.parity;
  kx::takeSerialSettingsFromFile();
  kx::fuzz::checkRecordInvariants();
  const auto given = [](int32_t value, int32_t old) { return value != 0 ? value : old; };
  require(kx::fieldView(kx::uart.comPort) ==
                  (f.comPort[0] != '\0' ? std::string(kx::fieldView(f.comPort)) : oldPort) &&
              kx::uart.baud == given(f.baud, oldBaud) &&
              kx::uart.stopBits == given(f.stopBits, oldStop) &&
              kx::uart.parity == given(f.parity, oldParity) && kx::uart.flow == f.flow,
          "the serial-port values did not reach the link's record");
  return 0;
}
