// The forms' drop-down list: a QComboBox that
// - is announced by its label: assistive technology reads the accessible
//   name (the label's text), and the current row as its value. Qt's own
//   combo box on Linux reports its current text as its name, so "Baud Rate"
//   could not be found by its label;
// - may show each row shorter than its value (a port path's last part), the
//   whole value as the row's tooltip and the box's tooltip; a row still too
//   long for the closed box loses its beginning rather than its end;
// - may take a typed value beside its rows (the COM Port list: any device
//   path);
// - runs a hook just before its list opens, so the rows can be brought up
//   to date when the user looks at them.
//
// Threading: user-interface thread only.
#pragma once

#include <QComboBox>
#include <functional>

#include "common/hook.h"

namespace kx {

class DropDownList : public QComboBox {
  Q_OBJECT
 public:
  explicit DropDownList(QWidget* parent = nullptr);

  // Runs before the list opens.
  Hook<void()> beforePopup;

  // How a row's value is shown; empty shows the value itself. Set before
  // rows are added.
  void setDisplay(std::function<QString(const QString&)> display);
  void addValue(const QString& value);
  QString value(int row) const;
  // The current row's value; in a list that takes typing, the typed text
  // unless it is a row's (shown) text.
  QString currentValue() const;
  // Lets the user type a value that is no row (setEditable, rows are not
  // added by typing).
  void allowTyping();
  int findValue(const QString& value) const;

  // A row's tooltip from its value, asked for only when a tooltip is shown
  // or the list opens (it may cost file reads); empty: the value itself.
  void setRowTip(std::function<QString(const QString&)> tip);

  // The current row's tooltip (its whole value, or the row tip) when rows
  // are shown shorter, else the box's own tooltip.
  QString toolTipText() const;

  void showPopup() override;

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;

 private:
  std::function<QString(const QString&)> display_;
  std::function<QString(const QString&)> rowTip_;
};

// Makes DropDownList's accessible interface the one assistive technology
// sees. Called once by every form; later calls do nothing.
void installDropDownAccessibility();

}  // namespace kx
