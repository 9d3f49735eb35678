// The simulator's headers come before Qt's: Qt defines `emit` as a macro,
// and the world has a member of that name.
// clang-format off
#include "sim/in_process.h"
#include "sim/world.h"
// clang-format on

#include "window_pictures.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <memory>
#include <string>

#include "common/control_ids.h"
#include "common/records.h"
#include "platform/clock.h"
#include "ui/app_wiring.h"
#include "ui/connection_page.h"
#include "ui/form_page.h"
#include "ui/local_device_page.h"
#include "ui/main_window.h"
#include "ui/fixture_tile.h"
#include "ui/pair_device_page.h"
#include "ui/production_window.h"
#include "ui/remote_device_page.h"

namespace kx::manual {
namespace {

// The port the pictures show; the in-process simulator answers whatever
// name is opened.
constexpr const char* kPort = "/dev/ttyUSB0";

// Runs the event loop until `done` holds; false after `timeoutMs`.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 15000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

// One adapter on the desk (adapter 1, a master so that it may inquire), a
// second one for the pairing, and three remote devices in range. Short radio
// timings keep the build quick; the pictures do not show time.
sim::WorldOptions deskWorld() {
  sim::WorldOptions o;
  o.adapters = 2;
  o.remotes = 3;
  o.inquiryMs = 900;
  o.connectMs = 50;
  o.guardMs = 30;
  return o;
}

class Session {
 public:
  explicit Session(const QString& pictures) : pictures_(QDir(pictures).absolutePath()) {}

  ~Session() {
    window_.reset();  // closes the link first, while the world still answers
    if (link_) link_->detach();
    link_.reset();
    world_.reset();
    setClockScale(1.0);
    if (!previousDir_.isEmpty()) QDir::setCurrent(previousDir_);
  }

  QString run() {
    // Only today's pictures: the tests count them.
    QDir(pictures_).removeRecursively();
    if (!home_.isValid() || !QDir().mkpath(pictures_)) return QStringLiteral("no room for the pictures");
    previousDir_ = QDir::currentPath();
    QDir::setCurrent(home_.path());  // settings.txt and Debug.txt land here
    // The serial-port values the window starts with (without the file it
    // would report it missing in a box before any page is shown).
    QFile settings(home_.filePath(QStringLiteral("settings.txt")));
    if (!settings.open(QIODevice::WriteOnly) ||
        settings.write(QByteArray("Port = ") + kPort + "\nBaud = 19200\nStopBits = 1\nFlowControl = Off\nParity = None\n") < 0)
      return QStringLiteral("cannot write settings.txt");
    settings.close();
    setClockScale(0.1);
    world_ = std::make_unique<sim::World>(deskWorld());
    link_ = sim::attachInProcess(*world_);
    world_->set(1, "role", "master");
    world_->set(1, "name", "Workshop-1");

    window_ = std::make_unique<MainWindow>(applicationStartup());
    window_->messageBoxHook = [this](const std::string& text, const std::string&, MsgButtons buttons,
                                     MsgIcon) { return answer(text, buttons); };
    window_->show();

    if (QString failed = readAdapter(); !failed.isEmpty()) return failed;
    if (QString failed = inquire(); !failed.isEmpty()) return failed;
    if (QString failed = configureRemote(); !failed.isEmpty()) return failed;
    if (QString failed = pair(); !failed.isEmpty()) return failed;
    return production();
  }

 private:
  // The person at the desk: plugs the adapter a pairing prompt asks for and
  // answers every question with OK or Yes.
  MsgResult answer(const std::string& text, MsgButtons buttons) {
    if (text.rfind("Connect Device 2 to ", 0) == 0) world_->plug(2);
    if (text.rfind("Connect Device 1 to ", 0) == 0) world_->plug(1);
    return buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
  }

  LocalDevicePage& local() const { return *window_->localDevicePage(); }
  ConnectionPage& connection() const { return *window_->connectionPage(); }
  RemoteDevicePage& remote() const { return *window_->remoteDevicePage(); }
  PairDevicePage& pairing() const { return *window_->pairDevicePage(); }

  bool statusHas(const char* line) const {
    return window_->statusText().contains(QString::fromUtf8(line) + QStringLiteral("\r\n"));
  }

  static bool click(FormPage& page, int id) {
    auto* button = page.controlAs<QAbstractButton>(id);
    if (!button || !button->isEnabled()) return false;
    button->click();
    return true;
  }

  QString save(int pageId, const char* file) {
    window_->showPage(pageId);
    QCoreApplication::processEvents();
    const QString path = QDir(pictures_).filePath(QString::fromUtf8(file));
    if (!window_->grab().save(path, "PNG")) return QStringLiteral("cannot write ") + path;
    return {};
  }

