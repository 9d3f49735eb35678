#include "sim/in_process.h"

namespace kx::sim {

InProcessTransport::InProcessTransport(std::shared_ptr<ScriptedPort> port) : port_(std::move(port)) {}

bool InProcessTransport::pcSettings(LineSettings* out) {
  if (!port_->isOpen()) return false;
  *out = port_->settings();
  return true;
}

void InProcessTransport::deliver(const std::string& bytes) { port_->feed(bytes); }

void InProcessTransport::setModemLines(bool dsr, bool cts) {
  port_->setModemBits((dsr ? MODEM_DSR_ON : 0u) | (cts ? MODEM_CTS_ON : 0u));
}

void InProcessTransport::worldGone() {
  std::lock_guard lock(mutex_);
  world_ = nullptr;
}

void InProcessTransport::detach() {
  World* world = nullptr;
  {
    std::lock_guard lock(mutex_);
    world = world_;
    world_ = nullptr;
  }
  port_->writeObserver = nullptr;
  serialDeviceFactory = nullptr;
  if (world) world->setTransport(nullptr);
}

std::shared_ptr<InProcessTransport> attachInProcess(World& world) {
  auto port = std::make_shared<ScriptedPort>();
  auto transport = std::make_shared<InProcessTransport>(port);
  transport->world_ = &world;
  std::weak_ptr<InProcessTransport> weak = transport;
  port->writeObserver = [weak](const std::string& bytes) {
    auto self = weak.lock();
    if (!self) return;
    // Holding the mutex keeps detach() from finishing while the world is used.
    std::lock_guard lock(self->mutex_);
    if (self->world_) self->world_->receiveFromPc(bytes, self->port_->settings(), true);
  };
  world.setTransport(transport);
  useScriptedPort(port);
  return transport;
}

}  // namespace kx::sim
