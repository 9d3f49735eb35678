#include "link/main_timers.h"

#include "atcmd/transmission.h"
#include "common/debug_log.h"
#include "common/notify.h"
#include "link/connection.h"
#include "link/remote_config.h"
#include "platform/window.h"

namespace kx {

void onMainTimer(int32_t id, FormInterface& connectionPage, FormInterface& mainWindow) {
  switch (id) {
    case TIMER_AT_COMMAND:
      onAtCommandTimer();
      break;
    case TIMER_INQUIRY:
      onInquiryTimer(connectionPage, mainWindow);
      break;
    case TIMER_HANDSHAKE:
      onHandshakeTimer();
      break;
    default:
      debugLog("UI: unknown timer %d", id);
      if (WindowInterface* w = mainWindowHandle) w->killTimer(id);
      break;
  }
}

}  // namespace kx
