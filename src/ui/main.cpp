#include <QApplication>

#include "ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("KX627 Configuration Tool"));
  kx::MainWindow window;
  window.show();
  return app.exec();
}
