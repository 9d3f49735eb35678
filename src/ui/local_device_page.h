// The local device page (dialog 135): the adapter's serial-port settings,
// its settings as last read, the buttons that read, save and reset them, and
// the AT command line. The page only holds the controls; the operations
// behind them are plugged in by the device layer through `hooks` and
// onClicked(id, ...).
#pragma once

#include <span>

#include "common/hook.h"
#include "ui/form_page.h"

namespace kx {

class LocalDevicePage : public FormPage {
  Q_OBJECT
 public:
  static constexpr int kDialogId = 135;
  static std::span<const ControlSpec> controlTable();

  // Handlers that the main window routes notifications to. Each
  // is empty until the layer that owns it installs it; an empty hook does
  // nothing.
  struct Hooks {
    Hook<void()> showLocalDevice;       // notification 20002
    Hook<void()> applyCommandResponse;  // notification 20003
    Hook<void()> onReadSettings;        // notification 20013
    Hook<void()> readAllSettings;       // notification 20014, first
    Hook<void(int)> enableDeviceControls;  // notification 20014, then with 1
    Hook<void()> portsChanged;          // the system's serial ports changed
  };
  Hooks hooks;

  explicit LocalDevicePage(QWidget* parent = nullptr);

  // The Operation Mode radio buttons: exactly one of Command (1032), Data
  // (1033) and Remote (1034) is checked.
  enum class OperationMode { Command, Data, Remote };
  void setOperationMode(OperationMode mode);
};

// How the narrow COM Port list shows a port: names under /dev without
// "/dev/" ("ttyUSB0"), a longer path as its last part ("…/kx627-sim").
QString portDisplayName(const QString& port);

}  // namespace kx
