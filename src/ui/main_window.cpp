#include "ui/main_window.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLayout>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>

#include "common/debug_log.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "link/main_timers.h"
#include "serial/uart.h"
#include "ui/about_dialog.h"
#include "ui/connection_page.h"
#include "ui/form_page.h"
#include "ui/led_button.h"
#include "ui/local_device_page.h"
#include "ui/message_box.h"
#include "ui/pair_device_page.h"
#include "ui/production_window.h"
#include "ui/remote_device_page.h"

namespace kx {

namespace {

using K = ControlKind;

// The main window's client area is 435 x 347 dialog units below the menu bar.
constexpr int kClientWidth = 435;
constexpr int kClientHeight = 347;
constexpr std::size_t kStartupDirectorySize = 1024;

const ControlSpec kMainWindowControls[] = {
    {.id = ctl::kMainLocalDeviceButton, .kind = K::PushButton, .caption = "&Local Device Settings", .x = 7,
     .y = 32, .w = 70, .h = 34, .tooltip = "Display window with settings of the Device"},
    {.id = ctl::kMainPairingButton, .kind = K::PushButton, .caption = "&Pairing", .x = 8, .y = 78, .w = 70,
     .h = 34, .tooltip = "Display functionality related to pairing"},
    {.id = ctl::kMainConnectionButton, .kind = K::PushButton, .caption = "&Connection", .x = 7, .y = 124,
     .w = 70, .h = 34, .tooltip = "Display functionality related to inquiry, connection and disconnection"},
    {.id = ctl::kMainRemoteButton, .kind = K::PushButton, .caption = "&Remote Device Settings", .x = 7,
     .y = 170, .w = 70, .h = 34, .tooltip = "Display functionality related to remote configuration"},
    {.id = ctl::kMainPageFrame, .kind = K::GroupBox, .caption = "", .x = 87, .y = 24, .w = 341, .h = 228,
     .label = "Local Device Settings"},
    {.id = ctl::kMainStatus, .kind = K::StatusBox, .caption = "", .x = 87, .y = 251, .w = 341, .h = 77,
     .label = "Status"},
    {.id = ctl::kMainDtr, .kind = K::CheckBox, .caption = "DTR", .x = 130, .y = 329, .w = 30, .h = 10},
    {.id = ctl::kMainRts, .kind = K::CheckBox, .caption = "RTS", .x = 165, .y = 329, .w = 30, .h = 10},
    {.id = ctl::kMainLedUart, .kind = K::Led, .caption = "UART", .x = 200, .y = 329, .w = 35, .h = 10},
    {.id = ctl::kMainLedDevice, .kind = K::Led, .caption = "Device", .x = 240, .y = 329, .w = 39, .h = 10},
    {.id = ctl::kMainLedConnection, .kind = K::Led, .caption = "Connection", .x = 284, .y = 329, .w = 55,
     .h = 10},
    {.id = ctl::kMainLedDsr, .kind = K::Led, .caption = "DSR", .x = 344, .y = 329, .w = 35, .h = 10},
    {.id = ctl::kMainLedCts, .kind = K::Led, .caption = "CTS", .x = 384, .y = 329, .w = 34, .h = 10},
};

const char* pageTitle(int pageId) {
  switch (pageId) {
    case LocalDevicePage::kDialogId:
      return "Local Device Settings";
    case RemoteDevicePage::kDialogId:
      return "Remote Device Settings";
    case ConnectionPage::kDialogId:
      return "Connection";
    case PairDevicePage::kDialogId:
      return "Pairing";
  }
  return "";
}

int timerIndex(int32_t id) {
  switch (id) {
    case TIMER_AT_COMMAND:
      return 0;
    case TIMER_INQUIRY:
      return 1;
    case TIMER_HANDSHAKE:
      return 2;
  }
  return -1;
}

constexpr int32_t kTimerIds[3] = {TIMER_AT_COMMAND, TIMER_INQUIRY, TIMER_HANDSHAKE};

// The widget shows lines ending in "\n"; the system's text ends them in
// "\r\n" (and callers may pass bare "\r" or "\n").
QString toWidgetText(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  return text;
}

}  // namespace

QIcon applicationIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1E, 0x4F, 0x9C));
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
  p.setPen(Qt::white);
  QFont font = dialogFont();
  font.setBold(true);
  font.setPixelSize(13);
  p.setFont(font);
  p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("KX"));
  p.end();
  return QIcon(pixmap);
}

