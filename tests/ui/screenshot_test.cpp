// Saves pictures of the main window with each of its four pages, so that a
// person can check the layout against the templates, and checks that each
// page lies inside its frame and every control inside its page.
#include <QDir>
#include <QPlainTextEdit>
#include <QtTest>

#include "ui/about_dialog.h"
#include "ui/connection_page.h"
#include "ui/form_page.h"
#include "ui/local_device_page.h"
#include "ui/main_window.h"
#include "ui/pair_device_page.h"
#include "ui/remote_device_page.h"

using namespace kx;

class ScreenshotTest : public QObject {
  Q_OBJECT
 private slots:
  void savesEachPage_data() {
    QTest::addColumn<int>("pageId");
    QTest::addColumn<QString>("file");
    QTest::newRow("local") << LocalDevicePage::kDialogId << "main_local_device.png";
    QTest::newRow("pairing") << PairDevicePage::kDialogId << "main_pairing.png";
    QTest::newRow("connection") << ConnectionPage::kDialogId << "main_connection.png";
    QTest::newRow("remote") << RemoteDevicePage::kDialogId << "main_remote_device.png";
  }

  void savesEachPage() {
    QFETCH(int, pageId);
    QFETCH(QString, file);
    const QString dir = qEnvironmentVariable("KX_SCREENSHOT_DIR");
    if (dir.isEmpty()) QSKIP("KX_SCREENSHOT_DIR is not set");
    QVERIFY(QDir().mkpath(dir));

    MainWindow window;
    window.messageBoxHook = [](auto&&...) { return MsgResult::Ok; };
    window.appendStatus("Status window: lines appear here");
    window.appendStatus("Inquiry started....");
    window.advanceSpinner(1);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.showPage(pageId);
    FormPage* page = window.page(pageId);
    QVERIFY(page->isVisible());

    // The page sits inside the frame, and each of its controls inside it.
    const QRect frame = window.controls().control(ctl::kMainPageFrame)->geometry();
    QVERIFY(frame.contains(page->geometry()));
    for (QWidget* child : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (child->isWindow()) continue;
      QVERIFY2(page->rect().contains(child->geometry()), qPrintable(child->objectName()));
    }

    const QImage image = window.grab().toImage();
    QVERIFY(!image.isNull());
    QVERIFY(image.save(QDir(dir).filePath(file), "PNG"));
  }

  void savesAboutBox() {
    const QString dir = qEnvironmentVariable("KX_SCREENSHOT_DIR");
    if (dir.isEmpty()) QSKIP("KX_SCREENSHOT_DIR is not set");
    QVERIFY(QDir().mkpath(dir));
    AboutDialog about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    // Every text fits inside the box.
    for (QWidget* child : about.form().findChildren<QWidget*>())
      QVERIFY(about.form().rect().contains(child->geometry()));
    QVERIFY(about.grab().toImage().save(QDir(dir).filePath("about.png"), "PNG"));
  }
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"
