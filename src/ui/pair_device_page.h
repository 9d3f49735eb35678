// The Pairing page (dialog 139): the two adapters' addresses and names and
// the Pair and Unpair buttons. The procedures are plugged in by the link
// layer through `hooks` and onClicked(id, ...).
#pragma once

#include <span>

#include "common/hook.h"
#include "ui/form_page.h"

namespace kx {

class PairDevicePage : public FormPage {
  Q_OBJECT
 public:
  static constexpr int kDialogId = 139;
  static std::span<const ControlSpec> controlTable();

  struct Hooks {
    Hook<void()> refreshPairPage;  // notification 20004
  };
  Hooks hooks;

  explicit PairDevicePage(QWidget* parent = nullptr);
};

}  // namespace kx
