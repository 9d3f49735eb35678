// The Connection page's operations: inquiry start and cancel, connect,
// disconnect, choosing an inquiry result, and keeping the result list and the
// buttons in step with the inquiry and link state. All run on the
// user-interface thread; each command blocks it until answered.
#pragma once

#include <string>

#include "common/control_ids.h"
#include "platform/form.h"

namespace kx {


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