MainWindow::MainWindow(Startup startup, QWidget* parent) : QMainWindow(parent), startup_(std::move(startup)) {
  // A fixed-size dialog-like window: title bar, system menu, minimise box.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("KX627 Configuration Tool"));
  setWindowIcon(applicationIcon());
  setFont(dialogFont());
  // Linux window managers draw the title-bar menu themselves and offer
  // clients no way to add entries to it, so About stays in the Help menu.

  controls_ = new FormPage(kMainWindowControls, this);
  controls_->setFixedSize(controls_->units().rect(0, 0, kClientWidth, kClientHeight).size());
  setCentralWidget(controls_);
  status_ = controls_->controlAs<QPlainTextEdit>(ctl::kMainStatus);
  buildMenus();
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  mainWindowHandle = this;

  clearUart();
  clearLocalDev();
  clearPair();
  clearInquiry();
  clearRemote();
  closeDebugLog();
  startup_.loadSettings();

  localDevicePage_ = new LocalDevicePage(controls_);
  remoteDevicePage_ = new RemoteDevicePage(controls_);
  connectionPage_ = new ConnectionPage(controls_);
  pairDevicePage_ = new PairDevicePage(controls_);
  for (int id : {LocalDevicePage::kDialogId, RemoteDevicePage::kDialogId, ConnectionPage::kDialogId,
                 PairDevicePage::kDialogId}) {
    FormPage* p = page(id);
    p->setObjectName(QString::number(id));
    p->setAccessibleName(QString::fromUtf8(pageTitle(id)));
    p->hide();
  }

  const QString directory = QDir::currentPath();
  startupDirectory = fromQt(directory).substr(0, kStartupDirectorySize - 1);

  pagesCreated_ = true;

  // Tab moves from the page buttons into the page shown (its controls in the
  // order of its layout; hidden pages are passed over), then on to the
  // status window and the modem lines: the order of the window's layout.
  QWidget* previous = controls_->control(ctl::kMainRemoteButton);
  for (int id : {LocalDevicePage::kDialogId, PairDevicePage::kDialogId, ConnectionPage::kDialogId,
                 RemoteDevicePage::kDialogId}) {
    for (QWidget* child : page(id)->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (!(child->focusPolicy() & Qt::TabFocus)) continue;
      QWidget::setTabOrder(previous, child);
      previous = child;
    }
  }
  QWidget::setTabOrder(previous, controls_->control(ctl::kMainStatus));

  // Each page lies just inside the frame: 1 pixel in, 2 pixels narrower and
  // lower than the frame.
  const QRect frame = controls_->control(ctl::kMainPageFrame)->geometry();
  pageRect_ = QRect(frame.x() + 1, frame.y() + 1, frame.width() - 2, frame.height() - 2);

  controls_->onClicked(ctl::kMainLocalDeviceButton, [this] { showPage(LocalDevicePage::kDialogId); });
  controls_->onClicked(ctl::kMainPairingButton, [this] { showPage(PairDevicePage::kDialogId); });
  controls_->onClicked(ctl::kMainConnectionButton, [this] { showPage(ConnectionPage::kDialogId); });
  controls_->onClicked(ctl::kMainRemoteButton, [this] { showPage(RemoteDevicePage::kDialogId); });
  controls_->onClicked(ctl::kMainDtr, [this] { onModemLineClicked(true); });
  controls_->onClicked(ctl::kMainRts, [this] { onModemLineClicked(false); });

  for (int i = 0; i < 3; ++i) {
    timers_[i].setSingleShot(false);
    connect(&timers_[i], &QTimer::timeout, this, [this, i] { onTimerTick(i); });
  }
  urlOpener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  manualInstallDir = QDir::cleanPath(QCoreApplication::applicationDirPath() + u'/' +
                                     QStringLiteral(KX_MANUAL_DIR_FROM_BIN));

  startup_.installHandlers(*this);

  showPage(LocalDevicePage::kDialogId);
  for (int id : {ctl::kMainLedUart, ctl::kMainLedDevice, ctl::kMainLedConnection, ctl::kMainLedDsr, ctl::kMainLedCts}) led(id)->setState(0);
}

MainWindow::~MainWindow() {
  shutdown();
  for (QTimer& timer : timers_) timer.stop();
  if (mainWindowHandle == this) mainWindowHandle = nullptr;
}

