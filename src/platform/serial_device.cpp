#include "platform/serial_device.h"

namespace kx {
namespace {

constexpr int kSpeeds[] = {1200,  2400,  4800,   9600,   14400,  19200,
                           38400, 57600, 115200, 230400, 460800, 921600};

}  // namespace

Hook<std::unique_ptr<SerialDevice>()> serialDeviceFactory;

std::unique_ptr<SerialDevice> createSerialDevice() {
  if (auto device = serialDeviceFactory.tryCall()) return *std::move(device);
  return createNativeSerialDevice();
}

bool SerialDevice::isSupportedBaud(int baud) {
  for (int speed : kSpeeds)
    if (speed == baud) return true;
  return false;
}

}  // namespace kx
