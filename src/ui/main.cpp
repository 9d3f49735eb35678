#include <QApplication>

#include "ui/app_wiring.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("KX627 Configuration Tool"));
  kx::MainWindow window(kx::applicationStartup());
  window.show();
  return app.exec();
}
