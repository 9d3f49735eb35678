#include "platform/window.h"

#include <algorithm>
#include <cctype>

#include "common/notify.h"

namespace kx {

WindowInterface* mainWindowHandle = nullptr;

void postNotify(int32_t id, int64_t lParam, const std::string& text) {
  if (WindowInterface* w = mainWindowHandle) w->post(id, lParam, text);
}

void sendNotify(int32_t id, int64_t lParam, const std::string& text) {
  if (WindowInterface* w = mainWindowHandle) w->send(id, lParam, text);
}

namespace {
thread_local StatusLinesSince* tStatusLines = nullptr;
}  // namespace

StatusLinesSince::StatusLinesSince() : outer_(tStatusLines) { tStatusLines = this; }

StatusLinesSince::~StatusLinesSince() { tStatusLines = outer_; }

void appendStatus(const std::string& text) {
  if (text != ".")
    for (StatusLinesSince* s = tStatusLines; s; s = s->outer_) s->text_ += text + "\n";
  sendNotify(NOTIFY_STATUS_TEXT, 0, text);
}

void postMessageBox(const std::string& text) {
  if (WindowInterface* w = mainWindowHandle) w->postMessageBox(text);
}

MsgIcon boxIconFor(std::string_view text, MsgButtons buttons) {
  if (buttons != MsgButtons::Ok) return MsgIcon::Question;
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  auto has = [&](std::string_view words) { return lower.find(words) != std::string::npos; };
  // The system's failure reports begin with "ERROR" or say what failed.
  if (lower.starts_with("error") || has("fail") || has("corrupt") || has("not found") ||
      has("out of memory") || has("cannot read") || has("cannot write"))
    return MsgIcon::Error;
  // Refusals and conditions the user has to meet first.
  if (has("not supported") || has("will not be") || has("not init") || has("not be same") ||
      has("cannot be") || has("please") || has("nothing was") || has("old firmware") ||
      has("not connected") || has("needs to be"))
    return MsgIcon::Warning;
  return MsgIcon::Information;
}

MsgResult showMessageBox(const std::string& text, MsgButtons buttons, const std::string& caption,
                         MsgIcon icon) {
  if (icon == MsgIcon::None) icon = boxIconFor(text, buttons);
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
