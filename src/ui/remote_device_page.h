// The Remote Device Settings page (dialog 136): the connected remote
// adapter's address, the remote baud rate list and the Handshake, Program
// Remote Device and Exit Remote Access buttons. The operations are plugged
// in by the link layer through `hooks` and onClicked(id, ...).
#pragma once

#include <span>

#include "common/hook.h"
#include "ui/form_page.h"

namespace kx {

class RemoteDevicePage : public FormPage {
  Q_OBJECT
 public:
  static constexpr int kDialogId = 136;
  static std::span<const ControlSpec> controlTable();

  struct Hooks {
    Hook<void()> refreshRemotePage;  // notification 20009
  };
  Hooks hooks;

  explicit RemoteDevicePage(QWidget* parent = nullptr);
};

}  // namespace kx
