#include "ui/production_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <set>
#include <utility>

#include "common/debug_log.h"
#include "production/calendar.h"
#include "production/child_processes.h"
#include "production/log_address.h"
#include "serial/port_enum.h"
#include "ui/fixture_tile.h"
#include "ui/form_page.h"
#include "ui/message_box.h"
#include "ui/shift_report.h"
#include "ui/utf8_text.h"

namespace kx {

using namespace production;

namespace {

// How often the running station's workers are looked at, and the counters
// asked for again while the window is open ("units in the last hour" ages).
constexpr int kPollMs = 100;
constexpr int kRefreshMs = 60000;
// A query of the unit log that has not ended after this long is given up.
constexpr int kCliDeadlineMs = 60000;

const char* const kCounterNames[] = {"Passed", "Failed", "First-pass yield",
                                     "Units in the last hour", "Seconds per unit"};
const char* const kColumns[] = {"Time",   "Fixture", "Address", "Name",
                                "Result", "Reason",  "Seconds", "Operator"};

#ifdef Q_OS_WIN
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

QString oneDecimalText(const std::optional<double>& v, const char* unit = "") {
  return v ? QString::number(*v, 'f', 1) + QString::fromLatin1(unit) : QStringLiteral("\u2013");
}

}  // namespace

// One kx627-cli command run for the window: its output collected, its end
// told on the user-interface thread.
class ProductionWindow::CliRun {
 public:
  using Done = std::function<void(int code, const std::string& out, const std::string& err)>;
  CliRun(QObject* owner, const std::string& program, const std::vector<std::string>& args, Done done)
      : processes_(false), done_(std::move(done)) {
    started_ = processes_.start(program, args);
    timer_.setInterval(50);
    QObject::connect(&timer_, &QTimer::timeout, owner, [this] { poll(); });
    timer_.start();
    deadline_.start();
  }
  bool finished() const { return finished_; }

 private:
  void poll() {
    if (finished_) return;
    std::vector<ChildProcesses::Output> output;
    std::vector<ChildProcesses::Exit> exits;
    if (started_) processes_.wait(0, output, exits);
    for (const auto& o : output) (o.isError ? err_ : out_) += o.bytes;
    for (const auto& e : exits) code_ = e.code;
    if (started_ && deadline_.elapsed() > kCliDeadlineMs) processes_.interrupt(0, true);
    if (started_ && processes_.busy()) return;
    finished_ = true;
    timer_.stop();
    done_(started_ ? code_ : -1, out_, started_ ? err_ : "cannot start kx627-cli");
  }

