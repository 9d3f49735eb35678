#include "atcmd/connect_event.h"

#include <mutex>
#include <string>
#include <string_view>

#include "atcmd/command_table.h"
#include "common/debug_log.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "platform/window.h"

namespace kx {
namespace {

constexpr std::size_t kEventMessageBound = 1024;

// A connect or disconnect message: a box and a status line, both posted, so
// that the read thread never waits for the user-interface thread.
void reportEvent(const std::string& text) {
  postMessageBox(text);
  postNotify(NOTIFY_STATUS_TEXT, 0, text);
}

// The link came up or went down: the indicators, the Connection page's
// buttons and the Remote Device Settings page follow.
void refreshLinkViews() {
  postNotify(NOTIFY_REFRESH_INDICATORS);
  postNotify(NOTIFY_CONNECTION_BUTTONS);
  postNotify(NOTIFY_REMOTE_PAGE);
}

OutcomeCounter<LinkEvent> gLinkEvents;

void noteLinkEvent(LinkEvent event) { gLinkEvents.note(event); }

// The adapter may or may not put a blank between the keyword and the text;
// the failure is recognised either way.
bool isAttemptFail(std::string_view param) {
  while (!param.empty() && param.front() == ' ') param.remove_prefix(1);
  return param == "Attempt Fail!!";
}

int32_t handle(const char* command, const char* response, const char* param, int32_t showInStatus) {
  const int32_t index = getCommandIndex(command);
  if (showInStatus == 1)
    postNotify(NOTIFY_STATUS_TEXT, 0,
               formatBounded(kEventMessageBound, "Received Response %s %s for command %s",
                             oneLine(response).c_str(), oneLine(param).c_str(),
                             oneLine(command).c_str()));
  switch (index) {
    case CMD_DISCONNECT_EVENT: {
      localDev.connected = 0;
      localDev.dataMode = 0;
      {
        std::lock_guard lock(remoteMutex);
        remote.handshakeState = HANDSHAKE_IDLE;
        copyField(remote.peerAddress, "");
      }
      refreshLinkViews();
      noteLinkEvent(LinkEvent::Disconnected);
      const std::string text = formatBounded(
          kEventMessageBound, "Local Device disconnected from remote device with address %s", param);
      reportEvent(text);
      return 1;
    }
    case CMD_CONNECT_EVENT: {
      if (isAttemptFail(param)) {
        localDev.connected = 0;
        localDev.dataMode = 0;
        noteLinkEvent(LinkEvent::ConnectFailed);
        const std::string text = formatBounded(
            kEventMessageBound, "Local Device failed to connect to remote device. %s", param);
        reportEvent(text);
        return 1;
      }
      char address[kAddressSize] = {};
      std::size_t n = 0;
      for (const char* p = param; *p != '\0' && n < sizeof address - 1; ++p)
        if (*p != '"' && *p != ' ') address[n++] = *p;
      {
        std::lock_guard lock(remoteMutex);
        copyField(remote.peerAddress, std::string_view(address, n));
      }
      localDev.connected = 1;
      localDev.dataMode = 1;
      refreshLinkViews();
      noteLinkEvent(LinkEvent::Connected);
      const std::string text = formatBounded(
          kEventMessageBound, "Local Device connected to remote device with address %s", param);
      reportEvent(text);
      return 1;
    }
    default:
      debugLog("parseConnectEvent: Unhandled event %s", escapeBytes(command).c_str());
      return index == CMD_NONE ? 0 : 1;
  }
}

}  // namespace

int32_t parseConnectEvent() {
  char command[kCommandSize];
  char response[kResponseSize];
  char param[kResponseSize];
  int32_t showInStatus;
  {
    std::lock_guard lock(atCommandMutex);
    copyField(command, fieldView(atCommand.command));
    copyField(response, fieldView(atCommand.response));
    copyField(param, fieldView(atCommand.param));
    showInStatus = atCommand.showInStatus;
  }
  return handle(command, response, param, showInStatus);
}

LinkEventNote linkEvents() { return gLinkEvents.read(); }

int32_t handleConnectEvent(const ConnectEvent& event, int32_t showInStatus) {
  return handle(event.keyword, "\r\nOK\r\n", event.param, showInStatus);
}

}  // namespace kx
