// The application's main window, titled "KX627 Configuration Tool": the four
// page buttons, the frame in which one page is shown at a time, the status
// window, the DTR and RTS boxes, the five LEDs and the menus. It is the
// WindowInterface of the core: every notification, the progress spinner and
// the three timers arrive here and are routed to the page or operation
// concerned, always on the user-interface thread.
//
// Threading contract: the WindowInterface members may be called from any
// thread as window.h states; every other member is for the user-interface
// thread only. Timers: a killTimer() from another thread takes effect at
// once for the expiry handling (an expiry already due is ignored), and the
// underlying QTimer is stopped on the user-interface thread shortly after.
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <array>
#include <atomic>
#include <functional>
#include <string>

#include "common/control_ids.h"
#include "common/hook.h"
#include "platform/window.h"

class QAction;
class QPlainTextEdit;

namespace kx {

class FormPage;
class LedButton;
class LocalDevicePage;
class RemoteDevicePage;
class ConnectionPage;
class PairDevicePage;

class MainWindow : public QMainWindow, public WindowInterface {
  Q_OBJECT
 public:
  // What the settings file layer and the page operations plug in.
  struct Startup {
    // After the records are cleared, before the pages exist (settings.txt's
    // serial-port values).
    Hook<void()> loadSettings;
    // Once the pages exist, before the first page is shown: install page
    // hooks and button handlers.
    Hook<void(MainWindow&)> installHandlers;
    // Asked when the user closes the window: false while work that runs on
    // this thread (a pairing waiting in a prompt) must first wind down; the
    // close is then retried shortly.
    Hook<bool()> canClose;
    // At shutdown, first: end work on other threads that uses the link.
    Hook<void()> stopWork;
    // At shutdown, before the serial link is closed (settings.txt).
    Hook<void()> saveSettings;
    // At shutdown, last: remove what installHandlers installed.
    Hook<void()> afterShutdown;
    // The open port went away (NOTIFY_DEVICE_LOST): end work that uses the
    // link and close it.
    Hook<void()> deviceLost;
  };


  explicit MainWindow(Startup startup = {}, QWidget* parent = nullptr);
  ~MainWindow() override;

  // ---- operations of the window (user-interface thread)
  // Appends a line to the status window; a lone "." continues the current
  // line. The status window is repainted at once, so that work blocking
  // this thread still shows each line as it is appended.
  void appendStatus(const std::string& text);
  // Turns the last character of the last line to "\|/-"[step mod 4]; the
  // next status line puts the character back, so no turn stays behind.
  void advanceSpinner(int step);
  // A status line that replaces itself: shown in place of the progress line
  // before it, until another status line follows.
  void showProgress(const std::string& text);
  // Shows the page with this dialog id (135, 136, 138, 139); any other id
  // hides them all.
  void showPage(int pageId);
  // The LEDs and the Operation Mode radio buttons from the records.
  void updateIndicators();
  // The adapter went away: status line, link closed, device controls off, a box naming the port.
  void onDeviceLost(const std::string& text);
  // Opens a manual with the desktop's viewer: the one in the start
  // directory, else the installed one (manualInstallDir).
  void openManual(const std::string& fileName);
  void showAbout();
  // Closes the link and saves settings; runs once (closing the window or
  // destroying it).
  void shutdown();

  // The routing of one notification or of an expired timer; the queued and
  // timer paths end here.
  void handleNotification(int32_t id, int64_t lParam, const std::string& text);
  void handleTimer(int32_t id);

  // ---- access for page operations and tests
  FormPage& controls() const { return *controls_; }
  LocalDevicePage* localDevicePage() const { return localDevicePage_; }
  RemoteDevicePage* remoteDevicePage() const { return remoteDevicePage_; }
  ConnectionPage* connectionPage() const { return connectionPage_; }
  PairDevicePage* pairDevicePage() const { return pairDevicePage_; }
  FormPage* page(int pageId) const;
  LedButton* led(int id) const;
  QPlainTextEdit* statusWindow() const { return status_; }
  QAction* debugAction() const { return debugAction_; }
  // The status text as the system keeps it, lines ending in "\r\n".
  const QString& statusText() const { return statusText_; }
  QRect pageRect() const { return pageRect_; }
  bool timerActive(int32_t id) const;

