// The production window offscreen: its tiles for every state a fixture can
// be in, and a station of two fixtures run for real (kx627-cli workers
// beside this program, each with the simulator in its process in front of
// two units, one of which fails): the tiles, the lock with its PIN,
// the counters and the table from the unit log, the filter and the CSV
// export, and the counters' reset.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <set>

#include "production/station_shift.h"
#include "ui/fixture_tile.h"
#include "ui/production_window.h"

using namespace kx;
using namespace kx::production;

namespace {

StationEvent done(UnitOutcome outcome, const char* reason = "") {
  StationEvent e;
  e.kind = StationEvent::Kind::Done;
  e.address = "0012-6F-100003";
  e.outcome = outcome;
  e.name = "Sensor-100003";
  e.reason = reason;
  return e;
}

int visibleRows(const QTableWidget* table) {
  int n = 0;
  for (int row = 0; row < table->rowCount(); ++row) n += table->isRowHidden(row) ? 0 : 1;
  return n;
}

}  // namespace

class ProductionWindowTest : public QObject {
  Q_OBJECT
 private slots:
  // Each state in words and colour; the tile is named for its fixture.
  void tileShowsEveryState_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("detail");
    using S = FixtureStatus::State;
    QTest::newRow("waiting") << int(S::Waiting) << 0 << "Waiting for a unit" << "";
    QTest::newRow("no port") << int(S::NoPort) << 0 << "No port" << "The port is in use by another program.";
    QTest::newRow("programming") << int(S::Programming) << 0 << "Programming"
                                 << "0012-6F-100003: programming 2 of 5";
    QTest::newRow("pass") << int(S::Done) << int(UnitOutcome::Passed) << "PASS"
                          << "0012-6F-100003  Sensor-100003";
    QTest::newRow("fail") << int(S::Done) << int(UnitOutcome::Failed) << "FAIL"
                          << "0012-6F-100003: read back different: Name";
    QTest::newRow("already") << int(S::Done) << int(UnitOutcome::AlreadyProvisioned)
                             << "Already provisioned" << "0012-6F-100003";
    QTest::newRow("stopped") << int(S::Stopped) << 0 << "Stopped" << "";
    QTest::newRow("broken") << int(S::Broken) << 0 << "Stopped" << "kx627-cli: cannot open the unit log";
  }
  void tileShowsEveryState() {
    QFETCH(int, state);
    QFETCH(int, outcome);
    QFETCH(QString, word);
    QFETCH(QString, detail);
    FixtureStatus status;
    status.fixture = {"Fixture 2", "/dev/ttyUSB1"};
    status.state = FixtureStatus::State(state);
    status.event.address = "0012-6F-100003";
    status.event.step = "programming 2 of 5";
    status.event.reason = "The port is in use by another program.";
    status.lastUnit = done(UnitOutcome(outcome), "read back different: Name");
    if (status.state != FixtureStatus::State::Done) status.lastUnit.reset();
    status.errorLines = {"kx627-cli: cannot open the unit log"};
    FixtureTile tile("Fixture 2");
    tile.resize(400, 160);
    tile.showStatus(status);
    QCOMPARE(tile.stateText(), word);
    QCOMPARE(tile.detailText(), detail);
    QCOMPARE(tile.accessibleName(), QStringLiteral("Fixture 2"));
    QVERIFY(tile.accessibleDescription().startsWith(word));

    // The colour repeats what the words say: a FAIL is not coloured as a PASS.
    if (word == "FAIL") {
      FixtureTile passed("Fixture 1");
      status.lastUnit = done(UnitOutcome::Passed);
      passed.showStatus(status);
      QVERIFY(passed.palette().color(QPalette::Window) != tile.palette().color(QPalette::Window));
    }
  }

  // Two fixtures in front of simulated units: one unit of each passes, the
  // other fails; the window locks while it runs and its counters and table
  // come from the unit log.
  void runsAStationOfTwoFixtures() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString line = dir.filePath("line.txt");
    {
      QFile file(line);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("Name = Unit-{address:6}\n");
      QFile station(dir.filePath("station.txt"));
      QVERIFY(station.open(QIODevice::WriteOnly));
      station.write("SupervisorPin = 2468\n");
    }
    ProductionOptions options;
    options.settingsFile = line.toStdString();
    options.unitLog = dir.filePath("units.db").toStdString();
    options.operatorName = "ann";
    options.ports = {"SIM-A", "SIM-B"};
    options.simulator = true;
    ProductionWindow window(dir.path(), options);
    window.simulatedUnits = 2;
    window.simulatedFailEvery = 2;  // Fixture 1's second unit, Fixture 2's first
    window.extraWorkerArguments = {"--time-scale", "0.05"};
    std::vector<std::string> boxes;
    MsgResult answer = MsgResult::Yes;
    window.messageBoxHook = [&](const std::string& text, MsgButtons buttons, MsgIcon) {
      boxes.push_back(text);
      return isYesNo(buttons) ? answer : MsgResult::Ok;
    };
    std::optional<std::string> pin = "0000";
    window.pinHook = [&] { return pin; };
    std::set<QString> seen;  // every tile's state and line as it changed
    connect(&window, &ProductionWindow::stationChanged, [&] {
      for (FixtureTile* t : window.tiles()) seen.insert(t->stateText() + " " + t->detailText());
    });
    window.show();
    QCOMPARE(window.windowTitle(), QStringLiteral("KX627 Production"));
    QVERIFY(window.startButton()->isDefault());
    QVERIFY2(window.locked(), "a station with a supervisor PIN opens locked");

    QVERIFY(window.start());
    QVERIFY(window.running());
    QVERIFY(!window.setupArea()->isEnabled());
    QCOMPARE(window.tiles().size(), std::size_t(2));
    QCOMPARE(window.tiles()[1]->accessibleName(), QStringLiteral("Fixture 2"));
    // The last unit stays in: Fixture 1 ends on a FAIL, Fixture 2 on a PASS.
    QTRY_COMPARE_WITH_TIMEOUT(window.tiles()[0]->stateText(), QStringLiteral("FAIL"), 60000);
    QTRY_COMPARE_WITH_TIMEOUT(window.tiles()[1]->stateText(), QStringLiteral("PASS"), 60000);
    QVERIFY2(window.tiles()[0]->detailText().endsWith(": read back different: Name"),
             qPrintable(window.tiles()[0]->detailText()));
    int passes = 0, fails = 0;
    for (const QString& s : seen) {
      passes += s.startsWith("PASS 0012-6F-") && s.contains("  Unit-") ? 1 : 0;
      fails += s.startsWith("FAIL 0012-6F-") && s.endsWith(": read back different: Name") ? 1 : 0;
    }
    QCOMPARE(passes, 2);
    QCOMPARE(fails, 2);

    // The counters and the table, from the log: the figures are asked for
    // after each unit, so a count may still lag behind the tiles.
    QTRY_COMPARE_WITH_TIMEOUT(window.counter("Failed")->text(), QStringLiteral("2"), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(window.counter("Passed")->text(), QStringLiteral("2"), 30000);
    QCOMPARE(window.counter("First-pass yield")->text(), QStringLiteral("50.0 %"));
    QCOMPARE(window.unitTable()->rowCount(), 4);
    window.resultFilter()->setCurrentIndex(2);  // Failed
    QCOMPARE(visibleRows(window.unitTable()), 2);
    QString error;
    const QString csv = dir.filePath("failed.csv");
    QVERIFY2(window.exportCsv(csv, &error), qPrintable(error));
    QFile exported(csv);
    QVERIFY(exported.open(QIODevice::ReadOnly));
    const QByteArray text = exported.readAll();
    QVERIFY(text.startsWith("\xEF\xBB\xBFTime,Fixture,Address,Name,Result,Reason,Seconds,Operator\r\n"));
    QCOMPARE(text.count("\r\n"), 3);
    QCOMPARE(text.count(",mismatch,read back different: Name,"), 2);

    // Unlocking: asked, then the PIN; a wrong one keeps the lock.
    QVERIFY(!window.unlock());
    QVERIFY(window.locked() && window.running());
    QCOMPARE(boxes.back(), std::string("Wrong PIN: the setup stays locked."));
    pin = "2468";
    QVERIFY(window.unlock());
    QVERIFY(!window.locked());
    QTRY_VERIFY_WITH_TIMEOUT(!window.running(), 30000);
    for (FixtureTile* t : window.tiles()) QCOMPARE(t->stateText(), QStringLiteral("Stopped"));

    // Reset Counters asks first.
    answer = MsgResult::No;
    QVERIFY(!window.resetCounters());
    QCOMPARE(window.counter("Passed")->text(), QStringLiteral("2"));
    answer = MsgResult::Yes;
    QSignalSpy refreshed(&window, &ProductionWindow::figuresChanged);
    QVERIFY(window.resetCounters());
    QVERIFY(refreshed.wait(30000));
    QCOMPARE(window.counter("Passed")->text(), QStringLiteral("0"));
    QCOMPARE(window.unitTable()->rowCount(), 0);
  }
};

QTEST_MAIN(ProductionWindowTest)
#include "production_window_test.moc"
