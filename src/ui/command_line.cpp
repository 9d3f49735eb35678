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
  if (!parser.positionalArguments().isEmpty()) {
    result.exitCode = 2;
    result.output = "Unexpected argument " + fromQt(parser.positionalArguments().first()) +
                    "\nTry --help.\n";
    return result;
  }
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
