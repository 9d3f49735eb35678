#include "support/link_fixture.h"

#include "common/debug_log.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "serial/port_discovery.h"
#include "serial/uart.h"

namespace kx::test {

ChunkCollector& ChunkCollector::instance() {
  static ChunkCollector collector;
  return collector;
}

void ChunkCollector::handler(const uint8_t* data, uint32_t length) {
  ChunkCollector& c = instance();
  std::lock_guard lock(c.mutex_);
  c.chunks_.push_back({std::string(reinterpret_cast<const char*>(data), length),
                       std::this_thread::get_id()});
}

void ChunkCollector::clear() {
  std::lock_guard lock(mutex_);
  chunks_.clear();
}

std::vector<Chunk> ChunkCollector::chunks() const {
  std::lock_guard lock(mutex_);
  return chunks_;
}

std::string ChunkCollector::allBytes() const {
  std::lock_guard lock(mutex_);
  std::string all;
  for (const auto& c : chunks_) all += c.bytes;
  return all;
}

int ChunkCollector::emptyCount() const {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (const auto& c : chunks_) n += c.bytes.empty();
  return n;
}

void LinkTest::SetUp() {
  clearUart();
  clearLocalDev();
  ChunkCollector::instance().clear();
  receiveHandler = &ChunkCollector::handler;
  mainWindowHandle = &window;
}

void LinkTest::TearDown() {
  UartDeinit();
  receiveHandler = nullptr;
  serialDeviceFactory = nullptr;
  portEnumerator = nullptr;
  setClockScale(1.0);
  closeDebugLog();
  mainWindowHandle = nullptr;
}

void LinkTest::setLine(const std::string& port, int baud, int parity, int stopBits, int flow) {
  copyField(uart.comPort, port);
  uart.baud = baud;
  uart.parity = parity;
  uart.stopBits = stopBits;
  uart.flow = flow;
}

}  // namespace kx::test