  ChildProcesses processes_;
  Done done_;
  QTimer timer_;
  QElapsedTimer deadline_;
  bool started_ = false, finished_ = false;
  int code_ = -1;
  std::string out_, err_;
};

ProductionWindow::ProductionWindow(QString directory, const ProductionOptions& options,
                                   QWidget* parent)
    : QDialog(parent), directory_(std::move(directory)), simulator_(options.simulator) {
  setWindowTitle(QString::fromLatin1(kTitle));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  // The station's workers are kx627-cli, beside this program.
  const std::string beside = ChildProcesses::besideSelf("kx627-cli");
  cliProgram_ = beside;
  buildSetup();
  buildRest();

  StationSetup setup;
  const QString stationFile = QDir(directory_).filePath(QString::fromLatin1(kStationFileName));
  if (QFileInfo::exists(stationFile)) loadStationFile(stationFile);
  setup = this->setup();
  if (options.settingsFile) setup.settingsFile = *options.settingsFile;
  if (options.valuesFile) setup.valuesFile = *options.valuesFile;
  if (options.unitLog) setup.unitLog = *options.unitLog;
  if (options.operatorName) setup.operatorName = *options.operatorName;
  if (options.station) setup.station = *options.station;
  if (!options.ports.empty()) {
    setup.fixtures.clear();
    for (const std::string& port : options.ports)
      setup.fixtures.push_back({"Fixture " + std::to_string(setup.fixtures.size() + 1), port});
  }
  if (setup.fixtures.empty()) setup.fixtures.push_back({"Fixture 1", ""});
  applySetup(setup);
  // A station with a supervisor PIN opens locked: the operator starts it.
  setLocked(!supervisorPin_.empty());

  poll_ = new QTimer(this);
  poll_->setInterval(kPollMs);
  connect(poll_, &QTimer::timeout, this, &ProductionWindow::pollStation);
  refreshTimer_ = new QTimer(this);
  refreshTimer_->setInterval(kRefreshMs);
  connect(refreshTimer_, &QTimer::timeout, this, &ProductionWindow::refreshFigures);
  refreshTimer_->start();
  resize(1040, 820);
  QTimer::singleShot(0, this, &ProductionWindow::refreshFigures);
}

ProductionWindow::~ProductionWindow() {
  // The workers end with their processes' owner: at once, as when the
  // program is killed.
  if (run_) run_->stop(true);
}

void ProductionWindow::showTheOne() {
  static QPointer<ProductionWindow> window;
  if (!window) {
    window = new ProductionWindow(QString::fromLocal8Bit(startupDirectory.c_str()));
    window->setAttribute(Qt::WA_DeleteOnClose);
  }
  window->show();
  window->raise();
  window->activateWindow();
}

int runProductionWindow(const ProductionOptions& options) {
  ProductionWindow window(QDir::currentPath(), options);
  window.show();
  return QApplication::exec();
}

// ------------------------------------------------------------------ layout

void ProductionWindow::buildSetup() {
  setupBox_ = new QGroupBox(QStringLiteral("Setup"), this);
  auto* form = new QFormLayout(setupBox_);
  auto fileRow = [&](const QString& label, QLineEdit*& edit, const QString& title,
                     const QString& filter) {
    edit = new QLineEdit(setupBox_);
    edit->setAccessibleName(QString(label).remove(u'&').remove(u':'));
    auto* browse = new QPushButton(QStringLiteral("Browse\u2026"), setupBox_);
    browse->setAccessibleName(QStringLiteral("Browse for the %1").arg(edit->accessibleName().toLower()));
    connect(browse, &QPushButton::clicked, this, [this, edit, title, filter] {
      if (const auto path = chooseFile(title, filter, false)) edit->setText(QString::fromLocal8Bit(path->c_str()));
    });
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(browse);
    auto* caption = new QLabel(label, setupBox_);
    caption->setBuddy(edit);
    form->addRow(caption, row);
    return browse;
  };
  fileRow(QStringLiteral("&Settings file:"), settingsEdit_, QStringLiteral("Select settings file"),
          QStringLiteral("Text Files (*.txt)"));
  fileRow(QStringLiteral("&Values list:"), valuesEdit_, QStringLiteral("Select values list"),
          QStringLiteral("CSV Files (*.csv)"));
  fileRow(QStringLiteral("Unit &log:"), logEdit_, QStringLiteral("Select unit log"),
          QStringLiteral("Unit logs (*.db)"));
  logEdit_->setPlaceholderText(QStringLiteral("units.db, or postgresql://user@host/units"));
  // The box shows the address without its password; what is typed replaces it.
  connect(logEdit_, &QLineEdit::editingFinished, this, [this] {
    if (fromQt(logEdit_->text()) != shownAddress(unitLog_)) setLogAddress(fromQt(logEdit_->text()));
  });
  connect(logEdit_, &QLineEdit::textChanged, this, [this](const QString& text) {
    // A file chosen with Browse... (no typing to finish).
    if (!logEdit_->hasFocus() && fromQt(text) != shownAddress(unitLog_)) setLogAddress(fromQt(text));
  });
  operatorEdit_ = new QLineEdit(setupBox_);
  operatorEdit_->setAccessibleName(QStringLiteral("Operator"));
  form->addRow(QStringLiteral("&Operator:"), operatorEdit_);

  fixturesTable_ = new QTableWidget(0, 2, setupBox_);
  fixturesTable_->setAccessibleName(QStringLiteral("Fixtures"));
  fixturesTable_->setHorizontalHeaderLabels({QStringLiteral("Fixture"), QStringLiteral("Port")});
  fixturesTable_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  fixturesTable_->horizontalHeader()->setStretchLastSection(true);
  fixturesTable_->verticalHeader()->hide();
  fixturesTable_->setMaximumHeight(130);
  connect(fixturesTable_, &QTableWidget::itemChanged, this, [this] {
    if (!running()) rebuildTiles();
  });
  auto* add = new QPushButton(QStringLiteral("&Add Fixture"), setupBox_);
  auto* remove = new QPushButton(QStringLiteral("Re&move Fixture"), setupBox_);
  connect(add, &QPushButton::clicked, this, [this] {
    addFixtureRow({"Fixture " + std::to_string(fixturesTable_->rowCount() + 1), ""});
    rebuildTiles();
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    const int row = fixturesTable_->currentRow();
    if (fixturesTable_->rowCount() <= 1) return;
    fixturesTable_->removeRow(row >= 0 ? row : fixturesTable_->rowCount() - 1);
    rebuildTiles();
  });
  auto* fixtureButtons = new QVBoxLayout;
  fixtureButtons->addWidget(add);
  fixtureButtons->addWidget(remove);
  fixtureButtons->addStretch(1);
  auto* fixtures = new QHBoxLayout;
  fixtures->addWidget(fixturesTable_, 1);
  fixtures->addLayout(fixtureButtons);
  auto* fixturesCaption = new QLabel(QStringLiteral("&Fixtures:"), setupBox_);
  fixturesCaption->setBuddy(fixturesTable_);
  form->addRow(fixturesCaption, fixtures);

  pinEdit_ = new QLineEdit(setupBox_);
  pinEdit_->setEchoMode(QLineEdit::Password);
  pinEdit_->setAccessibleName(QStringLiteral("Supervisor PIN"));
  pinEdit_->setPlaceholderText(QStringLiteral("none: anyone may unlock the setup"));
  connect(pinEdit_, &QLineEdit::textChanged, this, [this](const QString& t) { supervisorPin_ = fromQt(t); });
  form->addRow(QStringLiteral("Supervisor &PIN:"), pinEdit_);
}

void ProductionWindow::buildRest() {
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(setupBox_, 1);
  auto* side = new QVBoxLayout;
  auto button = [&](const QString& text, void (ProductionWindow::*slot)()) {
    auto* b = new QPushButton(text, this);
    connect(b, &QPushButton::clicked, this, slot);
    side->addWidget(b);
    return b;
  };
  startButton_ = new QPushButton(QStringLiteral("S&tart"), this);
  connect(startButton_, &QPushButton::clicked, this, [this] { start(); });
  side->addWidget(startButton_);
  startButton_->setDefault(true);
  startButton_->setAutoDefault(true);
  stopButton_ = button(QStringLiteral("St&op"), &ProductionWindow::stop);
  unlockButton_ = new QPushButton(QStringLiteral("&Unlock\u2026"), this);
  connect(unlockButton_, &QPushButton::clicked, this, [this] { unlock(); });
  side->addWidget(unlockButton_);
  side->addSpacing(16);
  loadButton_ = new QPushButton(QStringLiteral("Loa&d\u2026"), this);
  connect(loadButton_, &QPushButton::clicked, this, [this] {
    if (const auto path = chooseFile(QStringLiteral("Load station file"),
                                     QStringLiteral("Text Files (*.txt)"), false))
      loadStationFile(QString::fromLocal8Bit(path->c_str()));
  });
  side->addWidget(loadButton_);
  saveButton_ = new QPushButton(QStringLiteral("Sa&ve\u2026"), this);
  connect(saveButton_, &QPushButton::clicked, this, [this] {
    if (const auto path = chooseFile(QStringLiteral("Save station file as..."),
                                     QStringLiteral("Text Files (*.txt)"), true))
      saveStationFile(QString::fromLocal8Bit(path->c_str()));
  });
  side->addWidget(saveButton_);
  side->addSpacing(16);
  reportButton_ = button(QStringLiteral("&Report\u2026"), &ProductionWindow::makeReport);
  side->addStretch(1);
  top->addLayout(side);
  layout->addLayout(top);

  tileArea_ = new QWidget(this);
  tileGrid_ = new QGridLayout(tileArea_);
  tileGrid_->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tileArea_);

