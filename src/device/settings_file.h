// Settings files: key = value lines holding the serial-port values and the
// adapter's settings. Read at start-up (serial-port values only, nothing
// sent), written at exit, and saved and loaded from the File menu; loading
// programs every value that differs from the adapter's, one command each.
// Runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/hook.h"
#include "common/records.h"
#include "device/settings_check.h"
#include "platform/form.h"

namespace kx {

struct FileSettings {
  char comPort[kPortNameSize];
  int32_t baud, stopBits, parity, flow, echo, role, cmdResponse, discoverable, escapeMode,
      sleepMode, autoConnect, authDisabled, remoteConfig;
  char name[kNameSize];
  char pin[kPinSize];
  char remoteAddress[kAddressSize];
  int32_t modemSignal;
  char remoteService[kRemoteServiceSize];
  char remoteCod[kRemoteCodSize];
};

// What the last read found; cleared each time a file could be opened.
extern FileSettings fileSettings;

// Called with each command LoadSettings is about to send while it programs
// the adapter (progress for a front end). User-interface thread.
extern Hook<void(const std::string& command)> settingsCommandHook;

// What programming the adapter from a file's lines came to.
struct SettingsProgramResult {
  int sent = 0;     // commands the adapter accepted
  int failed = 0;   // commands that failed
  int skipped = 0;  // values this firmware does not take, not sent
};

// Stores checked lines in fileSettings (cleared first) in file order and, with
// applyMode 1, programs every value that differs from the adapter's (answers
// applied to `page`), with the status lines around it. With `plan` nothing is
// sent: the commands that would be are appended to it, in order.
SettingsProgramResult programSettings(const std::vector<SettingsLine>& entries, int applyMode,
                                      FormInterface* page = nullptr,
                                      std::vector<std::string>* plan = nullptr);

// Reads `path` and takes its good lines as programSettings does; each line
// that cannot be used is one status-window line. 1 when the file was read,
// 0 when not (a message box says why).
int LoadSettings(const std::string& path, int applyMode, FormInterface* page = nullptr,
                 std::vector<std::string>* dryRun = nullptr);

// What LoadSettings does once the file is open, on `file` (not closed here);
// `name` names the source in the status lines. Returns the check it took.
SettingsFileCheck readSettings(std::FILE* file, const std::string& name, int applyMode,
                               FormInterface* page = nullptr,
                               std::vector<std::string>* dryRun = nullptr);

// Writes the current settings to `path`, atomically: a temporary file beside
// it, flushed, then renamed over it, so a failed write leaves the old file.
// 1 when written, 0 when not (a message box says why).
int SaveSettingsToFile(const std::string& path);

// The file's text for the current settings (`uart` and `localDev`), as
// SaveSettingsToFile writes it; also used to print the settings.
void writeSettings(std::FILE* file);

// Copies the serial-port values of the last read into `uart` (start-up);
// a value the file does not give (or gives as 0) stays as `uart` holds it.
void takeSerialSettingsFromFile();

// The serial-port values a settings file keeps.
struct SerialSettings {
  char comPort[kPortNameSize] = {};
  int32_t baud = 0, stopBits = 0, parity = 0, flow = 0;
};

// The adapter's factory line settings: 19200 bit/s, no parity, one stop
// bit, no flow control.
SerialSettings factorySerialSettings();

// Notes `uart`'s serial-port values as the last ones this run learned: at
// start-up from settings.txt, when the page's values opened the port, when
// the adapter's own settings were read. User-interface thread.
void rememberSerialSettings();

// The serial-port values a settings file is written with: `uart`'s while
// the port is open to an initialised adapter, else the last ones learned
// (the port closes and its record is cleared after an Abort or a failed
// search; what the user had is kept, never an empty port or a zero speed).
SerialSettings serialSettingsToWrite();

// Forgets what rememberSerialSettings noted (a new run).
void forgetSerialSettings();

// Start-up: `uart` gets the factory line settings, then the serial-port
// values of `path` when it exists. A missing file is the normal first start:
// a status line says the defaults are in use. A file that exists but cannot
// be read gets its message box. 1 when the file was read.
int loadStartupSettings(const std::string& path);

// The File menu's handlers. `choosePath` shows the file dialog and returns
// the chosen path, or nothing when the user cancelled.
using PathChooser = std::function<std::optional<std::string>()>;
void onLoadSettingsFile(FormInterface& page, const PathChooser& choosePath);
void onSaveSettingsFile(const PathChooser& choosePath);

// The message box text for a failed open (reading) or create (writing).
std::string settingsOpenErrorText(int err);
std::string settingsCreateErrorText(int err);

}  // namespace kx
