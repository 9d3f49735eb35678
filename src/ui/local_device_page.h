// The local device page (dialog 135): the adapter's serial-port settings,
// its settings as last read, the buttons that read, save and reset them, and
// the AT command line. The page only holds the controls; the operations
// behind them are plugged in by the device layer through `hooks` and
// onClicked(id, ...).
#pragma once

#include <functional>
#include <span>

#include "ui/form_page.h"

namespace kx {

class MainWindow;

class LocalDevicePage : public FormPage {
  Q_OBJECT
 public:
  static constexpr int kDialogId = 135;
  static std::span<const ControlSpec> controlTable();

  // Handlers that the main window routes notifications and timers to. Each
  // is empty until the layer that owns it installs it; an empty hook does
  // nothing.
  struct Hooks {
    std::function<void()> showLocalDevice;       // notification 20002
    std::function<void()> applyCommandResponse;  // notification 20003
    std::function<void()> onReadSettings;        // notification 20013
    std::function<void()> readAllSettings;       // notification 20014, first
    std::function<void(int)> enableDeviceControls;  // notification 20014, then with 1
    std::function<void()> completeTimerCommand;  // timer 275 expiry
  };
  Hooks hooks;

  explicit LocalDevicePage(QWidget* parent = nullptr);

  void setMainWindow(MainWindow* window) { mainWindow_ = window; }
  MainWindow* mainWindow() const { return mainWindow_; }

  void showLocalDevice();
  void applyCommandResponse();
  void onReadSettings();
  void readAllSettings();
  void enableDeviceControls(int enable);
  void completeTimerCommand();

  // The Operation Mode radio buttons: exactly one of Command (1032), Data
  // (1033) and Remote (1034) is checked.
  enum class OperationMode { Command, Data, Remote };
  void setOperationMode(OperationMode mode);

 private:
  MainWindow* mainWindow_ = nullptr;
};

}  // namespace kx
