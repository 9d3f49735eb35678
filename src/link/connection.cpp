#include "link/connection.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "atcmd/transmission.h"
#include "common/address.h"
#include "common/debug_log.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/local_page_ops.h"
#include "device/response_apply.h"
#include "platform/window.h"

namespace kx {
namespace {

bool inquiryPreconditions() {
  if (localDev.initialised == 0) {
    showMessageBox(
        "Local Device is not initialised. Please initialise the device and then start inquiry.",
        MsgButtons::Ok);
    return false;
  }
  if (localDev.cmdResponse == 0) {
    showMessageBox("Please enable command response mode for reliable inquiry operation",
                   MsgButtons::Ok);
    return false;
  }
  return true;
}

bool connectPrecondition() {
  if (localDev.initialised == 0) {
    showMessageBox(
        "Local Device is not initialised. Please initialise the device and then connect",
        MsgButtons::Ok);
    return false;
  }
  return true;
}

}  // namespace

std::string inquiryResultAddress(const std::string& line) {
  if (line.size() <= 34) return {};
  return addressDigits(std::string_view(line).substr(34, 14));
}

void onInquireDevices(FormInterface& page, FormInterface& localPage) {
  (void)page;
  if (!inquiryPreconditions()) return;
  clearInquiry();
  const StatusLinesSince reason;
  sendAndApplyCommand("AT+FIND?\r", localPage);
  if (localDev.inquiryActive == 0) {
    appendStatus("Device should be in master mode and auto connect should be disabled to start inquiry");
    showMessageBox("Start Inquiry failed\n\n" + reason.text(), MsgButtons::Ok);
  }
}

void onCancelInquiry(FormInterface& localPage) {
  if (!inquiryPreconditions()) return;
  const StatusLinesSince reason;
  sendAndApplyCommand("AT+FIND-\r", localPage);
  if (localDev.inquiryActive == 1) {
    const std::string why = reason.text();
    appendStatus("Cancel Inquiry failed");
    showMessageBox(why.empty() ? "Cancel Inquiry failed" : "Cancel Inquiry failed\n\n" + why, MsgButtons::Ok);
  }
}

void onConnect(FormInterface& page, FormInterface& localPage) {
  if (!connectPrecondition()) return;
  std::string address = page.text(ctl::kSelectedDevice);
  if (address.empty()) return;
  if (localDev.inquiryActive == 1) {
    appendStatus("Inquiry Active. Cancelling inquiry");
    sendAndApplyCommand("AT+FIND-\r", localPage);
  }
  if (localDev.inquiryActive == 1) {
    showMessageBox("Inquiry Active. Please cancel inquiry and try again", MsgButtons::Ok);
    return;
  }
  for (char& c : address) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // The command must fit its 29 characters: an address of at most 20.
  const auto command = checkCommandLength("AT+CONN=" + address + "\r");
  if (!command) return;
  appendStatus(formatBounded(1024, "Connection Initiated to %s....", address.c_str()));
  sendAndApplyCommand(command->c_str(), localPage);
}

void onDisconnect(FormInterface& localPage) {
  if (!connectPrecondition()) return;
  if (localDev.handshaked == 1) {
    debugLog(
        "CONNECTION: Device Handshaked to other device. Setting Handshake to FALSE before "
        "disconnecting.");
    localDev.handshaked = 0;
  }
  appendStatus("Disconnection initiated...");
  sendAndApplyCommand("AT+DROP\r", localPage);
}

void onInquiryResultSelected(FormInterface& page, int row) {
  std::string line;
  {
    std::lock_guard lock(inquiryMutex);
    if (row >= 0 && row < std::min<int>(inquiry.count, kMaxInquiryResults))
      line = std::string(fieldView(inquiry.results[row]));
  }
  if (row <= 0 || line.find("Inquiry End") != std::string::npos) {
    page.setText(ctl::kSelectedDevice, "");
    return;
  }
  page.setText(ctl::kSelectedDevice, inquiryResultAddress(line));
}

void refreshInquiryList(FormInterface& page) {
  std::vector<std::string> rows;
  {
    std::lock_guard lock(inquiryMutex);
    const int count = std::min<int>(inquiry.count, kMaxInquiryResults);
    for (int i = 0; i < count; ++i) rows.emplace_back(fieldView(inquiry.results[i]));
  }
  // Rewritten in arrival order; rows already shown keep their place.
  const int selected = page.selection(ctl::kInquiryResults);
  page.clearRows(ctl::kInquiryResults);
  for (const auto& r : rows) page.addRow(ctl::kInquiryResults, r);
  if (selected >= 0 && selected < static_cast<int>(rows.size()))
    page.setSelection(ctl::kInquiryResults, selected);
}

void clearInquiryList(FormInterface& page) {
  page.clearRows(ctl::kInquiryResults);
  page.setText(ctl::kSelectedDevice, "");
}

void onInquiryTimer(FormInterface& page, FormInterface& mainWindow) {
  WindowInterface* w = mainWindowHandle;
  const int32_t ticks = inquiry.ticks.load();
  if (ticks <= 60 && localDev.inquiryActive.load() != 0) {
    if (w) w->sendSpinner(ticks);
    inquiry.ticks.fetch_add(1);
    return;
  }
  appendStatus("Inquiry Finished/Cancelled");
  if (w) w->killTimer(TIMER_INQUIRY);
  page.setEnabled(ctl::kCancelInquiry, false);
  page.setEnabled(ctl::kConnect, true);
  for (int id : {ctl::kMainLocalDeviceButton, ctl::kMainPairingButton, ctl::kMainRemoteButton})
    mainWindow.setEnabled(id, true);
  inquiry.ticks = 0;
}

void updateConnectionButtons(FormInterface& page, FormInterface& mainWindow) {
  const bool active = localDev.inquiryActive == 1;
  page.setEnabled(ctl::kCancelInquiry, active);
  page.setEnabled(ctl::kConnect, !active);
  for (int id : {ctl::kMainLocalDeviceButton, ctl::kMainPairingButton, ctl::kMainRemoteButton})
    mainWindow.setEnabled(id, !active);
  page.setEnabled(ctl::kDisconnect, localDev.connected == 1);
}

}  // namespace kx
