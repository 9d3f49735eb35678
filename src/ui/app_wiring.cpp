#include "ui/app_wiring.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSocketNotifier>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

#include "atcmd/engine_hooks.h"
#include "atcmd/receive_dispatch.h"
#include "atcmd/transmission.h"
#include "common/debug_log.h"
#include "common/text.h"
#include "device/initialise.h"
#include "device/local_device.h"
#include "device/local_page_ops.h"
#include "device/port_list.h"
#include "device/response_apply.h"
#include "device/settings_file.h"
#include "device/settings_search.h"
#include "link/connection.h"
#include "link/pairing.h"
#include "link/remote_config.h"
#include "platform/window.h"
#include "serial/port_watch.h"
#include "serial/uart.h"
#include "ui/connection_page.h"
#include "ui/drop_down_list.h"
#include "ui/form_page.h"
#include "ui/local_device_page.h"
#include "ui/pair_device_page.h"
#include "ui/remote_device_page.h"

namespace kx {
namespace {

// The local device page, for the engine's apply hook (a plain function).
std::atomic<FormInterface*> gLocalPage{nullptr};

int32_t applyToLocalPage() {
  FormInterface* page = gLocalPage.load();
  return page ? applyCommandResponse(*page) : 0;
}

// Where the settings-file dialogs start: the folder last used in this run;
// before that, on Windows the user's Documents (where a Windows user keeps
// files, rather than the program's own folder), elsewhere the current
// directory.
QString gLastFileDir;

QString fileDialogStartDir() {
  if (!gLastFileDir.isEmpty()) return gLastFileDir;
#ifdef Q_OS_WIN
  return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
#else
  return QDir::currentPath();
#endif
}

std::optional<std::string> chooseFile(QWidget* owner, bool save) {
  if (auto chosen = fileDialogHook.tryCall(save)) return *chosen;
  QFileDialog dialog(owner, save ? QStringLiteral("Save settings file as...")
                                 : QStringLiteral("Select settings file"), fileDialogStartDir());
  dialog.setNameFilter(QStringLiteral("Text Files (*.txt)"));
  if (save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
  } else {
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString chosen = dialog.selectedFiles().first();
  gLastFileDir = QFileInfo(chosen).absolutePath();
  return fromQt(chosen);
}

// Ends the initialisation worker and any pairing before the port closes.
// The worker may be waiting for this thread, so events keep being processed
// (no user input) while it winds down. Every wait of the worker is bounded (a
// command's time-outs, one step of the search), so it ends within seconds;
// the link is never closed under a worker that can still touch it.
void stopLongWork() {
  requestPairingStop();
  QElapsedTimer clock;
  clock.start();
  qint64 nextNote = 5000;
  while (!stopInitialisation()) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
    QThread::msleep(10);
    if (clock.elapsed() >= nextNote) {
      debugLog("UI: waiting for the initialisation to end (%lld ms)",
               static_cast<long long>(clock.elapsed()));
      nextNote += 5000;
    }
  }
}

// Windows tells the application's windows of ports that arrive or are
// removed (WM_DEVICECHANGE); the list is read again once the message has been
// handled. Elsewhere no native message is one of these.
class PortChangeFilter : public QObject, public QAbstractNativeEventFilter {
 public:
  PortChangeFilter(QObject* owner, std::function<void()> changed)
      : QObject(owner), changed_(std::move(changed)) {
    QCoreApplication::instance()->installNativeEventFilter(this);
  }
  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
    if (PortWatch::isPortChangeMessage({eventType.constData(), static_cast<size_t>(eventType.size())},
                                       message))
      QMetaObject::invokeMethod(this, changed_, Qt::QueuedConnection);
    return false;
  }

