// The Connection page (dialog 138): inquiry, the list of its results, and
// connecting to and disconnecting from a found device. The operations are
// plugged in by the link layer through `hooks` and onClicked(id, ...).
#pragma once

#include <functional>
#include <span>

#include "ui/form_page.h"

namespace kx {

class MainWindow;

class ConnectionPage : public FormPage {
  Q_OBJECT
 public:
  static constexpr int kDialogId = 138;
  static std::span<const ControlSpec> controlTable();

  // Notification handlers; empty hooks do nothing.
  struct Hooks {
    std::function<void()> refreshInquiryList;       // notification 20006
    std::function<void()> clearInquiryList;         // notification 20007
    std::function<void()> updateConnectionButtons;  // notification 20008
  };
  Hooks hooks;

  explicit ConnectionPage(QWidget* parent = nullptr);

  void setMainWindow(MainWindow* window) { mainWindow_ = window; }
  MainWindow* mainWindow() const { return mainWindow_; }

  void refreshInquiryList();
  void clearInquiryList();
  void updateConnectionButtons();

 private:
  MainWindow* mainWindow_ = nullptr;
};

}  // namespace kx