void MainWindow::buildMenus() {
  // Every menu and item has an access key, the letter after "&" (Alt+F opens
  // File; then S saves): one letter per menu or item, none twice in the same
  // menu bar or menu. An item added later takes a letter still free there.
  // Saving and loading need an adapter that has been read: enabled by
  // updateIndicators once there is one.
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  saveAction_ = file->addAction(QStringLiteral("&Save Settings File\u2026"), this, [this] {
    onSaveSettingsFile();
  });
  saveAction_->setShortcut(QKeySequence::Save);
  saveAction_->setEnabled(false);
  loadAction_ = file->addAction(QStringLiteral("&Load Settings File\u2026"), this, [this] {
    onLoadSettingsFile();
  });
  loadAction_->setShortcut(QKeySequence::Open);
  loadAction_->setEnabled(false);
  // The production window is made when it is first asked for.
  file->addAction(QStringLiteral("&Production\u2026"), this, [] { ProductionWindow::showTheOne(); });
  file->addAction(QStringLiteral("E&xit"), this, &QWidget::close);

  QMenu* debug = menuBar()->addMenu(QStringLiteral("&Debug"));
  debugAction_ = debug->addAction(QStringLiteral("&Enable Debug"));
  debugAction_->setCheckable(true);
  connect(debugAction_, &QAction::triggered, this, [this](bool nowChecked) {
    // The action has already flipped its mark; the log switches from the
    // state before the click and reports the mark to show.
    int err = 0;
    const bool result = toggleDebug(!nowChecked, &err);
    if (nowChecked && !result) showMessageBox(debugOpenErrorText(err));
    if (nowChecked && result)
      appendStatus("Debug log: " + fromQt(QDir::toNativeSeparators(
                                       QDir(toQt(startupDirectory)).absoluteFilePath(QStringLiteral("Debug.txt")))));
    if (!nowChecked && !result) appendStatus("Debug log closed");
    debugAction_->setChecked(result);
  });

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addAction(QStringLiteral("&User Manual"), this,
                  [this] { openManual("KX627 Configuration Manual.pdf"); });
  help->addAction(QStringLiteral("AT &Command Manual"), this, [this] { openManual("AT Command Manual.pdf"); });
  help->addAction(QStringLiteral("&About\u2026"), this, &MainWindow::showAbout);
}

void MainWindow::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  for (int32_t id : kTimerIds) killTimer(id);
  startup_.stopWork();
  startup_.saveSettings();
  if (pagesCreated_) UartDeinit();
  startup_.afterShutdown();
  debugLog("Main Application Exiting....");
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!shutDown_ && startup_.canClose && !startup_.canClose()) {
    event->ignore();
    QTimer::singleShot(100, this, &QWidget::close);
    return;
  }
  shutdown();
  event->accept();
}

FormPage* MainWindow::page(int pageId) const {
  switch (pageId) {
    case LocalDevicePage::kDialogId:
      return localDevicePage_;
    case RemoteDevicePage::kDialogId:
      return remoteDevicePage_;
    case ConnectionPage::kDialogId:
      return connectionPage_;
    case PairDevicePage::kDialogId:
      return pairDevicePage_;
  }
  return nullptr;
}

LedButton* MainWindow::led(int id) const { return controls_->controlAs<LedButton>(id); }

// ------------------------------------------------------------ operations

void MainWindow::showPage(int pageId) {
  if (!pagesCreated_) return;
  for (int id : {LocalDevicePage::kDialogId, RemoteDevicePage::kDialogId, ConnectionPage::kDialogId,
                 PairDevicePage::kDialogId})
    page(id)->hide();
  FormPage* shown = page(pageId);
  if (!shown) return;
  shown->setGeometry(pageRect_);
  shown->raise();
  shown->show();
  // The button of the page shown has a bold caption (the buttons stay plain
  // push buttons for assistive technology).
  for (const auto& [button, id] : {std::pair{ctl::kMainLocalDeviceButton, LocalDevicePage::kDialogId},
                                   std::pair{ctl::kMainPairingButton, PairDevicePage::kDialogId},
                                   std::pair{ctl::kMainConnectionButton, ConnectionPage::kDialogId},
                                   std::pair{ctl::kMainRemoteButton, RemoteDevicePage::kDialogId}}) {
    QWidget* b = controls_->control(button);
    QFont font = b->font();
    font.setBold(id == pageId);
    b->setFont(font);
  }
  QWidget* frame = controls_->control(ctl::kMainPageFrame);
  frame->setAccessibleName(QString::fromUtf8(pageTitle(pageId)));
}

