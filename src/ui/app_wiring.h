// Connects the window to the core: the command engine and its hooks, the
// page operations behind every button and notification, settings.txt at
// start-up and shutdown, and ending long work when the window closes.
#pragma once

#include <optional>
#include <string>

#include "common/hook.h"
#include "ui/command_line.h"
#include "ui/main_window.h"

namespace kx {

// The start-up and shutdown steps for MainWindow, with the command line's
// options.
MainWindow::Startup applicationStartup(const WindowOptions& options = {});

// Replaces the File menu's dialogs (tests); `save` tells which one is asked.
extern Hook<std::optional<std::string>(bool save)> fileDialogHook;

}  // namespace kx
