#include "ui/pair_device_page.h"

#include "common/control_ids.h"

namespace kx {

namespace {

using K = ControlKind;

// The labels stand 11 units above their boxes; the boxes only show values.
const ControlSpec kPairDeviceControls[] = {
    {.id = -1, .kind = K::Label, .caption = "Device1 Address", .x = 31, .y = 14, .w = 88, .h = 10},
    {.id = ctl::kPairDevice1Address, .kind = K::Edit, .caption = "", .x = 31, .y = 25, .w = 88, .h = 18, .label = "Device1 Address",
     .disabled = true},
    {.id = -1, .kind = K::Label, .caption = "Device1 Name", .x = 147, .y = 14, .w = 122, .h = 10},
    {.id = ctl::kPairDevice1Name, .kind = K::Edit, .caption = "", .x = 147, .y = 25, .w = 122, .h = 18, .label = "Device1 Name",
     .disabled = true},
    {.id = -1, .kind = K::Label, .caption = "Device2 Address", .x = 31, .y = 54, .w = 88, .h = 10},
    {.id = ctl::kPairDevice2Address, .kind = K::Edit, .caption = "", .x = 31, .y = 65, .w = 88, .h = 18, .label = "Device2 Address",
     .disabled = true},
    {.id = -1, .kind = K::Label, .caption = "Device2 Name", .x = 149, .y = 54, .w = 120, .h = 10},
    {.id = ctl::kPairDevice2Name, .kind = K::Edit, .caption = "", .x = 149, .y = 65, .w = 120, .h = 18, .label = "Device2 Name",
     .disabled = true},
    {.id = ctl::kPairButton, .kind = K::PushButton, .caption = "Pair Device", .x = 31, .y = 103, .w = 90, .h = 19,
     .tooltip = "Pair the Local Device with another Device"},
    {.id = ctl::kUnpairButton, .kind = K::PushButton, .caption = "Unpair Device", .x = 149, .y = 103, .w = 90, .h = 19,
     .tooltip = "Unpair the Local Device with another Device"},
};

}  // namespace

std::span<const ControlSpec> PairDevicePage::controlTable() { return kPairDeviceControls; }

PairDevicePage::PairDevicePage(QWidget* parent) : FormPage(kPairDeviceControls, parent) {}

}  // namespace kx