void MainWindow::settleStatus() {
  if (spinnerAt_ >= 0 && spinnerAt_ == statusText_.size() - 3) setLastLineEnd(spinnerOriginal_);
  spinnerAt_ = -1;
  progressAt_ = -1;
  progressDocAt_ = -1;
}

void MainWindow::showProgress(const std::string& text) {
  debugLog("%s", text.c_str());
  if (spinnerAt_ >= 0) settleStatus();
  QTextCursor cursor(status_->document());
  if (progressAt_ >= 0 && progressAt_ <= statusText_.size()) {
    statusText_.truncate(progressAt_);
    cursor.setPosition(progressDocAt_);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  } else {
    progressAt_ = statusText_.size();
    cursor.movePosition(QTextCursor::End);
    progressDocAt_ = cursor.position();
  }
  const QString line = toQt(text);
  statusText_ += line + QStringLiteral("\r\n");
  cursor.insertText(toWidgetText(line) + u'\n');
  showNewestStatus();
}

void MainWindow::appendStatus(const std::string& text) {
  settleStatus();
  debugLog("%s", text.c_str());
  const QString piece = toQt(text);
  const bool continues = text == ".";
  statusText_ += piece;
  if (!continues) statusText_ += QStringLiteral("\r\n");

  QTextCursor cursor(status_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(continues ? piece : toWidgetText(piece) + u'\n');
  showNewestStatus();
}

void MainWindow::advanceSpinner(int step) {
  if (statusText_.size() < 3) return;
  static const char16_t kSpinner[] = u"\\|/-";
  const QChar mark(kSpinner[((step % 4) + 4) % 4]);
  const qsizetype at = statusText_.size() - 3;
  if (spinnerAt_ != at) {
    spinnerAt_ = at;
    spinnerOriginal_ = statusText_[at];
  }
  setLastLineEnd(mark);
}

void MainWindow::setLastLineEnd(QChar mark) {
  const qsizetype at = statusText_.size() - 3;
  if (at < 0) return;
  const QChar old = statusText_[at];
  statusText_[at] = mark;

  // The usual case: the text ends in a line break and the mark replaces the
  // last character of the last line; change just that character.
  QTextDocument* doc = status_->document();
  const QTextBlock last = doc->lastBlock();
  const QTextBlock line = last.previous();
  const bool simple = statusText_.endsWith(QStringLiteral("\r\n")) && old != u'\r' && old != u'\n' &&
                      last.length() == 1 && line.isValid() && line.length() > 1 &&
                      line.text().back() == old;
  if (simple) {
    QTextCursor cursor(doc);
    cursor.setPosition(line.position() + line.length() - 2);
    cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    cursor.insertText(QString(mark));
  } else {
    rebuildStatusWidget();
  }
  showNewestStatus();
}

void MainWindow::rebuildStatusWidget() { status_->setPlainText(toWidgetText(statusText_)); }

void MainWindow::showNewestStatus() {
  QScrollBar* bar = status_->verticalScrollBar();
  bar->setValue(bar->maximum());
  // Paint now: the caller may keep this thread busy (a command wait, a
  // pairing) before the event loop runs again. repaint() draws without
  // processing any input.
  if (status_->isVisible()) status_->viewport()->repaint();
}

void MainWindow::updateIndicators() {
  led(ctl::kMainLedUart)->setState(uart.isUartActive.load());
  led(ctl::kMainLedDevice)->setState(localDev.initialised.load());
  led(ctl::kMainLedConnection)->setState(localDev.connected.load());
  led(ctl::kMainLedDsr)->setState(localDev.dsr.load());
  led(ctl::kMainLedCts)->setState(localDev.cts.load());
  saveAction_->setEnabled(localDev.initialised.load() != 0);
  loadAction_->setEnabled(localDev.initialised.load() != 0);
  localDevicePage_->setOperationMode(localDev.dataMode.load() == 1 ? LocalDevicePage::OperationMode::Data
                                                                   : LocalDevicePage::OperationMode::Command);
}

void MainWindow::openManual(const std::string& fileName) {
  // The manuals are looked up in the start directory, whatever directory a
  // file dialog has made current since, and then where the package installs
  // them; the full path leaves the current directory alone.
  const QString startDir = toQt(startupDirectory);
  QString path;
  for (const QString& dir : {startDir, manualInstallDir}) {
    const QString candidate = QDir(dir).filePath(toQt(fileName));
    if (!dir.isEmpty() && QFileInfo(candidate).isFile()) {
      path = candidate;
      break;
    }
  }
  if (path.isEmpty()) {
    debugLog("UI: manual %s not found in %s or %s", fileName.c_str(), startupDirectory.c_str(),
             fromQt(manualInstallDir).c_str());
    showMessageBox(formatBounded(1024, "%s not found\nLooked in %s and in %s", fileName.c_str(),
                                 startupDirectory.c_str(), fromQt(manualInstallDir).c_str()));
    return;
  }
  // The desktop's opener reports only success or failure, not why.
  if (!urlOpener(QUrl::fromLocalFile(path)))
    showMessageBox(formatBounded(1024, "Failed to load %s. Unknown reason", fileName.c_str()));
}

void MainWindow::showAbout() {
  AboutDialog about(this);
  about.exec();
}

void MainWindow::onModemLineClicked(bool dtr) {
  const int id = dtr ? ctl::kMainDtr : ctl::kMainRts;
  if (localDev.initialised.load() == 0) {
    showMessageBox(dtr ? "Local Device not initalized. DTR value cannot be changed"
                       : "Local Device not initalized. RTS value cannot be changed");
    controls_->setChecked(id, false);
    return;
  }
  const bool on = controls_->checked(id);
  const char* line = dtr ? "DTR" : "RTS";
  debugLog("UART: %s %s", on ? "Enabling" : "Disabling", line);
  const int32_t err = dtr ? (on ? UartRaiseDtr() : UartLowerDtr()) : (on ? UartRaiseRts() : UartLowerRts());
  if (err != 0) debugLog("%s %s failed: %d", on ? "Set" : "Clear", line, static_cast<int>(err));
}

void MainWindow::onDeviceLost(const std::string& text) {
  // A notice from an earlier open may arrive after the port was opened anew.
  if (!UartDeviceLost()) return;
  appendStatus(text);
  startup_.deviceLost();
  localDevicePage_->hooks.enableDeviceControls(0);
  updateIndicators();
  showMessageBox(text);
}

// ------------------------------------------------------------ routing

void MainWindow::handleNotification(int32_t id, int64_t lParam, const std::string& text) {
  switch (id) {
    case NOTIFY_STATUS_TEXT:
      appendStatus(text);
      break;
    case NOTIFY_SHOW_LOCAL_DEVICE:
      localDevicePage_->hooks.showLocalDevice();
      break;
    case NOTIFY_COMMAND_RESPONSE:
      localDevicePage_->hooks.applyCommandResponse();
      break;
    case NOTIFY_SHOW_PAIR_DEVICES:
      pairDevicePage_->hooks.refreshPairPage();
      break;
    case NOTIFY_REFRESH_INDICATORS:
      updateIndicators();
      break;
    case NOTIFY_INQUIRY_RESULTS:
      connectionPage_->hooks.refreshInquiryList();
      break;
    case NOTIFY_CLEAR_INQUIRY:
      connectionPage_->hooks.clearInquiryList();
      break;
    case NOTIFY_CONNECTION_BUTTONS:
      connectionPage_->hooks.updateConnectionButtons();
      break;
    case NOTIFY_REMOTE_PAGE:
      remoteDevicePage_->hooks.refreshRemotePage();
      break;
    case MSG_PROGRESS_SPINNER:
      if (const std::string line = progressText(static_cast<int>(lParam)); !line.empty())
        showProgress(line);
      else
        advanceSpinner(static_cast<int>(lParam));
      break;
    case NOTIFY_ENABLE_ABORT:
      localDevicePage_->setEnabled(ctl::kAbort, lParam != 0);
      break;
    case NOTIFY_READ_SETTINGS:
      localDevicePage_->hooks.onReadSettings();
      break;
    case NOTIFY_DEVICE_INITIALISED:
      localDevicePage_->hooks.readAllSettings();
      localDevicePage_->hooks.enableDeviceControls(1);
      break;
    case NOTIFY_DTR_STATE:
      controls_->setChecked(ctl::kMainDtr, lParam != 0);
      break;
    case NOTIFY_RTS_STATE:
      controls_->setChecked(ctl::kMainRts, lParam != 0);
      break;
    case NOTIFY_DEVICE_LOST:
      onDeviceLost(text);
      break;
    default:
      debugLog("UI: unhandled notification %d", id);
      break;
  }
}

void MainWindow::handleTimer(int32_t id) { onMainTimer(id, *connectionPage_, *controls_); }

// ------------------------------------------------------------ WindowInterface

bool MainWindow::isUiThread() const { return QThread::currentThread() == thread(); }

void MainWindow::post(int32_t id, int64_t lParam, const std::string& text) {
  QMetaObject::invokeMethod(
      this, [this, id, lParam, text] { handleNotification(id, lParam, text); }, Qt::QueuedConnection);
}

void MainWindow::send(int32_t id, int64_t lParam, const std::string& text) {
  if (isUiThread()) {
    handleNotification(id, lParam, text);
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, id, lParam, &text] { handleNotification(id, lParam, text); }, Qt::BlockingQueuedConnection);
}

