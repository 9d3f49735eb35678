#include <libserialport.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/debug_log.h"
#include "serial/port_discovery.h"
#include "serial/port_enum.h"

namespace kx {

const char* const kNoPortsHelp =
    "No serial port was found. Plug in the adapter (a USB serial adapter shows up as "
    "/dev/ttyUSB0 or /dev/ttyACM0; the list follows as ports come and go). If it is plugged "
    "in and still not listed, check its cable and driver (dmesg). A port that is listed but "
    "cannot be opened is usually a permission matter: add your user to the dialout group "
    "(sudo usermod -aG dialout $USER) and log in again.";
const char* const kExamplePortName = "/dev/ttyUSB0";
const char* const kPortsListHelp =
    "list the serial ports (or P): description, USB vendor\n"
    "                              and product id, serial number, the /dev/serial/by-id\n"
    "                              and by-path names that point to it (--port takes them\n"
    "                              too) and the programs that hold it open\n";

std::vector<std::string> systemPorts() {
  std::vector<std::string> names;
  sp_port** ports = nullptr;
  const sp_return rc = sp_list_ports(&ports);
  if (rc != SP_OK) {
    debugLog("ERROR: Failed to list serial ports. retVal = %d", static_cast<int>(rc));
    return names;
  }
  for (int i = 0; ports[i]; ++i) {
    if (const char* name = sp_get_port_name(ports[i]); name && *name) names.emplace_back(name);
  }
  sp_free_port_list(ports);
  return names;
}

bool portExists(const std::string& name) {
  struct stat st {};
  return !name.empty() && name[0] == '/' && ::stat(name.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// The device paths say enough on Linux; the list keeps to them.
std::string portDescription(const std::string&) { return {}; }

void systemPortDetails(const std::string& name, const std::string& linksDir, PortDetails* d) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path device = fs::canonical(name, ec);
  if (!ec) {
    for (const char* kind : {"by-id", "by-path"}) {
      std::vector<std::string>& links = kind[3] == 'i' ? d->byId : d->byPath;
      std::error_code listError;
      for (const fs::directory_entry& e :
           fs::directory_iterator(fs::path(linksDir) / kind, listError)) {
        std::error_code linkError;
        if (fs::canonical(e.path(), linkError) == device && !linkError)
          links.push_back(e.path().string());
      }
      std::sort(links.begin(), links.end());
    }
  }
  sp_port* port = nullptr;
  if (sp_get_port_by_name(ec ? name.c_str() : device.c_str(), &port) != SP_OK) return;
  if (sp_get_port_transport(port) == SP_TRANSPORT_USB) {
    int vid = -1, pid = -1;
    if (sp_get_port_usb_vid_pid(port, &vid, &pid) == SP_OK) {
      d->usbVendor = vid;
      d->usbProduct = pid;
    }
    if (const char* m = sp_get_port_usb_manufacturer(port)) d->manufacturer = m;
    if (const char* s = sp_get_port_usb_serial(port)) d->serialNumber = s;
  }
  // A plain port's "description" is its own name: nothing to add.
  if (const char* text = sp_get_port_description(port);
      text && *text && fs::path(name).filename() != text && device.filename() != text)
    d->description = text;
  sp_free_port(port);
}

}  // namespace kx