  auto* counters = new QHBoxLayout;
  for (const char* name : kCounterNames) {
    auto* box = new QVBoxLayout;
    auto* caption = new QLabel(QString::fromLatin1(name), this);
    auto* value = new QLabel(QStringLiteral("\u2013"), this);
    QFont big = value->font();
    big.setPointSize(20);
    big.setBold(true);
    value->setFont(big);
    value->setAccessibleName(QString::fromLatin1(name));
    caption->setBuddy(value);
    box->addWidget(caption);
    box->addWidget(value);
    counters->addLayout(box);
    counters_.push_back(value);
  }
  resetButton_ = new QPushButton(QStringLiteral("Reset &Counters"), this);
  connect(resetButton_, &QPushButton::clicked, this, [this] { resetCounters(); });
  counters->addWidget(resetButton_, 0, Qt::AlignBottom);
  layout->addLayout(counters);
  countersNote_ = new QLabel(this);
  countersNote_->setWordWrap(true);
  layout->addWidget(countersNote_);

  auto* tableBar = new QHBoxLayout;
  auto* filterLabel = new QLabel(QStringLiteral("Show &results:"), this);
  filter_ = new QComboBox(this);
  filter_->addItems({QStringLiteral("All results"), QStringLiteral("Passed"), QStringLiteral("Failed"),
                     QStringLiteral("Already provisioned")});
  filter_->setAccessibleName(QStringLiteral("Show results"));
  filterLabel->setBuddy(filter_);
  connect(filter_, &QComboBox::currentIndexChanged, this, &ProductionWindow::filterTable);
  exportButton_ = new QPushButton(QStringLiteral("&Export CSV\u2026"), this);
  connect(exportButton_, &QPushButton::clicked, this, [this] {
    const auto path =
        chooseFile(QStringLiteral("Export the units as CSV"), QStringLiteral("CSV Files (*.csv)"), true);
    if (!path) return;
    QString error;
    if (!exportCsv(QString::fromLocal8Bit(path->c_str()), &error)) ask(fromQt(error), MsgButtons::Ok, MsgIcon::Error);
  });
  tableBar->addWidget(filterLabel);
  tableBar->addWidget(filter_);
  tableBar->addStretch(1);
  tableBar->addWidget(exportButton_);
  layout->addLayout(tableBar);