  QString readAdapter() {
    auto* ports = local().controlAs<QComboBox>(ctl::kComPortList);
    ports->addItem(QString::fromUtf8(kPort));
    ports->setCurrentIndex(ports->count() - 1);
    local().setText(ctl::kBaudRateList, "19200");
    local().setSelection(ctl::kParityList, 0);
    local().setChecked(ctl::kStopOne, true);
    local().setChecked(ctl::kFlowDisabled, true);
    if (!click(local(), ctl::kReadSettings) ||
        !waitFor([this] { return local().enabled(ctl::kSaveSettings) && statusHas("Device Settings read complete"); }))
      return QStringLiteral("Read Settings did not finish");
    local().setText(ctl::kAtCommand, "AT+VER");
    return save(LocalDevicePage::kDialogId, kPictureLocalDevice);
  }

  QString inquire() {
    window_->showPage(ConnectionPage::kDialogId);
    if (!click(connection(), ctl::kInquireDevices) ||
        !waitFor([this] { return statusHas("Inquiry Complete.") && !connection().enabled(ctl::kCancelInquiry); }))
      return QStringLiteral("the inquiry did not finish");
    connection().controlAs<QListWidget>(ctl::kInquiryResults)->setCurrentRow(1);
    return save(ConnectionPage::kDialogId, kPictureConnection);
  }

  QString configureRemote() {
    if (!click(connection(), ctl::kConnect) ||
        !waitFor([this] { return localDev.connected.load() == 1 && connection().enabled(ctl::kDisconnect); }))
      return QStringLiteral("the connection was not made");
    window_->showPage(RemoteDevicePage::kDialogId);
    if (!click(remote(), ctl::kRemoteHandshake) ||
        !waitFor([this] { return statusHas("Handshake Complete...") && remote().enabled(ctl::kRemoteProgram); }))
      return QStringLiteral("the handshake did not complete");
    remote().setSelection(ctl::kRemoteBaudList, 4);  // 115200
    if (!click(remote(), ctl::kRemoteProgram) ||
        !waitFor([this] { return statusHas("Remote Device Baud rate changed."); }))
      return QStringLiteral("the remote adapter's speed was not changed");
    if (QString failed = save(RemoteDevicePage::kDialogId, kPictureRemoteDevice); !failed.isEmpty())
      return failed;
    if (!click(remote(), ctl::kRemoteExit) || !waitFor([this] { return statusHas("Remote Access Mode Exited."); }))
      return QStringLiteral("remote access did not end");
    window_->showPage(ConnectionPage::kDialogId);
    if (!click(connection(), ctl::kDisconnect) ||
        !waitFor([this] { return localDev.connected.load() == 0 && !connection().enabled(ctl::kDisconnect); }))
      return QStringLiteral("the connection did not end");
    return {};
  }

  QString pair() {
    window_->showPage(PairDevicePage::kDialogId);
    if (!click(pairing(), ctl::kPairButton) || !waitFor([this] { return statusHas("Pairing Successful"); }))
      return QStringLiteral("the pairing did not succeed");
    return save(PairDevicePage::kDialogId, kPicturePairing);
  }

  // Two fixtures, each in front of two simulated units: Fixture 1's second
  // unit and Fixture 2's first fail. Taken once Fixture 1 shows its FAIL and
  // Fixture 2 its PASS, with the counters and the table filled.
  QString production() {
    QFile line(home_.filePath(QStringLiteral("line.txt")));
    if (!line.open(QIODevice::WriteOnly) ||
        line.write("Name = Sensor-{address:6}\nDiscoverable = On\nAutoConnect = Off\n") < 0)
      return QStringLiteral("cannot write line.txt");
    line.close();
    ProductionOptions options;
    options.settingsFile = "line.txt";
    options.unitLog = "units.db";
    options.operatorName = "ann";
    options.ports = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
    options.simulator = true;
    ProductionWindow station(home_.path(), options);
    station.simulatedUnits = 2;
    station.simulatedFailEvery = 2;
    station.extraWorkerArguments = {"--time-scale", "0.1"};
    station.messageBoxHook = [](const std::string&, MsgButtons, MsgIcon) { return MsgResult::Ok; };
    station.show();
    if (!station.start()) return QStringLiteral("the production window's station did not start");
    const auto tile = [&station](std::size_t i) { return station.tiles()[i]->stateText(); };
    if (!waitFor([&] {
          return tile(0) == QStringLiteral("FAIL") && tile(1) == QStringLiteral("PASS") &&
                 station.figures() && station.figures()->passed + station.figures()->failed == 4;
        }, 60000))
      return QStringLiteral("the production window's station did not program its units");
    QCoreApplication::processEvents();
    const QString path = QDir(pictures_).filePath(QString::fromUtf8(kPictureProduction));
    if (!station.grab().save(path, "PNG")) return QStringLiteral("cannot write ") + path;
    station.stop();
    if (!waitFor([&] { return !station.running(); }, 30000))
      return QStringLiteral("the production window's station did not stop");
    return {};
  }

  QString pictures_;
  QTemporaryDir home_;
  QString previousDir_;
  std::unique_ptr<sim::World> world_;
  std::shared_ptr<sim::InProcessTransport> link_;
  std::unique_ptr<MainWindow> window_;
};

}  // namespace

QString takeWindowPictures(const QString& dir) { return Session(dir).run(); }

}  // namespace kx::manual