 private:
  std::function<void()> changed_;
};

// The COM Port list follows the system's ports: udev's monitor wakes the
// event loop when a port comes or goes (nothing runs while nothing changes),
// Windows sends the window a message, and opening the list always reads the
// ports again, which is all there is where neither can be had.
void followPorts(MainWindow& w, LocalDevicePage& local) {
  local.hooks.portsChanged = [&local] { refreshPortList(local); };
  local.controlAs<DropDownList>(ctl::kComPortList)->beforePopup = [&local] { refreshPortList(local); };
  local.onClicked(ctl::kComPortList,
                  [&local] { appendStatus(comPortStatusText(local.text(ctl::kComPortList))); });
  new PortChangeFilter(&w, [&local] { local.hooks.portsChanged(); });
  auto watch = std::make_shared<PortWatch>();
  if (!watch->watching()) return;
  auto* notifier = new QSocketNotifier(watch->fd(), QSocketNotifier::Read, &w);
  QObject::connect(notifier, &QSocketNotifier::activated, &w, [watch, &local] {
    if (watch->takeEvents()) local.hooks.portsChanged();
  });
}

void installHandlers(MainWindow& w) {
  installCommandEngine();
  applyResponseHook = &applyToLocalPage;
  installRemoteConfiguration();
  rtsBoxEnabledHook = [&w](bool on) { w.controls().setEnabled(ctl::kMainRts, on); };
  // The settings search (of the initialisation, or of the pairing for
  // Device 2) shows each step as one line that replaces itself; the inquiry
  // turns the spinner.
  w.progressText = [](int step) {
    return initialisationRunning() || pairingRunning() ? searchStepText(step) : std::string();
  };

  LocalDevicePage& local = *w.localDevicePage();
  ConnectionPage& connection = *w.connectionPage();
  PairDevicePage& pairing = *w.pairDevicePage();
  RemoteDevicePage& remotePage = *w.remoteDevicePage();
  gLocalPage = &local;

  local.hooks.showLocalDevice = [&local] { showLocalDevice(local); };
  local.hooks.applyCommandResponse = [&local] { applyCommandResponse(local); };
  local.hooks.onReadSettings = [&local] { onReadSettings(local); };
  local.hooks.readAllSettings = [&local] { readAllSettings(local); };
  local.hooks.enableDeviceControls = [&local](int on) { enableDeviceControls(local, on != 0); };
  initLocalDevicePage(local);
  followPorts(w, local);

  local.onClicked(ctl::kReadSettings, [&local] { onReadSettings(local); });
  local.onClicked(ctl::kAbort, [] { onAbort(); });
  local.onClicked(ctl::kReinitialize, [&local] { onReinitialize(local); });
  local.onClicked(ctl::kSaveSettings, [&local] { onSaveSettings(local); });
  local.onClicked(ctl::kRestoreFactory, [&local] { onRestoreFactorySettings(local); });
  local.onClicked(ctl::kSend, [&local] { onSendAtCommand(local); });
  local.onClicked(ctl::kDisableAuthentication, [&local] { onDisableAuthentication(local); });

  connection.hooks.refreshInquiryList = [&connection] { refreshInquiryList(connection); };
  connection.hooks.clearInquiryList = [&connection] { clearInquiryList(connection); };
  connection.hooks.updateConnectionButtons = [&connection, &w] {
    updateConnectionButtons(connection, w.controls());
  };
  connection.onClicked(ctl::kInquireDevices,
                       [&connection, &local] { onInquireDevices(connection, local); });
  connection.onClicked(ctl::kCancelInquiry, [&local] { onCancelInquiry(local); });
  connection.onClicked(ctl::kConnect, [&connection, &local] { onConnect(connection, local); });
  connection.onClicked(ctl::kDisconnect, [&local] { onDisconnect(local); });
  connection.onClicked(ctl::kInquiryResults, [&connection] {
    onInquiryResultSelected(connection, connection.selection(ctl::kInquiryResults));
  });

  pairing.hooks.refreshPairPage = [&pairing] { refreshPairPage(pairing); };
  pairing.onClicked(ctl::kPairButton, [&pairing, &local] { pairDevices(pairing, local); });
  pairing.onClicked(ctl::kUnpairButton, [&pairing, &local] { unpairDevices(pairing, local); });

  remotePage.hooks.refreshRemotePage = [&remotePage, &local] {
    refreshRemotePage(remotePage, local);
  };
  initRemotePage(remotePage);
  remotePage.onClicked(ctl::kRemoteHandshake, [] { onHandshake(); });
  remotePage.onClicked(ctl::kRemoteProgram, [&remotePage] { onProgramRemoteDevice(remotePage); });
  remotePage.onClicked(ctl::kRemoteExit, [] { onExitRemoteAccess(); });

  w.onLoadSettingsFile = [&w, &local] {
    onLoadSettingsFile(local, [&w] { return chooseFile(&w, false); });
  };
  w.onSaveSettingsFile = [&w] { onSaveSettingsFile([&w] { return chooseFile(&w, true); }); };
}

}  // namespace

Hook<std::optional<std::string>(bool save)> fileDialogHook;

MainWindow::Startup applicationStartup(const WindowOptions& options) {
  MainWindow::Startup s;
  // Before the pages exist the current directory is still the one the
  // program started in. A port given on the command line is preselected
  // instead of settings.txt's; it is kept there once it has been opened.
  s.loadSettings = [port = options.port] {
    loadStartupSettings("settings.txt");
    if (port) copyField(uart.comPort, *port);
  };
  s.installHandlers = &installHandlers;
  s.canClose = [] {
    if (!pairingRunning()) return true;
    requestPairingStop();
    return false;
  };
  s.stopWork = &stopLongWork;
  s.saveSettings = [] {
    SaveSettingsToFile(startupDirectory.empty() ? std::string("settings.txt")
                                                : startupDirectory + "/settings.txt");
  };
  s.deviceLost = [] {
    stopLongWork();
    // Closing clears the uart record, the port's name with it.
    const std::string port(fieldView(uart.comPort));
    if (UartDeviceLost()) UartDeinit();
    localDev.initialised = 0;
    // Watch for the adapter's return; its port may be gone already.
    noteAdapterLost(port);
    if (FormInterface* page = gLocalPage.load()) refreshPortList(*page);
  };
  s.afterShutdown = [] {
    gLocalPage = nullptr;
    applyResponseHook = nullptr;
    rtsBoxEnabledHook = nullptr;
    uninstallCommandEngine();
  };
  return s;
}

}  // namespace kx
