#include <QApplication>

#include <cstdio>
#include <memory>
#include <utility>

#include "platform/parent_console.h"
#include "ui/app_wiring.h"
#include "ui/dialog_units.h"
#include "ui/command_line.h"
#include "ui/main_window.h"
#include "ui/production_window.h"
#include "ui/shift_report.h"
#include "ui/simulator_mode.h"

int main(int argc, char** argv) {
  // The command line is read before the window system is reached, so that
  // --help and --version work without a display. A start without arguments
  // (a double click) has nothing to read and skips the parser's application
  // object, which costs the start a whole initialisation of Qt's core.
  kx::WindowCommandLine commandLine;
  if (argc > 1) {
    QCoreApplication parsing(argc, argv);
    commandLine = kx::parseWindowCommandLine(QCoreApplication::arguments());
  }
  if (commandLine.exitCode) {
    kx::attachParentConsole();
    std::fputs(commandLine.output.c_str(), *commandLine.exitCode == 0 ? stdout : stderr);
    return *commandLine.exitCode;
  }
  if (commandLine.options.reportFigures) {
    kx::attachParentConsole();
    return kx::drawShiftReportCommand(argc, argv, *commandLine.options.reportFigures,
                                      commandLine.options.reportPdf);
  }
  QApplication app(argc, argv);
  // One font for the whole window, menus and boxes included: the system's
  // default font is then never looked up or opened.
  QApplication::setFont(kx::dialogFont());
  QApplication::setApplicationName(QStringLiteral("KX627 Configuration Tool"));
  QApplication::setApplicationVersion(QStringLiteral(KX_VERSION));
  if (commandLine.options.production) return kx::runProductionWindow(*commandLine.options.production);
  // Built before the window and destroyed after it: the window's serial link
  // talks to the simulated adapters until it is closed.
  std::unique_ptr<kx::SimulatorMode> simulator;
  if (commandLine.options.simulator) simulator = std::make_unique<kx::SimulatorMode>();
  kx::MainWindow::Startup startup = kx::applicationStartup(commandLine.options);
  if (simulator) simulator->prepareStartup(startup);
  kx::MainWindow window(std::move(startup));
  if (simulator) simulator->attachTo(window);
  window.show();
  return app.exec();
}
