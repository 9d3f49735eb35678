// Ids of the notifications that the link threads, the command engine and the
// pages send to the main window, the progress-spinner message and the main
// window's timers. The main window routes each id to its handler.
#pragma once

#include <cstdint>

namespace kx {

enum NotifyId : int32_t {
  NOTIFY_STATUS_TEXT = 20001,         // text: append to the status window
  NOTIFY_SHOW_LOCAL_DEVICE = 20002,   // showLocalDevice
  NOTIFY_COMMAND_RESPONSE = 20003,    // applyCommandResponse of the local page
  NOTIFY_SHOW_PAIR_DEVICES = 20004,   // refreshPairPage
  NOTIFY_REFRESH_INDICATORS = 20005,  // updateIndicators
  NOTIFY_INQUIRY_RESULTS = 20006,     // refreshInquiryList
  NOTIFY_CLEAR_INQUIRY = 20007,       // clearInquiryList
  NOTIFY_CONNECTION_BUTTONS = 20008,  // updateConnectionButtons
  NOTIFY_REMOTE_PAGE = 20009,         // refreshRemotePage
  NOTIFY_ENABLE_ABORT = 20012,        // lParam 0/1: Abort button (1054)
  NOTIFY_READ_SETTINGS = 20013,       // onReadSettings
  NOTIFY_DEVICE_INITIALISED = 20014,  // readAllSettings + enableDeviceControls(1)
  NOTIFY_DTR_STATE = 20015,           // lParam 0/1: DTR check box only
  NOTIFY_RTS_STATE = 20016,           // lParam 0/1: RTS check box only
  NOTIFY_DEVICE_LOST = 20017,         // text: the open port went away; close the link, tell the user
};

// A window message of its own (not a command): turns the status spinner.
constexpr int32_t MSG_PROGRESS_SPINNER = 20011;

enum TimerId : int32_t {
  TIMER_AT_COMMAND = 275,  // completes a timer-driven command
  TIMER_INQUIRY = 276,     // inquiry progress, 1000 ms
  TIMER_HANDSHAKE = 277,   // remote adapter's answer wait, 4000 ms
};

}  // namespace kx
