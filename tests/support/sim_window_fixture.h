// The real main window offscreen, wired to the core as the application wires
// it, with the adapter simulator plugged in-process behind the serial link.
// Each case runs in a fresh temporary directory (settings.txt and Debug.txt
// land there); message boxes and file dialogs are answered by the fixture.
#pragma once

// The simulator's headers come before Qt's: Qt defines `emit` as a macro,
// and the world has a member of that name.
#include "sim/in_process.h"
#include "sim/world.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/debug_log.h"
#include "common/records.h"
#include "device/initialise.h"
#include "device/local_device.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "serial/uart.h"
#include "ui/app_wiring.h"
#include "ui/form_page.h"
#include "ui/led_button.h"
#include "ui/local_device_page.h"
#include "ui/main_window.h"

namespace kx::test {

// The port name the page selects; the in-process simulator answers whatever
// name is opened.
inline const char* const kSimPort = "/dev/kx-sim";

// settings.txt that preselects the simulator's port and these line settings.
inline std::string settingsFor(int baud, const char* parity = "None", int stopBits = 1,
                               bool flow = false) {
  return std::string("Port = ") + kSimPort + "\nBaud = " + std::to_string(baud) +
         "\nStopBits = " + std::to_string(stopBits) + "\nFlowControl = " + (flow ? "On" : "Off") +
         "\nParity = " + parity + "\n";
}

class SimWindow {
 public:
  // Starts the window in a fresh directory; settings.txt is written first
  // unless `settings` is empty. The simulator's port is selected unless the
  // command line's options name one.
  SimWindow(const sim::WorldOptions& options, const std::string& settings,
            const WindowOptions& windowOptions = {}) {
    oldCwd_ = QDir::currentPath();
    QDir::setCurrent(dir.path());
    if (!settings.empty()) writeFile("settings.txt", settings);
    world = std::make_unique<sim::World>(options);
    link = sim::attachInProcess(*world);
    fileDialogHook = [this](bool save) {
      dialogs.push_back(save);
      return nextPath;
    };
    // Boxes shown while the window starts (before the hook below exists) are
    // real modal boxes: read and dismissed as they come up.
    QTimer catcher;
    QObject::connect(&catcher, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        startupBoxes.push_back(box->text().toStdString());
        box->accept();
      }
    });
    catcher.start(20);
    window = std::make_unique<MainWindow>(applicationStartup(windowOptions));
    catcher.stop();
    window->messageBoxHook = [this](const std::string& text, const std::string&,
                                    MsgButtons buttons, MsgIcon) {
      boxes.push_back(text);
      return answer ? answer(text, buttons) : MsgResult::Ok;
    };
    window->show();
    if (!windowOptions.port) selectPort(kSimPort);
  }

  ~SimWindow() {
    window.reset();
    fileDialogHook = nullptr;
    if (link) link->detach();
    world.reset();
    serialDeviceFactory = nullptr;
    QDir::setCurrent(oldCwd_);
    closeDebugLog();
    clearUart();
    clearLocalDev();
    clearPair();
    clearInquiry();
    clearRemote();
    std::lock_guard lock(atCommandMutex);
    clearAtCommand();
  }

  LocalDevicePage& page() const { return *window->localDevicePage(); }

  // Adds the port to the COM Port list (when missing) and selects it.
  void selectPort(const std::string& name) {
    LocalDevicePage& p = page();
    int row = -1;
    for (int i = 0; i < p.rowCount(ctl::kComPortList); ++i)
      if (p.rowText(ctl::kComPortList, i) == name) row = i;
    if (row < 0) {
      p.addRow(ctl::kComPortList, name);
      row = p.rowCount(ctl::kComPortList) - 1;
    }
    p.setSelection(ctl::kComPortList, row);
  }

  // A user's click: does nothing on a disabled control.
  void click(int id) {
    auto* button = page().controlAs<QAbstractButton>(id);
    QVERIFY2(button, "not a button");
    button->click();
  }
  // Types into an edit box.
  void type(int id, const std::string& text) {
    auto* edit = page().controlAs<QLineEdit>(id);
    QVERIFY2(edit, "not an edit box");
    edit->setText(QString::fromStdString(text));
  }
  // Picks the row of a drop-down list with this text.
  void choose(int id, const std::string& text) {
    auto* list = page().controlAs<QComboBox>(id);
    QVERIFY2(list, "not a list");
    const int row = list->findText(QString::fromStdString(text));
    QVERIFY2(row >= 0, "no such row");
    list->setCurrentIndex(row);
  }

  int statusCount(const QString& line) const {
    return window->statusText().count(line + QStringLiteral("\r\n"));
  }
  bool statusHas(const QString& line) const { return statusCount(line) > 0; }

  std::vector<std::string> received() const { return world->received(1); }
  // Commands the adapter received from position `from` on.
  std::vector<std::string> receivedFrom(std::size_t from) const {
    const auto all = received();
    if (from >= all.size()) return {};
    return {all.begin() + static_cast<std::ptrdiff_t>(from), all.end()};
  }

  // Read Settings and wait until the whole read has finished.
  bool readSettings(int timeoutMs = 15000) {
    const int before = statusCount(QStringLiteral("Device Settings read complete"));
    click(ctl::kReadSettings);
    QElapsedTimer clock;
    clock.start();
    while (statusCount(QStringLiteral("Device Settings read complete")) == before &&
           clock.elapsed() < timeoutMs)
      QTest::qWait(20);
    return statusCount(QStringLiteral("Device Settings read complete")) > before;
  }

  void writeFile(const QString& name, const std::string& content) {
    QFile f(dir.filePath(name));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content.data(), static_cast<qint64>(content.size()));
  }
  // Read as text: Windows' CR LF line ends come back as "\n".
  QString readFile(const QString& name) const {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(f.readAll());
  }

  QTemporaryDir dir;
  std::unique_ptr<sim::World> world;
  std::shared_ptr<sim::InProcessTransport> link;
  std::unique_ptr<MainWindow> window;
  std::vector<std::string> boxes;
  // Answers the boxes shown once the window is up; unset, every box gets Ok.
  std::function<MsgResult(const std::string&, MsgButtons)> answer;
  std::vector<std::string> startupBoxes;
  std::vector<bool> dialogs;  // true for a save dialog
  std::optional<std::string> nextPath;

 private:
  QString oldCwd_;
};

}  // namespace kx::test
