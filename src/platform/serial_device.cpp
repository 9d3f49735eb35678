#include "platform/serial_device.h"

#include <cerrno>

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

std::string openFailureReason(int err, const std::string& port) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "No such port: nothing answers to " + port + ". Is the adapter plugged in?";
    case EISDIR:
    case ENOTTY:
    case EINVAL:
      return port + " is not a serial port.";
    case EBUSY: {
      const std::string holders = portHolders(port);
      return holders.empty() ? "The port is in use by another program."
                             : "The port is in use by another program: " + holders + ".";
    }
    case EACCES:
    case EPERM:
      return permissionHint(port);
    default:
      return "Error " + std::to_string(err) + ": " + errnoText(err) + ".";
  }
}

}  // namespace kx
