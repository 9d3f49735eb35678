// One way to ask the user: a modal message box with the buttons and the icon
// the system asks for, shared by the main window and the production window.
#pragma once

#include <QString>

#include "platform/window.h"

class QWidget;

namespace kx {

// Shows `text` under `title` over `parent` and returns the answer. Closing
// the box answers No to a Yes/No question and Cancel otherwise.
MsgResult execMessageBox(QWidget* parent, const QString& title, const QString& text,
                         MsgButtons buttons, MsgIcon icon);

}  // namespace kx
