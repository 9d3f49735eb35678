#include "ui/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include "ui/form_page.h"
#include "ui/simulator_mode.h"

namespace kx {

WindowCommandLine parseWindowCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "KX627 Configuration Tool: finds a KX627 Bluetooth serial adapter on a serial port, reads "
      "and programs its settings, pairs and connects it.\n"
      "The serial-port values are kept in settings.txt in the directory the program starts in."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  // Ports are named as the system names them.
#ifdef Q_OS_WIN
  const QString portHelp = QStringLiteral(
      "Preselect the COM Port <port>: a COM name such as COM3, as Device Manager lists the "
      "adapter under Ports (COM & LPT).");
#else
  const QString portHelp = QStringLiteral(
      "Preselect the COM Port <port>: a name the system lists (ttyUSB0) or any device path "
      "(/dev/serial/by-id/..., /dev/rfcomm0, a simulator's link).");
#endif
  const QCommandLineOption port(QStringLiteral("port"), portHelp, QStringLiteral("port"));
  parser.addOption(port);
  const QCommandLineOption simulator(
      QStringLiteral("simulator"),
      QStringLiteral("Run in front of two simulated adapters inside the program, for trying the "
                     "tool without an adapter: every port reaches the plugged one, and OK to "
                     "pairing's \"Connect Device 2 ...\" swaps them."));
  parser.addOption(simulator);
  const QCommandLineOption production(
      QStringLiteral("production"),
      QStringLiteral("Open the production window alone, ready to start: [FILE] is the settings "
                     "file every unit gets, each --port a fixture; --log-db, --values, "
                     "--operator and --station as kx627-cli station takes them. What is not given "
                     "comes from station.txt. With --simulator the fixtures stand in front of "
                     "simulated units."));
  parser.addOption(production);
  const QCommandLineOption logDb(QStringLiteral("log-db"),
                                 QStringLiteral("--production: the unit log <db>, an SQLite file or "
                                                "a postgresql:// address."),
                                 QStringLiteral("db"));
  const QCommandLineOption values(QStringLiteral("values"),
                                  QStringLiteral("--production: the values list <file>, one row per unit."),
                                  QStringLiteral("file"));
  const QCommandLineOption operatorName(QStringLiteral("operator"),
                                        QStringLiteral("--production: the operator <name> in the unit log."),
                                        QStringLiteral("name"));
  const QCommandLineOption station(QStringLiteral("station"),
                                   QStringLiteral("--production: the station <name> in the unit log."),
                                   QStringLiteral("name"));
  const QCommandLineOption report(
      QStringLiteral("report"),
      QStringLiteral("Draw the shift report from <figures> (as kx627-cli report --json writes "
                     "them) into the PDF of --pdf, without a window; kx627-cli report --pdf runs this."),
      QStringLiteral("figures"));
  const QCommandLineOption pdf(QStringLiteral("pdf"), QStringLiteral("--report: the PDF <file> to write."),
                               QStringLiteral("file"));
  for (const QCommandLineOption* o : {&logDb, &values, &operatorName, &station, &report, &pdf})
    parser.addOption(*o);

  WindowCommandLine result;
  if (!parser.parse(arguments)) {
    result.exitCode = 2;
    result.output = fromQt(parser.errorText()) + "\nTry --help.\n";
    return result;
  }
  if (parser.isSet(help)) {
    result.exitCode = 0;
    result.output = fromQt(parser.helpText());
    return result;
  }
  if (parser.isSet(version)) {
    result.exitCode = 0;
    result.output = "kx627-config " KX_VERSION "\n";
    return result;
  }
  auto usage = [&](const std::string& text) {
    result.exitCode = 2;
    result.output = text + "\nTry --help.\n";
    return result;
  };
  if (parser.isSet(report)) {
    if (!parser.isSet(pdf)) return usage("--report needs --pdf FILE");
    result.options.reportFigures = fromQt(parser.value(report));
    result.options.reportPdf = fromQt(parser.value(pdf));
    return result;
  }
  const QStringList positional = parser.positionalArguments();
  if (parser.isSet(production)) {
    ProductionOptions p;
    if (positional.size() > 1) return usage("Unexpected argument " + fromQt(positional[1]));
    if (!positional.isEmpty()) p.settingsFile = fromQt(positional.first());
    for (const QString& v : parser.values(port)) p.ports.push_back(fromQt(v));
    if (parser.isSet(logDb)) p.unitLog = fromQt(parser.value(logDb));
    if (parser.isSet(values)) p.valuesFile = fromQt(parser.value(values));
    if (parser.isSet(operatorName)) p.operatorName = fromQt(parser.value(operatorName));
    if (parser.isSet(station)) p.station = fromQt(parser.value(station));
    p.simulator = parser.isSet(simulator);
    result.options.production = std::move(p);
    return result;
  }
  if (parser.isSet(pdf)) return usage("--pdf goes with --report");
  for (const QCommandLineOption* o : {&logDb, &values, &operatorName, &station})
    if (parser.isSet(*o)) return usage("--" + fromQt(o->names().first()) + " goes with --production");
  if (!positional.isEmpty()) return usage("Unexpected argument " + fromQt(positional.first()));
  if (parser.isSet(port)) {
    const std::string value = fromQt(parser.value(port));
    if (value.empty()) {
      result.exitCode = 2;
      result.output = "--port needs a port name\n";
      return result;
    }
    result.options.port = value;
  }
  result.options.simulator = parser.isSet(simulator);
  if (result.options.simulator && !result.options.port) result.options.port = SimulatorMode::kPortName;
  return result;
}

}  // namespace kx
