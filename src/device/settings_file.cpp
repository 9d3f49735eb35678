#include "device/settings_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "atcmd/transmission.h"
#include "common/address.h"
#include "common/debug_log.h"
#include "common/notify.h"
#include "common/text.h"
#include "device/local_device.h"
#include "device/local_page_ops.h"
#include "device/response_apply.h"
#include "platform/clock.h"
#include "platform/file_replace.h"
#include "platform/window.h"

namespace kx {

FileSettings fileSettings;
Hook<void(const std::string& command)> settingsCommandHook;

namespace {

constexpr int kReadPiece = 1023;  // at most 1022 characters per read
constexpr int kModeChangeWaitMs = 3000;

bool contains(const char* haystack, const char* needle) {
  return std::strstr(haystack, needle) != nullptr;
}

// On/Off words; -1 when neither.
int onOff(const std::string& v) {
  if (strcasecmp(v.c_str(), "On") == 0) return 1;
  if (strcasecmp(v.c_str(), "Off") == 0) return 0;
  return -1;
}

// Leading sign and digits, 0 when there are none.
int32_t leadingNumber(const std::string& v) {
  return static_cast<int32_t>(std::strtol(v.c_str(), nullptr, 10));
}

template <std::size_t N>
void storeText(char (&field)[N], const std::string& value, const char* key) {
  if (value.size() > N - 1) {
    debugLog("LoadSettings: %s value of %zu characters is longer than %zu; ignored", key,
             value.size(), N - 1);
    return;
  }
  copyField(field, value);
}

// While a dry run is under way: where the commands go instead of the port.
std::vector<std::string>* gPlan = nullptr;

// Sends a command built from a file value and applies its answer; reports a
// failure in the status window. A dry run only notes the command.
void program(FormInterface* page, const std::string& command, const std::string& failure,
             int waitMs) {
  const auto fits = checkCommandLength(command);
  if (!fits) return;
  if (gPlan) {
    gPlan->push_back(*fits);
    return;
  }
  settingsCommandHook(*fits);
  if (sendATCommand(fits->c_str(), 0, 0, 1000) == 0) {
    if (page) applyCommandResponse(*page);
    sleepMs(waitMs);
  } else {
    appendStatus(failure);
  }
}

// The message templates hold one "%s" for the command or the line.
std::string fmt1(const char* format, const std::string& arg) {
  std::string out = format;
  const auto at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, arg);
  return out.substr(0, 1023);
}

const char* plusMinus(int v) { return v ? "+" : "-"; }

void handleLine(const char* line, const std::string& path, bool apply, FormInterface* page) {
  debugLog("Read Line %s", line);
  SettingsLine parsed;
  switch (parseSettingsLine(line, &parsed)) {
    case SettingsLineKind::Comment:
      return;
    case SettingsLineKind::NoKey:
      debugLog("Unhandled entry %s in %s file", line, path.c_str());
      return;
    case SettingsLineKind::NoEquals:
      debugLog("line %s format not correct", line);
      return;
    case SettingsLineKind::Entry:
      break;
  }
  const int key = parsed.key;
  const std::string& value = parsed.value;

  FileSettings& f = fileSettings;
  // On/Off with an invalid word logged and replaced by the default.
  auto flag = [&](const char* invalid, int defaultValue) {
    const int r = onOff(value);
    if (r >= 0) return r;
    debugLog("%s", fmt1(invalid, line).c_str());
    return defaultValue;
  };
  auto twoState = [&](int32_t& field, const char* invalid, int def, Flag& current,
                      const char* cmd, const char* failure, int waitMs) {
    field = flag(invalid, def);
    if (apply && field != current.load()) {
      const std::string command = std::string(cmd) + plusMinus(field) + "\r";
      program(page, command, fmt1(failure, command), waitMs);
    }
  };

  // A text setting: stored when it fits its field, and programmed when it
  // differs from the adapter's value (and the firmware takes it).
  auto text = [&](auto& field, const char* name, std::string_view current, const char* prefix,
                  const char* failure, bool allowed) {
    storeText(field, value, name);
    if (apply && allowed && value == fieldView(field) && value != current) {
      const std::string command = prefix + value + "\r";
      program(page, command, fmt1(failure, command), 0);
    }
  };

  switch (key) {
    case 0: {  // Port: "COM<n>" or a device path; anything else leaves it
      int n = 0;
      if (std::sscanf(value.c_str(), "COM%d", &n) == 1 || (!value.empty() && value[0] == '/'))
        storeText(f.comPort, value, "Port");
      break;
    }
    case 1: {
      f.baud = leadingNumber(value);
      if (apply && f.baud != uart.baud) {
        if (f.baud >= 460800 && isLegacyFirmware()) {
          debugLog("SendLoadSettings: Baud Rate = %d, firmware = %s. Not Sending Command", f.baud,
                   localDev.fwVersion);
        } else {
          const std::string command = "AT+BAUD" + std::to_string(bpsToBaudIndex(f.baud) + 10) + "\r";
          program(page, command, fmt1("LoadSettings: Failed to set Baud Rate %s", command), 0);
        }
      }
      break;
    }
    case 2:
      f.stopBits = leadingNumber(value);
      if (apply && f.stopBits != uart.stopBits) {
        const std::string command = "AT+STOP" + std::to_string(f.stopBits) + "\r";
        program(page, command, fmt1("LoadSettings: Failed to set Stop Bits %s", command), 0);
      }
      break;
    case 3:
      f.flow = flag("Invalid value for flow control in Line %s. Using Default flow control ON", 1);
      if (apply && f.flow != uart.flow) {
        const std::string command = std::string("AT+FLOW") + plusMinus(f.flow) + "\r";
        program(page, command, fmt1("LoadSettings: Failed to set Flow Control %s", command),
                kModeChangeWaitMs);
      }
      break;
    case 4: {
      if (strcasecmp(value.c_str(), "None") == 0) {
        f.parity = PARITY_NONE_FLAG;
      } else if (strcasecmp(value.c_str(), "Odd") == 0) {
        f.parity = PARITY_ODD_FLAG;
      } else if (strcasecmp(value.c_str(), "Even") == 0) {
        f.parity = PARITY_EVEN_FLAG;
      } else {
        debugLog("Invalid value for Parity in Line %s. Using Default value PARITY_NONE", line);
        f.parity = PARITY_NONE_FLAG;
      }
      if (apply && f.parity != uart.parity) {
        const std::string command = "AT+PAR" + std::to_string(parityToIndex(f.parity)) + "\r";
        program(page, command, fmt1("LoadSettings: Failed to set Parity %s", command), 0);
      }
      break;
    }
    case 5:
      f.authDisabled =
          flag("Invalid value for disable pin in Line %s. Using Default value OFF", 0);
      if (apply && f.authDisabled != localDev.authDisabled && f.authDisabled == 1)
        program(page, "AT+PIN-\r", "LoadSettings: Failed to disabled authentication", 0);
      break;
    case 6:
      text(f.name, "Name", fieldView(localDev.name), "AT+NAME=",
           "LoadSettings: Failed to set Name %s", true);
      break;
    case 7:
      text(f.pin, "Pin", fieldView(localDev.pin), "AT+PIN=", "LoadSettings: Failed to set Pin %s",
           true);
      break;
    case 8:
      storeText(f.remoteAddress, value, "RemoteAddress");
      if (apply && value == fieldView(f.remoteAddress) &&
          value != fieldView(localDev.bondedAddress)) {
        const std::string command = "AT+BOND=" + addressDigits(value) + "\r";
        program(page, command, fmt1("LoadSettings: Failed to set Bonding Address %s", command), 0);
      }
      break;
    case 9:
      twoState(f.discoverable,
               "Invalid value for discoverability in Line %s. Using Default discoverability ON", 1,
               localDev.discoverable, "AT+DCOV", "LoadSettings: Failed to set Discoverable Mode %s",
               kModeChangeWaitMs);
      break;
    case 10: {
      if (strcasecmp(value.c_str(), "Master") == 0) {
        f.role = 1;
      } else if (strcasecmp(value.c_str(), "Slave") == 0) {
        f.role = 2;
      } else {
        debugLog("Invalid value for role in Line %s. Using Default role Slave", line);
        f.role = 2;
      }
      if (apply && f.role != localDev.role) {
        const std::string command = f.role == 1 ? "AT+ROLEM\r" : "AT+ROLES\r";
        program(page, command, fmt1("LoadSettings: Failed to set Role %s", command),
                kModeChangeWaitMs);
      }
      break;
    }
    case 11:
      twoState(f.autoConnect, "Invalid value for auto connect in Line %s. Using Default value ON",
               1, localDev.autoConnect, "AT+ACON", "LoadSettings: Failed to set Auto-connect %s",
               kModeChangeWaitMs);
      break;
    case 12:
      twoState(f.escapeMode, "Invalid value for Escape Mode in Line %s. Using Default value ON", 1,
               localDev.escapeMode, "AT+ESC", "LoadSettings: Failed to set Escape Mode %s", 0);
      break;
    case 13:
      twoState(f.echo, "Invalid value for Echo Mode in Line %s. Using Default value ON", 1,
               localDev.echo, "AT+ECHO", "LoadSettings: Failed to set Echo Mode %s", 0);
      break;
    case 14:
      twoState(f.sleepMode, "Invalid value for Auto Power in Line %s. Using Default value OFF", 0,
               localDev.sleepMode, "AT+SLEEP", "LoadSettings: Failed to set Sleep Mode %s", 0);
      break;
    case 15:
      twoState(f.cmdResponse,
               "Invalid value for Command Response in Line %s. Using Default value ON", 1,
               localDev.cmdResponse, "AT+RESP", "LoadSettings: Failed to set Response Mode %s", 0);
      break;
    case 16:
      twoState(f.remoteConfig,
               "Invalid value for Remote Configuration in Line %s. Using Default value OFF", 0,
               localDev.remoteConfig, "AT+RCFG",
               "LoadSettings: Failed to set Remote Config Mode %s", 0);
      break;
    case 17: {
      static const char* const words[] = {"Disabled", "LocalLoopback", "RemoteTransfer"};
      int m = -1;
      for (int i = 0; i < 3; ++i)
        if (strcasecmp(value.c_str(), words[i]) == 0) m = i;
      if (m < 0) {
        debugLog(
            "Invalid value for Modem Signal Setting in Line %s. Using Default value DISABLED",
            line);
        m = 0;
      }
      f.modemSignal = m;
      if (apply && m != localDev.modemSignal && !isLegacyFirmware()) {
        static const char* const commands[] = {"AT+MODEM-\r", "AT+MODEML\r", "AT+MODEMR\r"};
        program(page, commands[m],
                fmt1("LoadSettings: Failed to set Modem Setting Command %s", commands[m]), 0);
      }
      break;
    }
    case 18:
      text(f.remoteService, "RemoteService", fieldView(localDev.remoteService), "AT+RSERVICE=",
           "LoadSettings: Failed to set Remote Service %s", supportsRemoteService());
      break;
    case 19:
      // Written for either remote-feature version, so read under the same test.
      text(f.remoteCod, "RemoteCOD", fieldView(localDev.remoteCod), "AT+RCOD=",
           "LoadSettings: Failed to set Remote Class of Device %s", supportsRemoteService());
      break;
    default:
      break;
  }
}

const char* onOffText(int32_t v) { return v ? "On" : "Off"; }

}  // namespace