void MainWindow::sendSpinner(int32_t step) { send(MSG_PROGRESS_SPINNER, step); }

void MainWindow::setTimer(int32_t id, int periodMs) {
  const int i = timerIndex(id);
  if (i < 0) {
    debugLog("UI: setTimer with unknown id %d", id);
    return;
  }
  const uint64_t generation = ++timerGeneration_[i];
  timerArmed_[i] = true;
  auto apply = [this, i, generation, periodMs] {
    if (timerGeneration_[i].load() == generation) timers_[i].start(periodMs);
  };
  if (isUiThread())
    apply();
  else
    QMetaObject::invokeMethod(this, apply, Qt::QueuedConnection);
}

void MainWindow::killTimer(int32_t id) {
  const int i = timerIndex(id);
  if (i < 0) {
    debugLog("UI: killTimer with unknown id %d", id);
    return;
  }
  const uint64_t generation = ++timerGeneration_[i];
  timerArmed_[i] = false;
  auto apply = [this, i, generation] {
    if (timerGeneration_[i].load() == generation) timers_[i].stop();
  };
  if (isUiThread())
    apply();
  else
    QMetaObject::invokeMethod(this, apply, Qt::QueuedConnection);
}

bool MainWindow::timerActive(int32_t id) const {
  const int i = timerIndex(id);
  return i >= 0 && timerArmed_[i].load() && timers_[i].isActive();
}

