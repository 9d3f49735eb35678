#include "cli/ports_command.h"

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_app.h"
#include "common/text.h"
#include "platform/serial_device.h"
#include "serial/port_discovery.h"

namespace kx::cli {
namespace {

std::string hex4(int id) { return formatBounded(8, "%04X", static_cast<unsigned>(id)); }

}  // namespace

int listPorts(const Options& options, std::FILE* out) {
  const std::vector<std::string> names = options.ports.empty() ? enumeratePorts() : options.ports;
  for (const std::string& name : names) {
    const PortDetails d = portDetails(name);
    const std::string holders = portHolders(name);
    if (options.json) {
      nlohmann::ordered_json j;
      j["port"] = latin1ToUtf8(name);
      j["description"] = latin1ToUtf8(d.description);
      j["usb_vendor"] = d.usbVendor >= 0 ? nlohmann::ordered_json(hex4(d.usbVendor)) : nullptr;
      j["usb_product"] = d.usbProduct >= 0 ? nlohmann::ordered_json(hex4(d.usbProduct)) : nullptr;
      j["manufacturer"] = latin1ToUtf8(d.manufacturer);
      j["serial_number"] = latin1ToUtf8(d.serialNumber);
      j["by_id"] = d.byId;
      j["by_path"] = d.byPath;
      j["held_by"] = latin1ToUtf8(holders);
      std::fprintf(out, "%s\n", j.dump().c_str());
      continue;
    }
    std::fprintf(out, "%s\n", name.c_str());
    auto field = [&](const char* label, const std::string& value) {
      if (!value.empty()) std::fprintf(out, "  %-13s %s\n", label, value.c_str());
    };
    field("description", d.description);
    if (d.usbVendor >= 0) field("USB id", hex4(d.usbVendor) + ":" + hex4(d.usbProduct));
    field("manufacturer", d.manufacturer);
    field("serial number", d.serialNumber);
    for (const std::string& link : d.byId) field("by-id", link);
    for (const std::string& link : d.byPath) field("by-path", link);
    field("held by", holders.empty() ? "nobody" : holders);
  }
  return kExitOk;
}

}  // namespace kx::cli
