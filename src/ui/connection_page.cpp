#include "ui/connection_page.h"

#include "common/control_ids.h"

namespace kx {

namespace {

using K = ControlKind;

// Cancel Inquiry and Disconnect start disabled: no inquiry runs and no link
// is up when the page is created.
const ControlSpec kConnectionControls[] = {
    {.id = ctl::kInquireDevices, .kind = K::PushButton, .caption = "Inquire Devices", .x = 20, .y = 22, .w = 90, .h = 19,
     .tooltip = "Start Bluetooth Inquiry. Possible only when device is in master mode and auto connect is disabled"},
    {.id = ctl::kCancelInquiry, .kind = K::PushButton, .caption = "Cancel Inquiry", .x = 136, .y = 22, .w = 90, .h = 19,
     .tooltip = "Cancel active bluetooth inquiry", .disabled = true},
    {.id = ctl::kConnect, .kind = K::PushButton, .caption = "Connect", .x = 20, .y = 49, .w = 90, .h = 19,
     .tooltip = "Initiate a connection to selected device"},
    {.id = ctl::kDisconnect, .kind = K::PushButton, .caption = "Disconnect", .x = 136, .y = 49, .w = 90, .h = 19,
     .tooltip = "Initiate a disconnection to connected device", .disabled = true},
    {.id = -1, .kind = K::Label, .caption = "Select/Selected Device", .x = 20, .y = 74, .w = 90, .h = 12},
    {.id = ctl::kSelectedDevice, .kind = K::MultiLineEdit, .caption = "", .x = 20, .y = 87, .w = 90, .h = 19,
     .label = "Select/Selected Device"},
    {.id = -1, .kind = K::Label, .caption = "Inquiry Results", .x = 21, .y = 107, .w = 65, .h = 11},
    {.id = ctl::kInquiryResults, .kind = K::ListBox, .caption = "", .x = 21, .y = 121, .w = 272, .h = 89, .label = "Inquiry Results"},
};

}  // namespace

std::span<const ControlSpec> ConnectionPage::controlTable() { return kConnectionControls; }

ConnectionPage::ConnectionPage(QWidget* parent) : FormPage(kConnectionControls, parent) {}

}  // namespace kx