void MainWindow::onTimerTick(int index) {
  if (!timerArmed_[index].load()) {
    timers_[index].stop();  // killed from another thread; the stop is on its way
    return;
  }
  handleTimer(kTimerIds[index]);
}

MsgResult MainWindow::messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                                 MsgIcon icon) {
  if (isUiThread()) return showBox(text, caption, buttons, icon);
  MsgResult result = MsgResult::Cancel;
  QMetaObject::invokeMethod(
      this, [&] { result = showBox(text, caption, buttons, icon); }, Qt::BlockingQueuedConnection);
  return result;
}

MsgResult MainWindow::showBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                              MsgIcon icon) {
  const auto hooked = messageBoxHook.tryCall(text, caption, buttons, icon);
  const MsgResult answer = hooked ? *hooked : askUser(text, caption, buttons, icon);
  afterMessageBox(text, answer);
  return answer;
}

MsgResult MainWindow::askUser(const std::string& text, const std::string& caption, MsgButtons buttons,
                              MsgIcon icon) {
  return execMessageBox(this, caption.empty() ? windowTitle() : toQt(caption), toQt(text), buttons,
                        icon);
}

void MainWindow::postMessageBox(const std::string& text) {
  QMetaObject::invokeMethod(
      this, [this, text] { showBox(text, {}, MsgButtons::Ok, boxIconFor(text, MsgButtons::Ok)); },
      Qt::QueuedConnection);
}

void MainWindow::invokeOnUi(const std::function<void()>& fn) {
  if (isUiThread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(this, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

void MainWindow::setWaitCursor(bool on) {
  if (!isUiThread()) {
    QMetaObject::invokeMethod(this, [this, on] { setWaitCursor(on); }, Qt::QueuedConnection);
    return;
  }
  if (on) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++waitCursorDepth_;
  } else if (waitCursorDepth_ > 0) {
    QApplication::restoreOverrideCursor();
    --waitCursorDepth_;
  }
}

}  // namespace kx
