#include "ui/remote_device_page.h"

#include "common/control_ids.h"

namespace kx {

namespace {

using K = ControlKind;

// The remote adapter's speeds in the order of its baud codes 1..8.
constexpr const char* kRemoteBaudRates = "9600\n19200\n38400\n57600\n115200\n230400\n460800\n921600";

// Program Remote Device and Exit Remote Access need a finished handshake, so
// they start disabled.
const ControlSpec kRemoteDeviceControls[] = {
    {.id = -1, .kind = K::Label, .caption = "Adapter Address", .x = 20, .y = 12, .w = 90, .h = 10},
    {.id = ctl::kRemoteAddress, .kind = K::Edit, .caption = "", .x = 20, .y = 23, .w = 90, .h = 14, .label = "Adapter Address",
     .disabled = true},
    {.id = ctl::kRemoteHandshake, .kind = K::PushButton, .caption = "Handshake", .x = 136, .y = 20, .w = 90, .h = 19,
     .tooltip = "Handshake the local Device with remote Device. Handshaking is required before doing remote "
                "configuration"},
    {.id = -1, .kind = K::Label, .caption = "Baud Rate", .x = 20, .y = 50, .w = 90, .h = 10},
    {.id = ctl::kRemoteBaudList, .kind = K::DropDown, .caption = "", .x = 20, .y = 61, .w = 90, .h = 80, .label = "Baud Rate",
     .items = kRemoteBaudRates},
    {.id = ctl::kRemoteProgram, .kind = K::PushButton, .caption = "Program Remote Device", .x = 136, .y = 58, .w = 90, .h = 19,
     .tooltip = "Change the Baudrate on the remote device to the one selected in Baudrate selection box",
     .disabled = true},
    {.id = ctl::kRemoteExit, .kind = K::PushButton, .caption = "Exit Remote Access", .x = 136, .y = 96, .w = 90, .h = 19,
     .tooltip = "Request the connected remote device to exit remote access mode", .disabled = true},
};

}  // namespace

std::span<const ControlSpec> RemoteDevicePage::controlTable() { return kRemoteDeviceControls; }

RemoteDevicePage::RemoteDevicePage(QWidget* parent) : FormPage(kRemoteDeviceControls, parent) {
  setSelection(1015, 0);  // 9600
}

}  // namespace kx
