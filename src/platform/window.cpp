#include "platform/window.h"

#include "common/notify.h"

namespace kx {

WindowInterface* mainWindowHandle = nullptr;

void postNotify(int32_t id, int64_t lParam, const std::string& text) {
  if (WindowInterface* w = mainWindowHandle) w->post(id, lParam, text);
}

void sendNotify(int32_t id, int64_t lParam, const std::string& text) {
  if (WindowInterface* w = mainWindowHandle) w->send(id, lParam, text);
}

void appendStatus(const std::string& text) { sendNotify(NOTIFY_STATUS_TEXT, 0, text); }

void postMessageBox(const std::string& text) {
  if (WindowInterface* w = mainWindowHandle) w->postMessageBox(text);
}

MsgResult showMessageBox(const std::string& text, MsgButtons buttons, const std::string& caption,
                         MsgIcon icon) {
  if (WindowInterface* w = mainWindowHandle) return w->messageBox(text, caption, buttons, icon);
  switch (buttons) {
    case MsgButtons::Ok:
      return MsgResult::Ok;
    case MsgButtons::YesNo:
    case MsgButtons::YesNoDefaultNo:
      return MsgResult::No;
    case MsgButtons::OkCancel:
      return MsgResult::Cancel;
  }
  return MsgResult::Cancel;
}

WaitCursor::WaitCursor() {
  if (WindowInterface* w = mainWindowHandle) w->setWaitCursor(true);
}

WaitCursor::~WaitCursor() {
  if (WindowInterface* w = mainWindowHandle) w->setWaitCursor(false);
}

}  // namespace kx
