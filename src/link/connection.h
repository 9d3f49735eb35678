// The Connection page's operations: inquiry start and cancel, connect,
// disconnect, choosing an inquiry result, and keeping the result list and the
// buttons in step with the inquiry and link state. All run on the
// user-interface thread; each command blocks it until answered.
#pragma once

#include <string>

#include "platform/form.h"

namespace kx {

namespace ctl {
constexpr int kInquireDevices = 1005;
constexpr int kSelectedDevice = 1006;
constexpr int kConnect = 1007;
constexpr int kInquiryResults = 1008;
constexpr int kCancelInquiry = 1009;
constexpr int kDisconnect = 1010;
// The main window's page buttons that an inquiry locks.
constexpr int kMainLocalDeviceButton = 1005;
constexpr int kMainPairingButton = 1012;
constexpr int kMainConnectionButton = 1007;
constexpr int kMainRemoteButton = 1006;
}  // namespace ctl

// `page` is the Connection page, `localPage` the local device page (answers
// are applied there), `mainWindow` the main window's own controls.
void onInquireDevices(FormInterface& page, FormInterface& localPage);
void onCancelInquiry(FormInterface& localPage);
void onConnect(FormInterface& page, FormInterface& localPage);
void onDisconnect(FormInterface& localPage);
void onInquiryResultSelected(FormInterface& page, int row);

void refreshInquiryList(FormInterface& page);
void clearInquiryList(FormInterface& page);
void updateConnectionButtons(FormInterface& page, FormInterface& mainWindow);

// The address part of an inquiry result line: characters 34..47 without
// their hyphens.
std::string inquiryResultAddress(const std::string& line);


}  // namespace kx
