#include "ui/message_box.h"

#include <QMessageBox>

namespace kx {

namespace {

QMessageBox::Icon boxIcon(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::None:
      return QMessageBox::NoIcon;
    case MsgIcon::Information:
      return QMessageBox::Information;
    case MsgIcon::Warning:
      return QMessageBox::Warning;
    case MsgIcon::Error:
      return QMessageBox::Critical;
    case MsgIcon::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

MsgResult execMessageBox(QWidget* parent, const QString& title, const QString& text,
                         MsgButtons buttons, MsgIcon icon) {
  QMessageBox::StandardButtons choice = QMessageBox::Ok;
  if (isYesNo(buttons)) choice = QMessageBox::Yes | QMessageBox::No;
  if (buttons == MsgButtons::OkCancel) choice = QMessageBox::Ok | QMessageBox::Cancel;
  QMessageBox box(boxIcon(icon), title, text, choice, parent);
  // A screen reader announces the alert with its text, not only its title.
  box.setAccessibleDescription(text);
  if (buttons == MsgButtons::YesNoDefaultNo) box.setDefaultButton(QMessageBox::No);
  switch (box.exec()) {
    case QMessageBox::Ok:
      return MsgResult::Ok;
    case QMessageBox::Yes:
      return MsgResult::Yes;
    case QMessageBox::No:
      return MsgResult::No;
    default:
      return isYesNo(buttons) ? MsgResult::No : MsgResult::Cancel;
  }
}

}  // namespace kx
