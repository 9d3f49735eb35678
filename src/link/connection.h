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

// TIMER_INQUIRY expired (every second while an inquiry runs): turns the
// progress spinner for at most 61 ticks while the inquiry is active; after
// that, or once it has ended, reports "Inquiry Finished/Cancelled", kills the
// timer and unlocks Connect and the page buttons, even if the adapter never
// reported the end. User-interface thread.
void onInquiryTimer(FormInterface& page, FormInterface& mainWindow);

// The address part of an inquiry result line: characters 34..47 without
// their hyphens.
std::string inquiryResultAddress(const std::string& line);


}  // namespace kx