  table_ = new QTableWidget(0, int(std::size(kColumns)), this);
  table_->setAccessibleName(QStringLiteral("Units of the shift"));
  QStringList headers;
  for (const char* c : kColumns) headers << QString::fromLatin1(c);
  table_->setHorizontalHeaderLabels(headers);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->hide();
  table_->setAlternatingRowColors(true);
  table_->setWordWrap(false);
  // Every column as wide as its widest cell; the reason takes the rest.
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table_->horizontalHeader()->setSectionResizeMode(5, QHeaderView::Stretch);
  layout->addWidget(table_, 1);
}

void ProductionWindow::addFixtureRow(const Fixture& fixture) {
  const int row = fixturesTable_->rowCount();
  fixturesTable_->insertRow(row);
  fixturesTable_->setItem(row, 0, new QTableWidgetItem(utf8(fixture.name)));
  // A port the system lists, or any name typed (a by-path link, COM12).
  auto* port = new QComboBox(fixturesTable_);
  port->setEditable(true);
  port->setAccessibleName(QStringLiteral("Port of %1").arg(utf8(fixture.name)));
  for (const std::string& p : systemPorts()) port->addItem(QString::fromLocal8Bit(p.c_str()));
  port->setCurrentText(QString::fromLocal8Bit(fixture.port.c_str()));
  fixturesTable_->setCellWidget(row, 1, port);
}

void ProductionWindow::rebuildTiles() {
  for (FixtureTile* t : tiles_) delete t;
  tiles_.clear();
  const StationSetup s = setup();
  const int columns = s.fixtures.size() <= 4 ? int(std::max<std::size_t>(s.fixtures.size(), 1)) : 4;
  for (std::size_t i = 0; i < s.fixtures.size(); ++i) {
    auto* tile = new FixtureTile(utf8(s.fixtures[i].name), tileArea_);
    tileGrid_->addWidget(tile, int(i) / columns, int(i) % columns);
    tiles_.push_back(tile);
  }
}

// ------------------------------------------------------------------ setup

StationSetup ProductionWindow::setup() const {
  StationSetup s;
  s.settingsFile = fromQt(settingsEdit_->text().trimmed());
  s.valuesFile = fromQt(valuesEdit_->text().trimmed());
  s.unitLog = unitLog_;
  s.operatorName = fromQt(operatorEdit_->text().trimmed());
  s.station = station_;
  s.supervisorPin = supervisorPin_;
  s.countersFrom = countersFrom_;
  for (int row = 0; row < fixturesTable_->rowCount(); ++row) {
    const QTableWidgetItem* name = fixturesTable_->item(row, 0);
    const auto* port = qobject_cast<const QComboBox*>(fixturesTable_->cellWidget(row, 1));
    s.fixtures.push_back({name ? fromQt(name->text().trimmed()) : std::string(),
                          port ? fromQt(port->currentText().trimmed()) : std::string()});
  }
  return s;
}

void ProductionWindow::applySetup(const StationSetup& s) {
  settingsEdit_->setText(QString::fromLocal8Bit(s.settingsFile.c_str()));
  valuesEdit_->setText(QString::fromLocal8Bit(s.valuesFile.c_str()));
  setLogAddress(s.unitLog);
  operatorEdit_->setText(utf8(s.operatorName));
  pinEdit_->setText(utf8(s.supervisorPin));
  supervisorPin_ = s.supervisorPin;
  countersFrom_ = s.countersFrom;
  station_ = s.station;
  const QSignalBlocker quiet(fixturesTable_);
  fixturesTable_->setRowCount(0);
  for (const Fixture& f : s.fixtures) addFixtureRow(f);
  rebuildTiles();
}