const char* const kSettingsFileKeys[kSettingsFileKeyCount] = {
    "Port",       "Baud",        "StopBits",    "FlowControl", "Parity",
    "DisablePin", "Name",        "Pin",         "RemoteAddress", "Discoverable",
    "Role",       "AutoConnect", "EscapeMode",  "EchoMode",    "AutoPower",
    "CommandResponse", "RemoteConfig", "ModemSignal", "RemoteService", "RemoteCOD"};

SettingsLineKind parseSettingsLine(const char* line, SettingsLine* out) {
  const char* p = line;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '#') return SettingsLineKind::Comment;
  int key = -1;
  for (int i = 0; i < kSettingsFileKeyCount && key < 0; ++i)
    if (contains(line, kSettingsFileKeys[i])) key = i;
  if (key < 0) return SettingsLineKind::NoKey;
  const char* eq = std::strchr(line, '=');
  if (!eq) return SettingsLineKind::NoEquals;
  const char* v = eq + 1;
  while (*v == ' ' || *v == '\t') ++v;
  out->key = key;
  out->value = v;
  while (!out->value.empty() && (out->value.back() == '\n' || out->value.back() == '\r'))
    out->value.pop_back();
  return SettingsLineKind::Entry;
}

bool readSettingsEntries(const std::string& path, std::vector<SettingsLine>* entries) {
  FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return false;
  std::vector<SettingsLine> found;
  char line[kReadPiece];
  while (std::fgets(line, sizeof line, file)) {
    SettingsLine parsed;
    if (parseSettingsLine(line, &parsed) != SettingsLineKind::Entry) continue;
    bool seen = false;
    for (SettingsLine& earlier : found)
      if (earlier.key == parsed.key) {
        earlier.value = parsed.value;  // a later line for the same key wins
        seen = true;
      }
    if (!seen) found.push_back(std::move(parsed));
  }
  std::fclose(file);
  entries->insert(entries->end(), found.begin(), found.end());
  return true;
}

