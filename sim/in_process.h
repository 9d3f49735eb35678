// The simulator inside the test process: a kx::ScriptedPort stands for the
// PC's serial port, and the plugged adapter answers what the program writes
// to it. Unlike a pseudo-terminal it carries full parity and the DSR and CTS
// lines (both on while an adapter is plugged and not restarting).
//
//   kx::sim::World world(options);
//   auto link = kx::sim::attachInProcess(world);   // installs the device factory
//   // ... kx::UartInit() now opens the simulated adapter, whatever uart.comPort says
//   link->detach();                                // or let `world` go first
//
// Threading: the program's writes reach the world on the writing thread; the
// world's worker thread feeds the answers into the port. detach() may be
// called from any thread, before or after the world is destroyed; after it
// returns (or after the world's destructor) the world is not touched again.
#pragma once

#include <memory>
#include <mutex>

#include "platform/scripted_serial_device.h"
#include "sim/world.h"

namespace kx::sim {

class InProcessTransport : public Transport {
 public:
  explicit InProcessTransport(std::shared_ptr<ScriptedPort> port);

  bool pcSettings(LineSettings* out) override;
  bool carriesParity() const override { return true; }
  void deliver(const std::string& bytes) override;
  void setModemLines(bool dsr, bool cts) override;
  void worldGone() override;

  // The port the serial link opens; tests may inspect it (dtr(), rts(), ...).
  const std::shared_ptr<ScriptedPort>& port() const { return port_; }
  // Detaches from the world and removes the device factory.
  void detach();

 private:
  friend std::shared_ptr<InProcessTransport> attachInProcess(World& world);
  std::shared_ptr<ScriptedPort> port_;
  std::mutex mutex_;
  World* world_ = nullptr;
};

// Plugs `world` into the platform layer: installs a serial-device factory so
// that the next kx::UartInit() opens the world's plugged adapter.
std::shared_ptr<InProcessTransport> attachInProcess(World& world);

}  // namespace kx::sim
