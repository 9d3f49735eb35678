// Fuzzes the settings-file parser: each input is read as a settings text for
// the serial-port values, as at start-up (nothing is sent), and those are
// taken into the serial link's record. The programming of the adapter from a
// file has its own, slower target (fuzz_settings_load).
//
// Checked: the records stay intact; nothing reaches the window or the
// adapter; every text value kept is a value the file holds (never a stale or
// cut one, never one run together from two fields), and the serial-port
// values reach the link's record unchanged.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "common/records.h"
#include "common/text.h"
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

template <std::size_t N>
void requireFromFile(const char (&field)[N], const char* name, std::string_view input) {
  const std::string_view text = kx::fieldView(field);
  KX_FUZZ_REQUIRE(text.empty() || input.find(text) != std::string_view::npos,
                  std::string("fileSettings.") + name + " holds " + kx::escapeBytes(text) +
                      ", which the file does not");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::quietStartup();
  gHarness = new Harness;
  gHarness->window.setRecording(false);  // only whether anything arrives matters
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
  require(h.window.received() == 0, "reading at start-up reported to the window");

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const kx::FileSettings& f = kx::fileSettings;
  requireFromFile(f.comPort, "comPort", input);
  requireFromFile(f.name, "name", input);
  requireFromFile(f.pin, "pin", input);
  requireFromFile(f.remoteAddress, "remoteAddress", input);
  requireFromFile(f.remoteService, "remoteService", input);
  requireFromFile(f.remoteCod, "remoteCod", input);

  kx::takeSerialSettingsFromFile();
  kx::fuzz::checkRecordInvariants();
  require(kx::fieldView(kx::uart.comPort) == kx::fieldView(f.comPort) && kx::uart.baud == f.baud &&
              kx::uart.stopBits == f.stopBits && kx::uart.parity == f.parity &&
              kx::uart.flow == f.flow,
          "the serial-port values did not reach the link's record");
  return 0;
}
