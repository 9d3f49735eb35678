// Fuzzes the settings-file parser: each input is read as a settings text for
// the serial-port values, as at start-up (nothing is sent), and those are
// taken into the serial link's record. The programming of the adapter from a
// file has its own, slower target (fuzz_settings_load).
//
// Checked: the records stay intact; nothing reaches the adapter and no box
// the window (a line that cannot be used is one status line, nothing else);
// the lines taken come in file order, each with its key exactly as the text
// before the line's first "=" and its value as what follows it, so no value
// can take over another key; every text value kept is the last such line's value (never a stale or
// cut one, never one run together from two fields); and the serial-port
// values the file gives reach the link's record unchanged (the others leave
// the record's own).
#include <array>
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
  std::array<char, BUFSIZ> fileBuffer;  // each input's stream reads through it
};

Harness* gHarness = nullptr;

// Takes the next line off `rest` and returns it without its line end.
std::string_view nextLine(std::string_view& rest) {
  const std::size_t nl = rest.find('\n');
  std::string_view line = rest.substr(0, nl);
  rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Every key's last value ("" when none), as views into the check's entries.
using LastValues = std::array<std::string_view, kx::kSettingsFileKeyCount>;

// The entries come in file order; each entry's key is the text before its
// line's first "=", and its value the text after it. Returns every key's last
// value.
LastValues lastValues(const kx::SettingsFileCheck& check, std::string_view input) {
  // A UTF-8 byte-order mark before the first line is no part of it.
  std::string_view rest = kx::skipUtf8Bom(input);
  std::string_view line;
  int number = 0;  // line's
  LastValues last{};
  for (const kx::SettingsLine& e : check.entries) {
    KX_FUZZ_REQUIRE(e.lineNumber > number, "line " + std::to_string(e.lineNumber) +
                                               " was taken after line " + std::to_string(number));
    while (number < e.lineNumber && !rest.empty()) {
      line = nextLine(rest);
      ++number;
    }
    if (number < e.lineNumber) line = {};  // past the last line
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
void requireLast(const char (&field)[N], const LastValues& last, int key) {
  const std::string_view want = last[static_cast<std::size_t>(key)];
  KX_FUZZ_REQUIRE(kx::fieldView(field) == want,
                  std::string(kx::kSettingsFileKeys[key]) + " holds " +
                      kx::escapeBytes(kx::fieldView(field)) + ", the file's last line " +
                      kx::escapeBytes(want));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::quietStartup();
  gHarness = new Harness;
  // Boxes and status lines are only counted.
  gHarness->window.setRecording(false);
  gHarness->window.setDigesting(false);
  kx::mainWindowHandle = &gHarness->window;
  kx::clearUart();
  kx::uart.handle = &gHarness->port;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Harness& h = *gHarness;
  FILE* file = kx::fuzz::inputAsFile(data, size, h.fileBuffer);
  h.window.clear();

  // The check is the one the read took its lines from.
  const kx::SettingsFileCheck check = kx::readSettings(file, "fuzzed settings", 0);
  std::fclose(file);
  kx::fuzz::checkRecordInvariants();
  require(h.window.boxCount() == 0, "reading at start-up showed a box");
  KX_FUZZ_REQUIRE(h.window.received() == check.problems.size(),
                  std::to_string(h.window.received()) + " status lines for " +
                      std::to_string(check.problems.size()) + " lines that cannot be used");

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const LastValues last = lastValues(check, input);
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