  // File menu items whose operations live in the settings file layer.
  Hook<void()> onSaveSettingsFile;
  Hook<void()> onLoadSettingsFile;
  QAction* saveSettingsAction() const { return saveAction_; }
  QAction* loadSettingsAction() const { return loadAction_; }
  // The progress line for a step of a long procedure, or empty to turn the
  // spinner instead (MSG_PROGRESS_SPINNER).
  Hook<std::string(int step)> progressText;

  // Replaces the message boxes (tests, scripted runs); empty shows them.
  Hook<MsgResult(const std::string& text, const std::string& caption, MsgButtons, MsgIcon)>
      messageBoxHook;
  // Told of every box's answer, on the UI thread, once the box is gone.
  Hook<void(const std::string& text, MsgResult answer)> afterMessageBox;
  // Opens a document with the desktop's viewer; tests replace it.
  Hook<bool(const QUrl&)> urlOpener;
  // Where the package installs the manuals: share/doc/kx627-config beside
  // the program's bin directory, wherever the prefix is (the build tree has
  // the same layout). Tests may point it elsewhere.
  QString manualInstallDir;

  // ---- WindowInterface
  void post(int32_t id, int64_t lParam, const std::string& text = {}) override;
  void send(int32_t id, int64_t lParam, const std::string& text = {}) override;
  void sendSpinner(int32_t step) override;
  void setTimer(int32_t id, int periodMs) override;
  void killTimer(int32_t id) override;
  MsgResult messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon = MsgIcon::None) override;
  void postMessageBox(const std::string& text) override;
  void invokeOnUi(const std::function<void()>& fn) override;
  void setWaitCursor(bool on) override;
  bool isUiThread() const override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();
  void onModemLineClicked(bool dtr);
  void onTimerTick(int index);
  void rebuildStatusWidget();
  // Puts `mark` in place of the last character of the last line.
  void setLastLineEnd(QChar mark);
  // Ends the spinner's turning and the progress line before a new line.
  void settleStatus();
  void showNewestStatus();
  MsgResult showBox(const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon icon);
  MsgResult askUser(const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon icon);

  Startup startup_;
  FormPage* controls_ = nullptr;
  QPlainTextEdit* status_ = nullptr;
  QString statusText_;
  LocalDevicePage* localDevicePage_ = nullptr;
  RemoteDevicePage* remoteDevicePage_ = nullptr;
  ConnectionPage* connectionPage_ = nullptr;
  PairDevicePage* pairDevicePage_ = nullptr;
  QAction* debugAction_ = nullptr;
  QAction* saveAction_ = nullptr;
  QAction* loadAction_ = nullptr;
  // The character the spinner turned, and where (-1: none turning).
  qsizetype spinnerAt_ = -1;
  QChar spinnerOriginal_;
  // Where the progress line starts in the status text and in the widget's
  // document (-1: the last line is no progress line).
  qsizetype progressAt_ = -1;
  int progressDocAt_ = -1;
  QRect pageRect_;
  bool pagesCreated_ = false;
  bool shutDown_ = false;
  int waitCursorDepth_ = 0;

  // Timers 275, 276, 277 by index 0..2. A set or kill bumps the generation;
  // the change queued to the user-interface thread applies only if no newer
  // one came since. `armed` answers an expiry at once.
  std::array<QTimer, 3> timers_;
  std::array<std::atomic<uint64_t>, 3> timerGeneration_{};
  std::array<std::atomic<bool>, 3> timerArmed_{};

};

// The application icon, drawn at the given size.
QIcon applicationIcon();

}  // namespace kx
