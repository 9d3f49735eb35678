// The production window, titled "KX627 Production": a station run from a
// window. A setup area (the settings file every unit gets, the values list,
// the unit log, the operator, and the fixtures: a name the operator sees and
// the port it stands on), kept in station.txt beside settings.txt; Start and
// Stop; a tile per fixture (fixture_tile.h); the shift's counters; the
// shift's units in a table with a filter by result and an export to CSV; and
// the shift report as a PDF (shift_report.h).
//
// It runs the very station `kx627-cli station` runs: the same worker
// processes (kx627-cli beside this program, one per fixture), the same events
// and the same stop, through production/station_run.h; its workers die with
// the window. The counters and the table come from the unit log alone,
// through `kx627-cli report --json`, so that a restarted window or a second
// station on the same PostgreSQL log shows the same numbers for the same
// span, and so that this program loads no database library. The unit log's
// password is never shown nor put on a worker's command line (the workers
// get it in PGPASSWORD).
//
// While the station runs the setup is locked; unlocking asks first, and for
// the supervisor PIN when the station file keeps one (a window that opens
// with a PIN opens locked).
//
// Threading: user-interface thread. Nothing of it exists until File >
// Production... or --production asks for it.
#pragma once

#include <QDialog>
#include <QString>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/hook.h"
#include "platform/window.h"
#include "production/shift_figures.h"
#include "production/station_file.h"
#include "production/station_run.h"
#include "ui/production_options.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;
class QGridLayout;

namespace kx {

class FixtureTile;

class ProductionWindow : public QDialog {
  Q_OBJECT
 public:
  // The window's title.
  static constexpr const char* kTitle = "KX627 Production";

  // `directory`: where station.txt is kept (the start directory).
  explicit ProductionWindow(QString directory, const ProductionOptions& options = {},
                            QWidget* parent = nullptr);
  ~ProductionWindow() override;

  // File > Production...: shows the program's one production window, made on
  // first use in the start directory.
  static void showTheOne();

  // ---- what the buttons do (user-interface thread)
  // Start: checks the setup, keeps it in station.txt, locks it and starts a
  // worker per fixture. False when something is missing (said in a box).
  bool start();
  // Stop: every fixture finishes the unit it is programming, then stops.
  void stop();
  // Unlock...: asks, and for the supervisor PIN when there is one; stops a
  // running station. True when the setup is unlocked.
  bool unlock();
  // Reset Counters: asks, then counts from now on (kept in station.txt).
  bool resetCounters();
  // Asks the unit log for the shift's figures (the counters and the table).
  void refreshFigures();
  // The table's rows as shown (the filter applies), oldest first, as CSV.
  bool exportCsv(const QString& path, QString* error);
  // Report...: asks for the span and the file, then writes the PDF.
  void makeReport();
  bool loadStationFile(const QString& path);
  bool saveStationFile(const QString& path);

  // ---- state and parts (tests)
  bool running() const { return run_ != nullptr; }
  bool locked() const { return locked_; }
  production::StationSetup setup() const;
  const std::vector<FixtureTile*>& tiles() const { return tiles_; }
  const std::optional<production::ShiftFigures>& figures() const { return figures_; }
  // The counter with this accessible name ("Passed", "First-pass yield", ...).
  QLabel* counter(const QString& name) const;
  QTableWidget* unitTable() const { return table_; }
  QComboBox* resultFilter() const { return filter_; }
  QPushButton* startButton() const { return startButton_; }
  QGroupBox* setupArea() const { return setupBox_; }

  // ---- plug points (tests; empty: the real dialogs)
  Hook<MsgResult(const std::string& text, MsgButtons buttons, MsgIcon icon)> messageBoxHook;
  // The supervisor PIN as typed, or empty for Cancel.
  Hook<std::optional<std::string>()> pinHook;
  // A file to open or save (`save`), or empty for Cancel.
  Hook<std::optional<std::string>(const QString& title, bool save)> fileDialogHook;
  // The report's span (from, to), or empty for Cancel.
  Hook<std::optional<std::pair<std::time_t, std::time_t>>()> reportSpanHook;
  // Added to every kx627-cli command line (tests: --time-scale).
  std::vector<std::string> extraWorkerArguments;
  // --simulator's simulated units per fixture and how often one fails: the
  // n-th fixture's every FAIL-th unit, counted from its unit 1 + n.
  int simulatedUnits = 200;
  int simulatedFailEvery = 5;

 signals:
  // A tile changed, or the station started or ended.
  void stationChanged();
  // The counters and the table were filled anew from the unit log.
  void figuresChanged();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  class CliRun;
  void buildSetup();
  void buildRest();
  void applySetup(const production::StationSetup& setup);
  void addFixtureRow(const production::Fixture& fixture);
  void rebuildTiles();
  void setLocked(bool locked);
  void updateButtons();
  void pollStation();
  void stationEnded();
  void showFigures();
  void filterTable();
  std::string countersFrom() const;
  void setLogAddress(const std::string& address);
  std::optional<std::string> chooseFile(const QString& title, const QString& filter, bool save);
  MsgResult ask(const std::string& text, MsgButtons buttons, MsgIcon icon);
  std::string problemsWithSetup(const production::StationSetup& s) const;
  void runCli(std::vector<std::string> args,
              std::function<void(int code, const std::string& out, const std::string& err)> done);

  QString directory_;
  bool simulator_ = false;
  std::string cliProgram_;
  std::string unitLog_;     // as given; the box shows it without the password
  std::string supervisorPin_;
  std::string countersFrom_;
  std::string station_;

  QGroupBox* setupBox_ = nullptr;
  QLineEdit* settingsEdit_ = nullptr;
  QLineEdit* valuesEdit_ = nullptr;
  QLineEdit* logEdit_ = nullptr;
  QLineEdit* operatorEdit_ = nullptr;
  QLineEdit* pinEdit_ = nullptr;
  QTableWidget* fixturesTable_ = nullptr;
  QPushButton* loadButton_ = nullptr;
  QPushButton* saveButton_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QPushButton* unlockButton_ = nullptr;
  QPushButton* reportButton_ = nullptr;
  QPushButton* resetButton_ = nullptr;
  QPushButton* exportButton_ = nullptr;
  QWidget* tileArea_ = nullptr;
  QGridLayout* tileGrid_ = nullptr;
  std::vector<FixtureTile*> tiles_;
  std::vector<QLabel*> counters_;
  QLabel* countersNote_ = nullptr;
  QComboBox* filter_ = nullptr;
  QTableWidget* table_ = nullptr;

  std::unique_ptr<production::StationRun> run_;
  QTimer* poll_ = nullptr;
  QTimer* refreshTimer_ = nullptr;
  bool locked_ = false;
  bool closeWhenStopped_ = false;
  bool figuresQueried_ = false;  // a query runs
  bool figuresAgain_ = false;    // another is wanted once it ends
  std::optional<production::ShiftFigures> figures_;
  std::vector<std::unique_ptr<CliRun>> cliRuns_;
};

// --production: the production window alone, in the current directory,
// until it is closed. The program's exit code.
int runProductionWindow(const ProductionOptions& options);

}  // namespace kx