std::string settingsOpenErrorText(int err) {
  switch (err) {
    case EPERM:
      return "Failed to open settings.txt file.Operation not permitted";
    case ENOENT:
      return "Failed to open settings.txt file.No such file present";
    case EACCES:
      return "Failed to open settings.txt file.Access Denied";
    default:
      return formatBounded(64, "Failed to open settings.txt file. Error %d", err);
  }
}

std::string settingsCreateErrorText(int err) {
  switch (err) {
    case EPERM:
      return "Failed to create settings.txt file.Operation not permitted";
    case ENOMEM:
      return "Failed to create settings.txt file.No Space in disk left";
    case EACCES:
      return "Failed to create settings.txt file.Access Denied";
    case EBUSY:
      return "Failed to create settings.txt file.File in use.";
    case ENAMETOOLONG:
      return "Failed to create settings.txt file.File name too long";
    default:
      return formatBounded(64, "Failed to open settings.txt file. Error %d", err);
  }
}

int LoadSettings(const std::string& path, int applyMode, FormInterface* page,
                 std::vector<std::string>* dryRun) {
  FILE* file = std::fopen(path.c_str(), "r");
  if (!file) {
    showMessageBox(settingsOpenErrorText(errno), MsgButtons::Ok);
    return 0;
  }
  readSettings(file, path, applyMode, page, dryRun);
  std::fclose(file);
  return 1;
}

