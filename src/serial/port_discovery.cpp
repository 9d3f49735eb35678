#include "serial/port_discovery.h"

#include <algorithm>
#include <mutex>

#include "common/control_ids.h"
#include "common/debug_log.h"
#include "common/records.h"
#include "common/text.h"
#include "serial/port_enum.h"

namespace kx {

Hook<std::vector<std::string>()> portEnumerator;

std::vector<std::string> enumeratePorts() {
  if (auto names = portEnumerator.tryCall()) return *std::move(names);
  return systemPorts();
}

std::vector<std::string> listablePorts() {
  std::vector<std::string> found = enumeratePorts();
  const std::string remembered(fieldView(uart.comPort));
  if (!remembered.empty() && portExists(remembered)) {
    bool listed = false;
    for (const auto& n : found) listed = listed || n == remembered;
    if (!listed) found.push_back(remembered);
  }
  std::vector<std::string> names;
  for (auto& name : found) {
    if (name.empty()) continue;
    if (static_cast<int>(names.size()) >= kMaxComPorts) {
      debugLog("ERROR: More than %d serial ports; the rest are not listed", kMaxComPorts);
      break;
    }
    names.push_back(std::move(name));
  }
  return names;
}

namespace {

void fillComPorts(FormInterface& page, const std::vector<std::string>& names) {
  int count = 0;
  for (const auto& name : names) {
    if (count >= kMaxComPorts) break;
    page.addRow(ctl::kComPortList, name);
    copyField(uart.comPortList[count], name);
    debugLog("uart.comPortList[%d]=%s", count, uart.comPortList[count]);
    ++count;
  }
  uart.comPortCount = count;
}

}  // namespace

Hook<PortDetails(const std::string& name)> portDescriber;

PortDetails portDetails(const std::string& name) {
  if (auto details = portDescriber.tryCall(name)) return *std::move(details);
  return describePort(name);
}

PortDetails describePort(const std::string& name, const std::string& linksDir) {
  PortDetails d;
  d.name = name;
  systemPortDetails(name, linksDir, &d);
  return d;
}

std::string portSummary(const PortDetails& d) {
  std::string out = d.description;
  auto add = [&](const std::string& part) {
    if (!part.empty()) out += (out.empty() ? "" : ", ") + part;
  };
  if (d.usbVendor >= 0)
    add(formatBounded(40, "USB %04X:%04X", static_cast<unsigned>(d.usbVendor),
                      static_cast<unsigned>(d.usbProduct)));
  if (!d.serialNumber.empty()) add("serial " + d.serialNumber);
  return out;
}

void discoverComPorts(FormInterface& page) { fillComPorts(page, listablePorts()); }

void replaceComPorts(FormInterface& page, const std::vector<std::string>& names) {
  const int selectedRow = page.selection(ctl::kComPortList);
  const std::string current = page.text(ctl::kComPortList);
  // A name the user typed is no row of the list; it stays as typed.
  const bool typed = !current.empty() && (selectedRow < 0 || page.rowText(ctl::kComPortList, selectedRow) != current);
  page.clearRows(ctl::kComPortList);
  for (auto& row : uart.comPortList) row[0] = '\0';
  fillComPorts(page, names);
  const int row = comPortRow(page, current);
  if (row >= 0 || !typed) {
    page.setSelection(ctl::kComPortList, row >= 0 ? row : comPortSelectionIndex(page));
  } else {
    page.setSelection(ctl::kComPortList, -1);
    page.setText(ctl::kComPortList, current);
  }
}

int comPortRow(const FormInterface& page, const std::string& name) {
  int row = -1;
  for (int i = 0; i < page.rowCount(ctl::kComPortList); ++i)
    if (!name.empty() && page.rowText(ctl::kComPortList, i) == name) row = i;
  return row;
}

int comPortSelectionIndex(const FormInterface& page) {
  return std::max(comPortRow(page, std::string(fieldView(uart.comPort))), 0);
}

}  // namespace kx
