#include <QApplication>
#include <cstdio>

#include "ui/app_wiring.h"
#include "ui/command_line.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  // The command line is read before the window system is reached, so that
  // --help and --version work without a display.
  kx::WindowCommandLine commandLine;
  {
    QCoreApplication parsing(argc, argv);
    commandLine = kx::parseWindowCommandLine(QCoreApplication::arguments());
  }
  if (commandLine.exitCode) {
    std::fputs(commandLine.output.c_str(), *commandLine.exitCode == 0 ? stdout : stderr);
    return *commandLine.exitCode;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("KX627 Configuration Tool"));
  QApplication::setApplicationVersion(QStringLiteral(KX_VERSION));
  kx::MainWindow window(kx::applicationStartup(commandLine.options));
  window.show();
  return app.exec();
}