void ProductionWindow::setLogAddress(const std::string& address) {
  unitLog_ = address;
  const QString shown = QString::fromLocal8Bit(shownAddress(address).c_str());
  if (logEdit_->text() != shown) {
    const QSignalBlocker quiet(logEdit_);
    logEdit_->setText(shown);
  }
}

bool ProductionWindow::loadStationFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    ask("Failed to open " + fromQt(path) + ": " + fromQt(file.errorString()), MsgButtons::Ok,
        MsgIcon::Error);
    return false;
  }
  const QByteArray text = file.readAll();
  std::vector<std::string> problems;
  const StationSetup s = parseStationFile(std::string_view(text.constData(), std::size_t(text.size())),
                                          fromQt(QFileInfo(path).fileName()), &problems);
  applySetup(s);
  if (!problems.empty()) {
    std::string lines;
    for (std::size_t i = 0; i < problems.size() && i < 10; ++i) lines += "\n" + problems[i];
    ask("Some lines of the station file were not used:" + lines, MsgButtons::Ok, MsgIcon::Warning);
  }
  return true;
}

bool ProductionWindow::saveStationFile(const QString& path) {
  QSaveFile file(path);
  const std::string text = stationFileText(setup(), kLineEnd);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.commit()) {
    ask("Failed to save " + fromQt(path) + ": " + fromQt(file.errorString()), MsgButtons::Ok,
        MsgIcon::Error);
    return false;
  }
  std::string password;
  splitPassword(unitLog_, &password);
  if (!password.empty())
    countersNote_->setText(QStringLiteral(
        "The unit log's password is not kept in the station file: keep it in the PostgreSQL "
        "password file (pgpass) or in PGPASSWORD."));
  return true;
}

std::string ProductionWindow::problemsWithSetup(const StationSetup& s) const {
  if (cliProgram_.empty())
    return "kx627-cli was not found beside " + fromQt(QCoreApplication::applicationFilePath()) +
           ": the station runs it.";
  if (s.settingsFile.empty()) return "Choose the settings file every unit gets.";
  if (!QFileInfo(QString::fromLocal8Bit(s.settingsFile.c_str())).isFile())
    return "There is no settings file " + s.settingsFile + ".";
  if (!s.valuesFile.empty() && !QFileInfo(QString::fromLocal8Bit(s.valuesFile.c_str())).isFile())
    return "There is no values list " + s.valuesFile + ".";
  if (s.unitLog.empty()) return "Choose the unit log: an SQLite file, or a PostgreSQL address.";
  std::set<std::string> names, ports;
  for (const Fixture& f : s.fixtures) {
    if (f.name.empty()) return "Every fixture needs a name.";
    if (f.port.empty()) return "Choose the port of " + f.name + ".";
    if (!names.insert(f.name).second) return "Two fixtures are named " + f.name + ".";
    if (!ports.insert(f.port).second) return "Two fixtures stand on the port " + f.port + ".";
  }
  return {};
}

// ------------------------------------------------------------------ the station

