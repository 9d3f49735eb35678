// The About box: the application's name and version, the supported firmware
// versions and adapters, the licence, and an OK button (id 1).
#pragma once

#include <QDialog>

namespace kx {

class FormPage;

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
  FormPage& form() const { return *form_; }

 private:
  FormPage* form_;
};

}  // namespace kx
