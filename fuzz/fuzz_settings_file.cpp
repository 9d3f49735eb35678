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
// values reach the link's record unchanged.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

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

// The input's line `number` (1-based), without its line end.
std::string_view lineOf(std::string_view input, int number) {
  for (int i = 1; i < number; ++i) {
    const std::size_t nl = input.find('\n');
    if (nl == std::string_view::npos) return {};
    input.remove_prefix(nl + 1);
  }
  std::string_view line = input.substr(0, input.find('\n'));
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Each entry's key is the text before its line's first "=", and its value
// the text after it; returns the last value of `key`'s lines, if any.
std::string lastValue(const kx::SettingsFileCheck& check, std::string_view input, int key) {
  std::string value;
  for (const kx::SettingsLine& e : check.entries) {
    if (e.key != key) continue;
    const std::string_view line = lineOf(input, e.lineNumber);
    const std::size_t eq = line.find('=');
    KX_FUZZ_REQUIRE(eq != std::string_view::npos &&
                        trimmed(line.substr(0, eq)) == kx::kSettingsFileKeys[key] &&
                        trimmed(line.substr(eq + 1)) == trimmed(e.value),
                    "line " + std::to_string(e.lineNumber) + " " + kx::escapeBytes(line) +
                        " was taken for " + kx::kSettingsFileKeys[key] + " = " +
                        kx::escapeBytes(e.value));
    value = e.value;
  }
  return value;
}

template <std::size_t N>
void requireLast(const char (&field)[N], const kx::SettingsFileCheck& check,
                 std::string_view input, int key) {
  const std::string want = lastValue(check, input, key);
  KX_FUZZ_REQUIRE(kx::fieldView(field) == want,
                  std::string(kx::kSettingsFileKeys[key]) + " holds " +
                      kx::escapeBytes(kx::fieldView(field)) + ", the file's last line " +
                      kx::escapeBytes(want));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::quietStartup();
  gHarness = new Harness;
  gHarness->window.setRecording(true);  // boxes are told apart from status lines
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
  require(h.window.boxes().empty(), "reading at start-up showed a box");

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  FILE* again = kx::fuzz::inputAsFile(data, size);
  const kx::SettingsFileCheck check = kx::checkSettingsStream(again);
  std::fclose(again);
  for (int key = 0; key < kx::kSettingsFileKeyCount; ++key) lastValue(check, input, key);
  const kx::FileSettings& f = kx::fileSettings;
  requireLast(f.comPort, check, input, kx::kKeyPort);
  requireLast(f.name, check, input, kx::kKeyName);
  requireLast(f.pin, check, input, kx::kKeyPin);
  requireLast(f.remoteAddress, check, input, kx::kKeyRemoteAddress);
  requireLast(f.remoteService, check, input, kx::kKeyRemoteService);
  requireLast(f.remoteCod, check, input, kx::kKeyRemoteCod);

  kx::takeSerialSettingsFromFile();
  kx::fuzz::checkRecordInvariants();
  require(kx::fieldView(kx::uart.comPort) == kx::fieldView(f.comPort) && kx::uart.baud == f.baud &&
              kx::uart.stopBits == f.stopBits && kx::uart.parity == f.parity &&
              kx::uart.flow == f.flow,
          "the serial-port values did not reach the link's record");
  return 0;
}