bool ProductionWindow::start() {
  if (running()) return false;
  StationSetup s = setup();
  if (const std::string problem = problemsWithSetup(s); !problem.empty()) {
    ask(problem, MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  if (countersFrom_.empty()) countersFrom_ = utcTimestampOf(std::time(nullptr));
  s.countersFrom = countersFrom_;
  // The setup that runs is the one the next start finds.
  saveStationFile(QDir(directory_).filePath(QString::fromLatin1(kStationFileName)));

  std::string password;
  const std::string address = splitPassword(s.unitLog, &password);
  if (!password.empty()) qputenv("PGPASSWORD", QByteArray::fromStdString(password));
  std::vector<std::string> common{"--log-db", address, "--station-worker"};
  if (!s.valuesFile.empty()) common.insert(common.end(), {"--values", s.valuesFile});
  if (!s.operatorName.empty()) common.insert(common.end(), {"--operator", s.operatorName});
  if (!s.station.empty()) common.insert(common.end(), {"--station", s.station});
  common.insert(common.end(), extraWorkerArguments.begin(), extraWorkerArguments.end());

  rebuildTiles();
  run_ = std::make_unique<StationRun>(s.fixtures, false);
  run_->start(cliProgram_, [&](std::size_t i) {
    std::vector<std::string> args{"station", s.settingsFile, "--port", s.fixtures[i].port,
                                  "--fixture", s.fixtures[i].name};
    if (simulator_)
      args.insert(args.end(), {"--simulate", std::to_string(simulatedUnits) + "," +
                                                 std::to_string(simulatedFailEvery) + "," +
                                                 std::to_string(i)});
    args.insert(args.end(), common.begin(), common.end());
    return args;
  });
  debugLog("PRODUCTION: station started with %zu fixture(s)", s.fixtures.size());
  for (std::size_t i = 0; i < tiles_.size(); ++i) tiles_[i]->showStatus(run_->shift().fixtures()[i]);
  setLocked(true);
  poll_->start();
  updateButtons();
  emit stationChanged();
  refreshFigures();
  return true;
}

void ProductionWindow::stop() {
  if (!run_ || run_->shift().stopping()) return;
  run_->stop(false);
  updateButtons();
}

void ProductionWindow::pollStation() {
  if (!run_) return;
  const StationRun::Changes changes = run_->poll(0);
  bool unitDone = false;
  for (std::size_t i : changes.fixtures) {
    const FixtureStatus& f = run_->shift().fixtures()[i];
    if (i < tiles_.size()) tiles_[i]->showStatus(f);
    unitDone = unitDone || f.state == FixtureStatus::State::Done;
  }
  if (!changes.fixtures.empty()) emit stationChanged();
  if (unitDone) refreshFigures();
  if (!run_->running()) stationEnded();
}

void ProductionWindow::stationEnded() {
  poll_->stop();
  std::string broken;
  for (const FixtureStatus& f : run_->shift().fixtures()) {
    if (f.state != FixtureStatus::State::Broken || !broken.empty()) continue;
    broken = f.fixture.name + " stopped by itself (exit code " + std::to_string(f.exitCode) + ")";
    for (const std::string& line : f.errorLines) broken += "\n" + line;
  }
  run_.reset();
  debugLog("PRODUCTION: station ended");
  updateButtons();
  emit stationChanged();
  refreshFigures();
  if (closeWhenStopped_) {
    close();
    return;
  }
  if (!broken.empty()) ask(broken, MsgButtons::Ok, MsgIcon::Error);
}

void ProductionWindow::setLocked(bool locked) {
  locked_ = locked;
  setupBox_->setEnabled(!locked);
  updateButtons();
}

void ProductionWindow::updateButtons() {
  const bool runs = running();
  const bool stopping = runs && run_->shift().stopping();
  startButton_->setEnabled(!runs);
  stopButton_->setEnabled(runs && !stopping);
  stopButton_->setText(stopping ? QStringLiteral("Stopping\u2026") : QStringLiteral("St&op"));
  unlockButton_->setEnabled(locked_);
  loadButton_->setEnabled(!locked_ && !runs);
  saveButton_->setEnabled(!locked_);
}

bool ProductionWindow::unlock() {
  if (!locked_) return true;
  const std::string question = running() ? "Unlock the setup? The station stops after the units "
                                           "being programmed."
                                         : "Unlock the setup?";
  if (ask(question, MsgButtons::YesNoDefaultNo, MsgIcon::Question) != MsgResult::Yes) return false;
  if (!supervisorPin_.empty()) {
    std::optional<std::string> pin;
    if (const auto hooked = pinHook.tryCall()) {
      pin = *hooked;
    } else {
      bool ok = false;
      const QString typed = QInputDialog::getText(this, windowTitle(), QStringLiteral("Supervisor PIN:"),
                                                  QLineEdit::Password, {}, &ok);
      if (ok) pin = fromQt(typed);
    }
    if (!pin) return false;
    if (*pin != supervisorPin_) {
      ask("Wrong PIN: the setup stays locked.", MsgButtons::Ok, MsgIcon::Warning);
      return false;
    }
  }
  stop();
  setLocked(false);
  return true;
}

void ProductionWindow::closeEvent(QCloseEvent* event) {
  if (!running()) {
    event->accept();
    return;
  }
  event->ignore();
  if (closeWhenStopped_) return;
  if (ask("The station is running. Stop it after the units being programmed and close the window?",
          MsgButtons::YesNoDefaultNo, MsgIcon::Question) != MsgResult::Yes)
    return;
  closeWhenStopped_ = true;
  stop();
}

// Escape closes the window as its close button does (asking first).
void ProductionWindow::reject() { close(); }

// ------------------------------------------------------------------ figures

std::string ProductionWindow::countersFrom() const {
  if (!countersFrom_.empty()) return countersFrom_;
  // Before the first start: today's units.
  std::tm midnight = localTime(std::time(nullptr));
  midnight.tm_hour = midnight.tm_min = midnight.tm_sec = 0;
  midnight.tm_isdst = -1;
  return utcTimestampOf(std::mktime(&midnight));
}

void ProductionWindow::runCli(std::vector<std::string> args,
                              std::function<void(int, const std::string&, const std::string&)> done) {
  std::string password;
  for (std::string& a : args)
    if (a == unitLog_) a = splitPassword(unitLog_, &password);
  if (!password.empty()) qputenv("PGPASSWORD", QByteArray::fromStdString(password));
  args.insert(args.end(), extraWorkerArguments.begin(), extraWorkerArguments.end());
  // Finished runs go once a new one starts (not from inside their own end).
  std::erase_if(cliRuns_, [](const auto& r) { return r->finished(); });
  cliRuns_.push_back(std::make_unique<CliRun>(this, cliProgram_, args, std::move(done)));
}

void ProductionWindow::refreshFigures() {
  if (unitLog_.empty() || cliProgram_.empty()) return;
  if (figuresQueried_) {
    figuresAgain_ = true;
    return;
  }
  figuresQueried_ = true;
  const std::string from = countersFrom();
  runCli({"report", unitLog_, "--from", from, "--json"},
         [this, from](int code, const std::string& out, const std::string& err) {
           figuresQueried_ = false;
           if (from != countersFrom()) {
             // The counters were reset meanwhile: these figures are of the old span.
             figuresAgain_ = false;
             QTimer::singleShot(0, this, &ProductionWindow::refreshFigures);
             return;
           }
           if (code == 0) {
             if (auto f = parseFiguresJson(out)) figures_ = std::move(*f);
             countersNote_->setText(QStringLiteral("Counted from %1, from the unit log %2")
                                        .arg(utf8(figures_ ? figures_->from : countersFrom()),
                                             QString::fromLocal8Bit(shownAddress(unitLog_).c_str())));
           } else {
             figures_.reset();
             // A new station's SQLite log is made with its first unit.
             const bool noLogYet = !isPostgresAddress(unitLog_) &&
                                   !QFileInfo::exists(QString::fromLocal8Bit(unitLog_.c_str()));
             countersNote_->setText(noLogYet ? QStringLiteral("No unit logged yet in %1")
                                                   .arg(QString::fromLocal8Bit(unitLog_.c_str()))
                                             : QString::fromLocal8Bit(err.c_str()).trimmed());
           }
           showFigures();
           emit figuresChanged();
           if (figuresAgain_) {
             figuresAgain_ = false;
             QTimer::singleShot(0, this, &ProductionWindow::refreshFigures);
           }
         });
}

QLabel* ProductionWindow::counter(const QString& name) const {
  for (QLabel* c : counters_)
    if (c->accessibleName() == name) return c;
  return nullptr;
}

void ProductionWindow::showFigures() {
  const ShiftFigures none;
  const ShiftFigures& f = figures_ ? *figures_ : none;
  const QString values[] = {QString::number(f.passed), QString::number(f.failed),
                            oneDecimalText(f.firstPassYield(), " %"), QString::number(f.lastHour),
                            oneDecimalText(f.secondsPerUnit)};
  for (std::size_t i = 0; i < counters_.size(); ++i) counters_[i]->setText(values[i]);
  table_->setRowCount(0);
  table_->setRowCount(int(f.rows.size()));
  // Newest first.
  for (std::size_t i = 0; i < f.rows.size(); ++i) {
    const ShiftFigures::Row& r = f.rows[f.rows.size() - 1 - i];
    const QString cells[] = {utf8(r.time),    utf8(r.fixture), utf8(r.address),
                             utf8(r.name),    utf8(r.result),  utf8(r.reason),
                             oneDecimalText(r.seconds), utf8(r.operatorName)};
    for (int c = 0; c < int(std::size(cells)); ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      item->setData(Qt::UserRole, int(r.outcome));
      table_->setItem(int(i), c, item);
    }
  }
  filterTable();
}

void ProductionWindow::filterTable() {
  const int shown = filter_->currentIndex();  // 0 all, 1 passed, 2 failed, 3 already provisioned
  for (int row = 0; row < table_->rowCount(); ++row) {
    const auto outcome = UnitOutcome(table_->item(row, 0)->data(Qt::UserRole).toInt());
    const int kind = outcome == UnitOutcome::Passed ? 1 : outcome == UnitOutcome::Failed ? 2 : 3;
    table_->setRowHidden(row, shown != 0 && shown != kind);
  }
}

bool ProductionWindow::resetCounters() {
  if (ask("Reset the counters? They count the units from now on; the unit log keeps every unit.",
          MsgButtons::YesNoDefaultNo, MsgIcon::Question) != MsgResult::Yes)
    return false;
  // From the next whole second: the log's spans are whole seconds, and a
  // unit logged in this one was counted before the reset.
  countersFrom_ = utcTimestampOf(std::time(nullptr) + 1);
  saveStationFile(QDir(directory_).filePath(QString::fromLatin1(kStationFileName)));
  figures_.reset();
  showFigures();
  refreshFigures();
  return true;
}

bool ProductionWindow::exportCsv(const QString& path, QString* error) {
  // A spreadsheet takes UTF-8 with its byte-order mark and CR LF lines.
  std::string text = "\xEF\xBB\xBF";
  for (std::size_t c = 0; c < std::size(kColumns); ++c) text += std::string(c ? "," : "") + kColumns[c];
  text += "\r\n";
  for (int row = table_->rowCount() - 1; row >= 0; --row) {
    if (table_->isRowHidden(row)) continue;
    for (int c = 0; c < table_->columnCount(); ++c)
      text += (c ? "," : "") + csvField(table_->item(row, c)->text().toStdString());
    text += "\r\n";
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.commit()) {
    *error = QStringLiteral("Failed to write %1: %2").arg(path, file.errorString());
    return false;
  }
  return true;
}

void ProductionWindow::makeReport() {
  if (unitLog_.empty()) {
    ask("Choose the unit log first: the report is made from it.", MsgButtons::Ok, MsgIcon::Warning);
    return;
  }
  std::optional<std::pair<std::time_t, std::time_t>> span;
  if (const auto hooked = reportSpanHook.tryCall()) {
    span = *hooked;
  } else {
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Shift report"));
    auto* form = new QFormLayout(&dialog);
    auto* from = new QDateTimeEdit(&dialog);
    auto* to = new QDateTimeEdit(QDateTime::currentDateTime(), &dialog);
    from->setDateTime(QDateTime::fromSecsSinceEpoch(parseLogTime(countersFrom()).value_or(std::time(nullptr))));
    for (QDateTimeEdit* e : {from, to}) {
      e->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
      e->setCalendarPopup(true);
    }
    from->setAccessibleName(QStringLiteral("From"));
    to->setAccessibleName(QStringLiteral("To"));
    form->addRow(QStringLiteral("&From:"), from);
    form->addRow(QStringLiteral("&To:"), to);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() == QDialog::Accepted)
      span = std::pair{std::time_t(from->dateTime().toSecsSinceEpoch()),
                       std::time_t(to->dateTime().toSecsSinceEpoch())};
  }
  if (!span) return;
  if (span->first >= span->second) {
    ask("The report's span must start before it ends.", MsgButtons::Ok, MsgIcon::Warning);
    return;
  }
  const auto path = chooseFile(QStringLiteral("Save the shift report as..."),
                               QStringLiteral("PDF Files (*.pdf)"), true);
  if (!path) return;
  reportButton_->setEnabled(false);
  runCli({"report", unitLog_, "--from", utcTimestampOf(span->first), "--to",
          utcTimestampOf(span->second), "--json"},
         [this, file = QString::fromLocal8Bit(path->c_str())](int code, const std::string& out,
                                                              const std::string& err) {
           reportButton_->setEnabled(true);
           const auto figures = code == 0 ? parseFiguresJson(out) : std::nullopt;
           QString error = QString::fromLocal8Bit(err.c_str()).trimmed();
           if (figures && writeShiftReport(*figures, file, &error)) {
             ask("The shift report was written to " + fromQt(QDir::toNativeSeparators(file)) + ".",
                 MsgButtons::Ok, MsgIcon::Information);
             return;
           }
           ask("Failed to make the shift report: " + fromQt(error), MsgButtons::Ok, MsgIcon::Error);
         });
}

// ------------------------------------------------------------------ dialogs

std::optional<std::string> ProductionWindow::chooseFile(const QString& title, const QString& filter,
                                                        bool save) {
  if (const auto hooked = fileDialogHook.tryCall(title, save)) return *hooked;
  const QString path = save ? QFileDialog::getSaveFileName(this, title, directory_, filter)
                            : QFileDialog::getOpenFileName(this, title, directory_, filter);
  if (path.isEmpty()) return std::nullopt;
  return fromQt(QDir::toNativeSeparators(path));
}

MsgResult ProductionWindow::ask(const std::string& text, MsgButtons buttons, MsgIcon icon) {
  if (const auto hooked = messageBoxHook.tryCall(text, buttons, icon)) return *hooked;
  return execMessageBox(this, windowTitle(), QString::fromLocal8Bit(text.c_str()), buttons, icon);
}

}  // namespace kx
