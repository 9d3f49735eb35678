// The real main window, offscreen, wired to the core as the application does
// it, with the adapter simulator behind its serial port: in process (a
// kx::sim::World) or a pseudo-terminal served by build/bin/adapter-sim.
// Message boxes are answered by `answer` (OK for every box unless a test
// says otherwise) and recorded in `boxes`. Each test builds its own window
// in a fresh current directory, so settings.txt never leaks between tests.
#pragma once

// First, before any Qt header defines its `emit` keyword: the simulator has
// a member of that name.
// clang-format off
#include "sim/in_process.h"
#include "sim/world.h"
// clang-format on

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/records.h"
#include "platform/clock.h"
#include "ui/app_wiring.h"
#include "ui/connection_page.h"
#include "ui/form_page.h"
#include "ui/local_device_page.h"
#include "ui/main_window.h"
#include "ui/pair_device_page.h"
#include "ui/remote_device_page.h"

namespace kx::test {

struct Box {
  std::string text;
  MsgButtons buttons;
};

class SimWindow {
 public:
  SimWindow() {
    QVERIFY(dir_.isValid());
    previousDir_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    // The serial-port values the window reads at start-up.
    QFile settings(dir_.filePath(QStringLiteral("settings.txt")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("Baud = 19200\nStopBits = 1\nParity = None\n");
  }

  ~SimWindow() {
    window.reset();  // closes the link first, while the world still answers
    if (link) link->detach();
    link.reset();
    world.reset();
    QDir::setCurrent(previousDir_);
  }

  // A world with `options`, attached in process, and the window on top.
  void startInProcess(const sim::WorldOptions& options) {
    world = std::make_unique<sim::World>(options);
    link = sim::attachInProcess(*world);
    openWindow("/dev/ttyKX-sim");
  }

  // The window alone, its COM port set to `port` (a pseudo-terminal).
  void openWindow(const std::string& port) {
    window = std::make_unique<MainWindow>(applicationStartup());
    window->messageBoxHook = [this](const std::string& text, const std::string&, MsgButtons buttons, MsgIcon) {
          boxes.push_back({text, buttons});
          return answer ? answer(text, buttons) : MsgResult::Ok;
        };
    auto* ports = local().controlAs<QComboBox>(ctl::kComPortList);
    ports->addItem(toQt(port));
    ports->setCurrentIndex(ports->count() - 1);
  }

  // Chooses the page's line settings and presses Read Settings; true once
  // every setting has been read and the page is enabled.
  bool initialise(int baud = 19200, int timeoutMs = 15000) {
    local().setText(ctl::kBaudRateList, std::to_string(baud));
    local().setSelection(ctl::kParityList, 0);   // no parity
    local().setChecked(ctl::kStopOne, true);  // one stop bit
    local().setChecked(ctl::kFlowDisabled, true);  // flow control off
    click(local(), ctl::kReadSettings);
    return waitFor([] { return localDev.initialised.load() == 1; }, timeoutMs) &&
           waitFor([this] { return local().enabled(ctl::kSaveSettings); }, timeoutMs);  // Save Settings
  }

  static bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
      if (clock.elapsed() > timeoutMs) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      QTest::qWait(5);
    }
    return true;
  }

  static void click(FormPage& page, int id) {
    auto* button = page.controlAs<QAbstractButton>(id);
    QVERIFY2(button, "no such button");
    QVERIFY2(button->isEnabled(), "button disabled");
    button->click();
  }

  LocalDevicePage& local() const { return *window->localDevicePage(); }
  ConnectionPage& connection() const { return *window->connectionPage(); }
  RemoteDevicePage& remotePage() const { return *window->remoteDevicePage(); }
  PairDevicePage& pairing() const { return *window->pairDevicePage(); }
  FormPage& mainControls() const { return window->controls(); }

  // Saves a picture of the window when KX_SCREENSHOT_DIR names a folder.
  void screenshot(const QString& name) const {
    const QString dir = qEnvironmentVariable("KX_SCREENSHOT_DIR");
    if (dir.isEmpty() || !QDir().mkpath(dir)) return;
    window->grab().save(dir + u'/' + name);
  }

  std::string status() const { return fromQt(window->statusText()); }
  bool statusHas(const std::string& line) const {
    return status().find(line + "\r\n") != std::string::npos;
  }
  bool boxShown(const std::string& text) const {
    for (const Box& b : boxes)
      if (b.text == text) return true;
    return false;
  }
  // Commands adapter n received since the mark.
  std::vector<std::string> receivedSince(int n, std::size_t mark) const {
    std::vector<std::string> all = world->received(n);
    return mark < all.size()
               ? std::vector<std::string>(all.begin() + static_cast<long>(mark), all.end())
               : std::vector<std::string>{};
  }
  std::string field(int n, const std::string& name) const {
    std::string value;
    world->get(n, name, &value);
    return value;
  }

  std::unique_ptr<sim::World> world;
  std::shared_ptr<sim::InProcessTransport> link;
  std::unique_ptr<MainWindow> window;
  std::vector<Box> boxes;
  std::function<MsgResult(const std::string&, MsgButtons)> answer;

 private:
  QTemporaryDir dir_;
  QString previousDir_;
};

// A 4-2-6 address as the 12 digits that commands carry.
inline std::string digitsOf(const std::string& address) {
  std::string out;
  for (char c : address)
    if (c != '-') out += c;
  return out;
}

inline bool contains(const std::vector<std::string>& list, const std::string& item) {
  for (const auto& s : list)
    if (s == item) return true;
  return false;
}

}  // namespace kx::test
