#include <QApplication>

#include <cstring>
#include <memory>

#include "ui/app_wiring.h"
#include "ui/main_window.h"
#include "ui/simulator_mode.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("KX627 Configuration Tool"));
  std::unique_ptr<kx::SimulatorMode> simulator;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--simulator") == 0) simulator = std::make_unique<kx::SimulatorMode>();
  kx::MainWindow window(kx::applicationStartup());
  if (simulator) simulator->attachTo(window);
  window.show();
  return app.exec();
}
