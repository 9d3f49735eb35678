// The Remote Device Settings page (dialog 136): the connected remote
// adapter's address, the remote baud rate list and the Handshake, Program
// Remote Device and Exit Remote Access buttons. The operations are plugged
// in by the link layer through `hooks` and onClicked(id, ...).
#pragma once

#include <functional>
#include <span>

#include "ui/form_page.h"

namespace kx {

class MainWindow;

class RemoteDevicePage : public FormPage {
  Q_OBJECT
 public:
  static constexpr int kDialogId = 136;
  static std::span<const ControlSpec> controlTable();

  struct Hooks {
    std::function<void()> refreshRemotePage;  // notification 20009
  };
  Hooks hooks;

  explicit RemoteDevicePage(QWidget* parent = nullptr);

  void setMainWindow(MainWindow* window) { mainWindow_ = window; }
  MainWindow* mainWindow() const { return mainWindow_; }

  void refreshRemotePage();

 private:
  MainWindow* mainWindow_ = nullptr;
};

}  // namespace kx
