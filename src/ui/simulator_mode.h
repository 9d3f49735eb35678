// The window in front of simulated adapters inside the process, for trying
// the tool without an adapter on any system (`kx627-config --simulator`):
// two adapters, one plugged into the port, and remote devices in range.
// Whatever port the page opens reaches the plugged adapter. Answering OK to
// the pairing prompt "Connect Device N to ... and then Press OK" plugs
// adapter N, as a person swaps the adapters on the port.
//
// Threading: built and destroyed on the UI thread; it must outlive the
// window's serial link (destroy the window first).
#pragma once

#include <memory>
#include <string>

#include "ui/main_window.h"

namespace kx {

class SimulatorMode {
 public:
  // The port name the page preselects.
  static constexpr const char* kPortName = "SIM";

  SimulatorMode();
  ~SimulatorMode();
  SimulatorMode(const SimulatorMode&) = delete;
  SimulatorMode& operator=(const SimulatorMode&) = delete;

  // Lets the window's prompts plug the adapter they name: pairing's "Connect
  // Device N to ...", and unpairing's last word "Connect back Device 1".
  void attachTo(MainWindow& window);

  // The simulated adapter on the port now (1 or 2).
  int pluggedAdapter() const;

  // A trial's start: the page shows the plugged adapter's own line settings,
  // whatever settings.txt says of a real adapter, and the real settings.txt
  // (the user's port and speed) is left as it was.
  void prepareStartup(MainWindow::Startup& startup);

  // The adapter a pairing prompt's text asks for, or 0 for any other text.
  static int promptedDevice(const std::string& boxText);

 private:
  // Puts the plugged adapter's own line settings into `uart`, where the
  // page takes its serial controls from.
  void useAdapterLineSettings();

  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kx
