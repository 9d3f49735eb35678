#include "ui/main_window.h"

namespace kx {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("KX627 Configuration Tool"));
}

}  // namespace kx
