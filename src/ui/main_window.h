// The application's main window.
#pragma once

#include <QMainWindow>

namespace kx {

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(QWidget* parent = nullptr);
};

}  // namespace kx
