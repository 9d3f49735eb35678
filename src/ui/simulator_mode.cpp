// The simulator's headers come before Qt's: Qt defines `emit` as a macro,
// and the world has a member of that name.
// clang-format off
#include "sim/in_process.h"
#include "sim/world.h"
// clang-format on

#include "ui/simulator_mode.h"

#include <string_view>

#include "common/debug_log.h"
#include "common/records.h"

namespace kx {

struct SimulatorMode::State {
  sim::World world;
  std::shared_ptr<sim::InProcessTransport> link;

  static sim::WorldOptions options() {
    sim::WorldOptions o;
    o.adapters = 2;
    return o;
  }
  State() : world(options()), link(sim::attachInProcess(world)) {}
  ~State() { link->detach(); }
};

SimulatorMode::SimulatorMode() : state_(std::make_unique<State>()) {
  debugLog("UI: simulated adapters in the process; every port reaches the plugged one");
}

SimulatorMode::~SimulatorMode() = default;

int SimulatorMode::pluggedAdapter() const { return state_->world.plugged(); }

void SimulatorMode::prepareStartup(MainWindow::Startup& startup) {
  startup.loadSettings = [load = startup.loadSettings, this] {
    load();
    useAdapterLineSettings();
  };
  startup.saveSettings = nullptr;
}

void SimulatorMode::useAdapterLineSettings() {
  const int n = pluggedAdapter();
  std::string baud, parity, stop, flow;
  sim::World& world = state_->world;
  if (!world.get(n, "baud", &baud) || !world.get(n, "parity", &parity) ||
      !world.get(n, "stop", &stop) || !world.get(n, "flow", &flow))
    return;
  uart.baud = std::stoi(baud);
  uart.parity = parity == "odd" ? PARITY_ODD_FLAG : parity == "even" ? PARITY_EVEN_FLAG : PARITY_NONE_FLAG;
  uart.stopBits = std::stoi(stop);
  uart.flow = flow == "on" ? 1 : 0;
}

int SimulatorMode::promptedDevice(const std::string& boxText) {
  // The unpairing's success box ends by asking for Device 1 back.
  if (std::string_view(boxText).ends_with("Connect back Device 1")) return 1;
  constexpr std::string_view head = "Connect Device ";
  constexpr std::string_view tail = " and then Press OK";
  const std::string_view text = boxText;
  if (!text.starts_with(head) || !text.ends_with(tail)) return 0;
  int device = 0;
  std::size_t i = head.size();
  for (; i < text.size() && i - head.size() < 2 && text[i] >= '0' && text[i] <= '9'; ++i)
    device = device * 10 + (text[i] - '0');
  return i > head.size() && text.substr(i).starts_with(" to ") ? device : 0;
}

void SimulatorMode::attachTo(MainWindow& window) {
  window.afterMessageBox = [this](const std::string& text, MsgResult answer) {
    const int device = promptedDevice(text);
    if (device > 0 && answer == MsgResult::Ok) state_->world.plug(device);
  };
}

}  // namespace kx
