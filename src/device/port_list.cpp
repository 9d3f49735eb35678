#include "device/port_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "common/control_ids.h"
#include "common/debug_log.h"
#include "common/records.h"
#include "device/initialise.h"
#include "platform/window.h"
#include "serial/port_discovery.h"
#include "serial/port_discovery.h"

namespace kx {

namespace {

// The adapter that went away, until its port is back or another is opened.
struct LostAdapter {
  std::string port;
  bool gone = false;            // its port has been seen missing since
  std::optional<ino_t> inode;   // its device node when it went away, if any
};
std::optional<LostAdapter> gLost;

std::optional<ino_t> nodeOf(const std::string& path) {
  struct stat st {};
  if (path.empty() || path[0] != '/' || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  return st.st_ino;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

void selectPort(FormInterface& page, const std::string& name) {
  if (const int row = comPortRow(page, name); row >= 0) page.setSelection(ctl::kComPortList, row);
}

// What the lost adapter's state says now that the list holds `names`, of
// which `added` are new.
void followLostAdapter(FormInterface& page, const std::vector<std::string>& names,
                       const std::vector<std::string>& added) {
  if (!gLost) return;
  LostAdapter& lost = *gLost;
  if (!contains(names, lost.port)) {
    lost.gone = true;
    // A new port while the old one is missing: most likely the same adapter
    // under the next free name. Offered only when there is no doubt.
    if (added.size() == 1) {
      selectPort(page, added.front());
      appendStatus(adapterMovedText(lost.port, added.front()));
      gLost.reset();
    }
    return;
  }
  // A device node made anew (another inode) means it was unplugged and
  // plugged in again even when no refresh saw it missing.
  const std::optional<ino_t> now = nodeOf(lost.port);
  const bool renewed = lost.inode && now && *now != *lost.inode;
  if (lost.gone || renewed) {
    selectPort(page, lost.port);
    appendStatus(adapterBackText(lost.port));
    gLost.reset();
  }
}

}  // namespace

std::string adapterBackText(const std::string& port) {
  return "The adapter on " + port + " is back. Press Read Settings to continue.";
}

std::string adapterMovedText(const std::string& lost, const std::string& port) {
  return "A new port " + port + " appeared while the adapter on " + lost +
         " is away; it may be the same adapter and is selected. Press Read Settings to continue.";
}

std::string comPortStatusText(const std::string& port) {
  const std::string summary = port.empty() ? std::string() : portSummary(portDetails(port));
  return "COM Port: " + port + (summary.empty() ? "" : " (" + summary + ")");
}

void noteAdapterLost(const std::string& port) {
  if (port.empty()) return;
  const std::optional<ino_t> inode = nodeOf(port);
  gLost = LostAdapter{port, false, inode};
  debugLog("UI: waiting for the adapter on %s to come back", port.c_str());
}

void forgetLostAdapter() { gLost.reset(); }

bool refreshPortList(FormInterface& page) {
  if (uart.isUartActive.load() != 0 || initialisationRunning()) return false;
  const std::vector<std::string> names = listablePorts();
  std::vector<std::string> old;
  for (int i = 0; i < page.rowCount(ctl::kComPortList); ++i)
    old.push_back(page.rowText(ctl::kComPortList, i));
  const bool changed = names != old;
  std::vector<std::string> added;
  if (changed) {
    for (const auto& name : names)
      if (!contains(old, name)) {
        added.push_back(name);
        debugLog("UI: serial port %s appeared", name.c_str());
      }
    for (const auto& name : old)
      if (!contains(names, name)) debugLog("UI: serial port %s went away", name.c_str());
    replaceComPorts(page, names);
  }
  followLostAdapter(page, names, added);
  if (changed && names.empty()) appendStatus(kNoPortsHelp);
  return changed;
}

}  // namespace kx
