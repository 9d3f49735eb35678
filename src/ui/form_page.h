// A form built from its template: a table of controls, each with its numeric
// id, kind, caption and place in dialog units. The form creates the Qt
// widgets, names each by its id (objectName "1016"), gives each an accessible
// name, and implements FormInterface over them so that the core reads and
// writes controls by id. The main window's own controls and the four pages
// are such forms.
//
// Threading: user-interface thread only, like every widget.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <span>
#include <string>

#include "common/hook.h"
#include "platform/form.h"
#include "ui/dialog_units.h"

class QButtonGroup;

namespace kx {

enum class ControlKind {
  PushButton,       // caption; wraps onto two lines when it does not fit
  CheckBox,
  Radio,            // exclusive within its `group`
  GroupBox,         // frame with an optional title
  DropDown,         // drop-down list of `items`; not editable
  Edit,             // single-line edit box
  MultiLineEdit,    // multi-line edit box that scrolls horizontally
  Label,            // static text
  ListBox,
  StatusBox,        // read-only multi-line text, both scroll bars, no wrapping
  Led,              // LedButton
};

struct ControlSpec {
  int id;                        // -1 for a static label without its own id
  ControlKind kind;
  const char* caption;
  int x, y, w, h;                // dialog units
  const char* tooltip = nullptr;
  const char* label = nullptr;   // accessible name of a box or list: its label's text
  const char* items = nullptr;   // rows of a drop-down list, separated by '\n'
  bool disabled = false;         // initial state
  int group = 0;                 // radio group number
};

class FormPage : public QWidget, public FormInterface {
  Q_OBJECT
 public:
  FormPage(std::span<const ControlSpec> specs, QWidget* parent = nullptr);

  // The control with this id, or null.
  QWidget* control(int id) const;
  template <class T>
  T* controlAs(int id) const {
    return qobject_cast<T*>(control(id));
  }

  // What a user action on a control runs: a click on a button, check box or
  // radio button, a new selection in a list box or drop-down list. Changes
  // made through FormInterface never run it. An empty handler removes it.
  void onClicked(int id, std::function<void()> handler);

  const DialogUnits& units() const { return units_; }

  // FormInterface
  std::string text(int id) const override;
  void setText(int id, const std::string& text) override;
  bool checked(int id) const override;
  void setChecked(int id, bool on) override;
  int selection(int id) const override;
  void setSelection(int id, int index) override;
  int rowCount(int id) const override;
  std::string rowText(int id, int row) const override;
  void addRow(int id, const std::string& text) override;
  void clearRows(int id) override;
  bool enabled(int id) const override;
  void setEnabled(int id, bool on) override;
  using QWidget::setEnabled;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* create(const ControlSpec& spec);
  void userAction(int id);

  DialogUnits units_;
  std::map<int, QWidget*> controls_;
  std::map<int, QButtonGroup*> radioGroups_;
  std::map<int, Hook<void()>> handlers_;
};

// Text between the system's 8-bit strings and the widgets.
QString toQt(const std::string& text);
std::string fromQt(const QString& text);

// A caption without its mnemonic marks ("&Pairing" -> "Pairing", "&&" -> "&").
QString stripMnemonic(const QString& caption);

}  // namespace kx
