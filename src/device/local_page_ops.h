// The local device page's programming operations: Save Settings, Restore
// Factory Settings, Send (a typed AT command) and Disable Authentication.
// All run on the user-interface thread and block it while each command waits
// for its answer; the page keeps them disabled until the adapter has been
// initialised.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/form.h"

namespace kx {

void onSaveSettings(FormInterface& page);
// 0 when the adapter took the reset (its settings are read again once it is
// back), 1 when it refused or did not answer.
int32_t onRestoreFactorySettings(FormInterface& page);
void onSendAtCommand(FormInterface& page);
void onDisableAuthentication(FormInterface& page);

// Why a typed command (without its CR) is not sent to the adapter's firmware,
// or null when it may be sent.
const char* typedCommandRefusal(const std::string& command);

// Returns `command` when it fits a command buffer (29 characters); otherwise
// shows a message box saying why it is not sent and returns nothing.
std::optional<std::string> checkCommandLength(const std::string& command);

}  // namespace kx
