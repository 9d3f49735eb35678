// The Connection page (dialog 138): inquiry, the list of its results, and
// connecting to and disconnecting from a found device. The operations are
// plugged in by the link layer through `hooks` and onClicked(id, ...).
#pragma once

#include <span>

#include "common/hook.h"
#include "ui/form_page.h"

namespace kx {

class ConnectionPage : public FormPage {
  Q_OBJECT
 public:
  static constexpr int kDialogId = 138;
  static std::span<const ControlSpec> controlTable();

  // Notification handlers; empty hooks do nothing.
  struct Hooks {
    Hook<void()> refreshInquiryList;       // notification 20006
    Hook<void()> clearInquiryList;         // notification 20007
    Hook<void()> updateConnectionButtons;  // notification 20008
  };
  Hooks hooks;

  explicit ConnectionPage(QWidget* parent = nullptr);
};

}  // namespace kx