void readSettings(std::FILE* file, const std::string& name, int applyMode, FormInterface* page,
                  std::vector<std::string>* dryRun) {
  const bool apply = applyMode == 1;
  gPlan = apply ? dryRun : nullptr;
  if (apply && !gPlan) appendStatus("Programming the adapter with the loaded settings...");
  std::memset(&fileSettings, 0, sizeof fileSettings);
  char line[kReadPiece];
  while (std::fgets(line, sizeof line, file)) handleLine(line, name, apply, page);
  if (apply && !gPlan) appendStatus("Adapter programmed with loaded settings");
  gPlan = nullptr;
}

void writeSettings(std::FILE* file) {
  std::fprintf(file, "# KX627 Configuration Utility Settings\n");
  std::fprintf(file, "Port = %s\n", uart.comPort);
  std::fprintf(file,
               "# Valid baudrate values "
               "1200,2400,4800,9600,19200,38400,57600,115200,230400,460800,921600\n");
  std::fprintf(file, "Baud = %d\n", uart.baud);
  std::fprintf(file, "StopBits = %d\n", uart.stopBits);
  std::fprintf(file, "FlowControl = %s\n", onOffText(uart.flow));
  std::fprintf(file, "# Valid parity values are none, odd, even\n");
  if (uart.parity == PARITY_NONE_FLAG) std::fprintf(file, "Parity = None\n");
  if (uart.parity == PARITY_ODD_FLAG) std::fprintf(file, "Parity = Odd\n");
  if (uart.parity == PARITY_EVEN_FLAG) std::fprintf(file, "Parity = Even\n");
  std::fprintf(file, "Name = %s\n", localDev.name);
  std::fprintf(file, "Pin = %s\n", localDev.pin);
  std::fprintf(file, "RemoteAddress = %s\n", localDev.bondedAddress);
  std::fprintf(file, "Discoverable = %s\n", onOffText(localDev.discoverable));
  std::fprintf(file, "DisablePin = %s\n", onOffText(localDev.authDisabled));
  if (localDev.role == 1) std::fprintf(file, "Role = Master\n");
  if (localDev.role == 2) std::fprintf(file, "Role = Slave\n");
  std::fprintf(file, "AutoConnect = %s\n", onOffText(localDev.autoConnect));
  std::fprintf(file, "EscapeMode = %s\n", onOffText(localDev.escapeMode));
  std::fprintf(file, "EchoMode = %s\n", onOffText(localDev.echo));
  std::fprintf(file, "AutoPower = %s\n", onOffText(localDev.sleepMode));
  std::fprintf(file, "CommandResponse = %s\n", onOffText(localDev.cmdResponse));
  std::fprintf(file, "RemoteConfig = %s\n", onOffText(localDev.remoteConfig));
  if (!isLegacyFirmware()) {
    static const char* const words[] = {"Disabled", "LocalLoopback", "RemoteTransfer"};
    const int m = localDev.modemSignal;
    if (m >= 0 && m <= 2) std::fprintf(file, "ModemSignal = %s\n", words[m]);
  }
  if (supportsRemoteService()) {
    std::fprintf(file, "RemoteService = %s\n", localDev.remoteService);
    std::fprintf(file, "RemoteCOD = %s\n", localDev.remoteCod);
  }
}

