// Fuzzes settings files: each input is read as a file, once only for the
// serial-port values (start-up) and once programming the simulated adapter
// in this process (File > Load). The records must stay intact and, with the
// adapter back at its line settings, a fresh "AT\r" must still be answered
// "\r\nOK\r\n".
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "atcmd/receive_dispatch.h"
#include "atcmd/transmission.h"
#include "common/records.h"
#include "common/text.h"
#include "device/settings_file.h"
#include "fuzz_support.h"
#include "platform/clock.h"
#include "platform/memory_form.h"
#include "platform/recording_window.h"
#include "platform/window.h"
#include "serial/uart.h"
#include "sim/in_process.h"
#include "sim/world.h"

namespace {

using kx::fuzz::require;

struct Harness {
  kx::RecordingWindow window;
  kx::MemoryForm page;
  std::unique_ptr<kx::sim::World> world;
  std::shared_ptr<kx::sim::InProcessTransport> link;
  std::string path;
};

Harness* gHarness = nullptr;

void setPcLine() {
  kx::uart.baud = 19200;
  kx::uart.stopBits = 1;
  kx::uart.parity = kx::PARITY_NONE_FLAG;
  kx::uart.flow = 0;
}

// Puts the adapter and the PC port back at 19200 8N1, no flow control, echo
// off and responses on, so that every input starts from the same line.
void restoreLine() {
  kx::sim::World& w = *gHarness->world;
  for (const auto& [field, value] : {std::pair<const char*, const char*>{"baud", "19200"},
                                     {"parity", "none"},
                                     {"stop", "1"},
                                     {"flow", "off"},
                                     {"echo", "off"},
                                     {"resp", "on"}}) {
    std::string error;
    require(w.set(1, field, value, &error), std::string("simulator refused ") + field + ": " + error);
  }
  const bool changed = kx::uart.baud != 19200 || kx::uart.stopBits != 1 ||
                       kx::uart.parity != kx::PARITY_NONE_FLAG || kx::uart.flow != 0;
  setPcLine();
  if (changed) require(kx::UartChangeSettings() == 0, "PC port refused 19200 8N1");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::quietStartup();
  gHarness = new Harness;
  kx::setClockScale(0.0001);  // settle times and mode-change waits
  kx::mainWindowHandle = &gHarness->window;

  char pattern[] = "/tmp/kx-fuzz-settings-XXXXXX";
  const int fd = mkstemp(pattern);
  require(fd >= 0, "no temporary file");
  close(fd);
  gHarness->path = pattern;

  kx::sim::WorldOptions options;
  options.remotes = 0;  // nothing to connect to: the link stays in command mode
  gHarness->world = std::make_unique<kx::sim::World>(options);
  gHarness->link = kx::sim::attachInProcess(*gHarness->world);
  kx::clearUart();
  kx::copyField(kx::uart.comPort, "/dev/simulated");
  setPcLine();
  kx::resetCommandEngine();
  kx::installCommandEngine();
  require(kx::UartInit() == 0, "simulated adapter did not open");
  // libFuzzer ends with exit(): close the link (joining its threads) and
  // stop the simulator before the statics go.
  std::atexit([] {
    kx::UartDeinit();
    gHarness->link->detach();
    gHarness->world.reset();
    std::remove(gHarness->path.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Harness& h = *gHarness;
  {
    FILE* f = std::fopen(h.path.c_str(), "wb");
    require(f != nullptr, "cannot write the settings file");
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  h.window.clear();
  kx::clearLocalDev();
  kx::localDev.cmdResponse = 1;

  // Start-up: serial-port values only, nothing sent.
  require(kx::LoadSettings(h.path, 0) == 1, "settings file not read");
  kx::fuzz::checkRecordInvariants();
  // (The link's modem-status thread may post indicator updates meanwhile.)
  require(h.window.statusTexts().empty() && h.window.boxes().empty(),
          "reading at start-up reported to the window");
  kx::takeSerialSettingsFromFile();
  kx::fuzz::checkRecordInvariants();
  setPcLine();

  // File > Load: every differing value programmed into the adapter.
  kx::localDev.initialised = 1;
  require(kx::LoadSettings(h.path, 1, &h.page) == 1, "settings file not read for loading");
  kx::fuzz::checkRecordInvariants();

  restoreLine();
  kx::localDev.dataMode = 0;
  kx::localDev.cmdResponse = 1;
  require(kx::sendATCommand("AT\r", 0, 0, 1000) == 0, "fresh AT after loading not answered");
  {
    std::lock_guard lock(kx::atCommandMutex);
    std::string seen;
    for (const char* f : {"baud", "parity", "stop", "flow", "echo", "resp"}) {
      std::string v;
      h.world->get(1, f, &v);
      seen += std::string(f) + "=" + v + " ";
    }
    const kx::LineSettings pc = h.link->port()->settings();
    seen += "pc " + std::to_string(pc.baud) + " parity " + std::to_string(static_cast<int>(pc.parity)) +
            " stop " + std::to_string(pc.stopBits) + " rtscts " + std::to_string(pc.rtsCts) + "; ";
    for (const std::string& c : h.world->received(1)) seen += kx::escapeBytes(c) + " ";
    require(std::string(kx::fieldView(kx::atCommand.response)) == "\r\nOK\r\n",
            "fresh AT answered " + kx::escapeBytes(kx::fieldView(kx::atCommand.response)) +
                "; the adapter received " + seen);
    kx::clearAtCommand();
  }
  h.window.clear();
  return 0;
}