int SaveSettingsToFile(const std::string& path) {
  appendStatus(formatBounded(1024, "Saving Device Settings to file %s ", path.c_str()));
  // Written beside the target and put in its place in one step, so that the
  // old file stays whole until the new one is complete on disk.
  std::string tmp;
  int err = 0;
  FILE* file = createFileBeside(path, &tmp, &err);
  if (file) {
    writeSettings(file);
    err = replaceWithFile(file, tmp, path);
  }
  if (!file || err != 0) {
    showMessageBox(settingsCreateErrorText(err), MsgButtons::Ok);
    appendStatus("Failed to save device settings");
    return 0;
  }
  appendStatus("Device Settings Saved");
  return 1;
}

void takeSerialSettingsFromFile() {
  copyField(uart.comPort, fieldView(fileSettings.comPort));
  uart.baud = fileSettings.baud;
  uart.stopBits = fileSettings.stopBits;
  uart.parity = fileSettings.parity;
  uart.flow = fileSettings.flow;
}

namespace {

// The File menu's first steps: the device must be initialised ("load" or
// "save" names the operation in the message), then the user chooses a file.
std::optional<std::string> chooseFileFor(const char* operation, const PathChooser& choosePath) {
  if (localDev.initialised == 0) {
    showMessageBox(formatBounded(1024,
                                 "Local Device is not initialised. Please initialise the device "
                                 "and then %s settings.",
                                 operation),
                   MsgButtons::Ok);
    return std::nullopt;
  }
  auto path = choosePath();
  if (!path) debugLog("GetOpenFileName returned error %d", 0);
  return path;
}

}  // namespace

void onLoadSettingsFile(FormInterface& page, const PathChooser& choosePath) {
  const auto path = chooseFileFor("load", choosePath);
  if (path && LoadSettings(*path, 1, &page) == 0)
    showMessageBox("Failed to load file", MsgButtons::Ok);
}

void onSaveSettingsFile(const PathChooser& choosePath) {
  const auto path = chooseFileFor("save", choosePath);
  if (path && SaveSettingsToFile(*path) == 0) showMessageBox("Failed to save file", MsgButtons::Ok);
}

}  // namespace kx
