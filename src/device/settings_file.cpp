#include "device/settings_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

constexpr int kModeChangeWaitMs = 3000;

// While a dry run is under way: where the commands go instead of the port.
std::vector<std::string>* gPlan = nullptr;

// Sends a command built from a file value and applies its answer; reports a
// failure in the status window. A dry run only notes the command.
void program(FormInterface* page, const std::string& command, const std::string& failure,
             int waitMs, SettingsProgramResult& result) {
  const auto fits = checkCommandLength(command);
  if (!fits) {
    ++result.failed;
    return;
  }
  if (gPlan) {
    gPlan->push_back(*fits);
    return;
  }
  settingsCommandHook(*fits);
  if (sendATCommand(fits->c_str(), 0, 0, 1000) == 0) {
    ++result.sent;
    if (page) applyCommandResponse(*page);
    sleepMs(waitMs);
  } else {
    ++result.failed;
    appendStatus(failure);
  }
}

// A value the adapter's firmware does not take: not sent, and said so.
void notTaken(const std::string& setting, SettingsProgramResult& result) {
  ++result.skipped;
  if (gPlan) return;
  appendStatus(formatBounded(1024, "LoadSettings: %s not sent: firmware %s does not take it",
                             setting.c_str(), localDev.fwVersion));
}

// The message templates hold one "%s" for the command or the line.
std::string fmt1(const char* format, const std::string& arg) {
  std::string out = format;
  const auto at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, arg);
  return out.substr(0, 1023);
}

const char* plusMinus(int v) { return v ? "+" : "-"; }

// Stores one checked line in fileSettings and, when applying, programs it.
void takeEntry(const SettingsLine& e, bool apply, FormInterface* page,
               SettingsProgramResult& result) {
  debugLog("Read Line %s = %s", kSettingsFileKeys[e.key], e.value.c_str());
  const std::string& value = e.value;
  const int32_t n = e.number;
  FileSettings& f = fileSettings;
  auto twoState = [&](int32_t& field, Flag& current, const char* cmd, const char* failure,
                      int waitMs) {
    field = n;
    if (apply && field != current.load()) {
      const std::string command = std::string(cmd) + plusMinus(field) + "\r";
      program(page, command, fmt1(failure, command), waitMs, result);
    }
  };
  // A text setting, programmed when it differs from the adapter's value.
  auto text = [&](auto& field, std::string_view current, const char* prefix, const char* failure,
                  bool allowed, const char* setting) {
    copyField(field, value);
    if (!apply || value == current) return;
    if (!allowed) return notTaken(setting, result);
    const std::string command = prefix + value + "\r";
    program(page, command, fmt1(failure, command), 0, result);
  };

  switch (e.key) {
    case kKeyPort:
      copyField(f.comPort, value);
      break;
    case kKeyBaud:
      f.baud = n;
      // 0: the file was written without a speed; there is nothing to set.
      if (apply && n != 0 && n != uart.baud) {
        if (n >= 460800 && isLegacyFirmware()) {
          debugLog("SendLoadSettings: Baud Rate = %d, firmware = %s. Not Sending Command", n,
                   localDev.fwVersion);
          notTaken("Baud Rate " + std::to_string(n), result);
        } else {
          const std::string command = "AT+BAUD" + std::to_string(bpsToBaudIndex(n) + 10) + "\r";
          program(page, command, fmt1("LoadSettings: Failed to set Baud Rate %s", command), 0,
                  result);
        }
      }
      break;
    case kKeyStopBits:
      f.stopBits = n;
      if (apply && n != 0 && n != uart.stopBits) {
        const std::string command = "AT+STOP" + std::to_string(n) + "\r";
        program(page, command, fmt1("LoadSettings: Failed to set Stop Bits %s", command), 0,
                result);
      }
      break;
    case kKeyFlowControl:
      f.flow = n;
      if (apply && f.flow != uart.flow) {
        const std::string command = std::string("AT+FLOW") + plusMinus(f.flow) + "\r";
        program(page, command, fmt1("LoadSettings: Failed to set Flow Control %s", command),
                kModeChangeWaitMs, result);
      }
      break;
    case kKeyParity:
      f.parity = n;
      if (apply && f.parity != uart.parity) {
        const std::string command = "AT+PAR" + std::to_string(parityToIndex(f.parity)) + "\r";
        program(page, command, fmt1("LoadSettings: Failed to set Parity %s", command), 0, result);
      }
      break;
    case kKeyDisablePin:
      f.authDisabled = n;
      if (apply && f.authDisabled != localDev.authDisabled && f.authDisabled == 1)
        program(page, "AT+PIN-\r", "LoadSettings: Failed to disabled authentication", 0, result);
      break;
    case kKeyName:
      text(f.name, fieldView(localDev.name), "AT+NAME=", "LoadSettings: Failed to set Name %s",
           true, "Name");
      break;
    case kKeyPin:
      text(f.pin, fieldView(localDev.pin), "AT+PIN=", "LoadSettings: Failed to set Pin %s", true,
           "Pin");
      break;
    case kKeyRemoteAddress:
      copyField(f.remoteAddress, value);
      // Empty: the file was written without a bonded address; nothing to set.
      if (apply && !value.empty() && value != fieldView(localDev.bondedAddress)) {
        const std::string command = "AT+BOND=" + addressDigits(value) + "\r";
        program(page, command, fmt1("LoadSettings: Failed to set Bonding Address %s", command), 0,
                result);
      }
      break;
    case kKeyDiscoverable:
      twoState(f.discoverable, localDev.discoverable, "AT+DCOV",
               "LoadSettings: Failed to set Discoverable Mode %s", kModeChangeWaitMs);
      break;
    case kKeyRole:
      f.role = n;
      if (apply && f.role != localDev.role) {
        const std::string command = f.role == 1 ? "AT+ROLEM\r" : "AT+ROLES\r";
        program(page, command, fmt1("LoadSettings: Failed to set Role %s", command),
                kModeChangeWaitMs, result);
      }
      break;
    case kKeyAutoConnect:
      twoState(f.autoConnect, localDev.autoConnect, "AT+ACON",
               "LoadSettings: Failed to set Auto-connect %s", kModeChangeWaitMs);
      break;
    case kKeyEscapeMode:
      twoState(f.escapeMode, localDev.escapeMode, "AT+ESC",
               "LoadSettings: Failed to set Escape Mode %s", 0);
      break;
    case kKeyEchoMode:
      twoState(f.echo, localDev.echo, "AT+ECHO", "LoadSettings: Failed to set Echo Mode %s", 0);
      break;
    case kKeyAutoPower:
      twoState(f.sleepMode, localDev.sleepMode, "AT+SLEEP",
               "LoadSettings: Failed to set Sleep Mode %s", 0);
      break;
    case kKeyCommandResponse:
      twoState(f.cmdResponse, localDev.cmdResponse, "AT+RESP",
               "LoadSettings: Failed to set Response Mode %s", 0);
      break;
    case kKeyRemoteConfig:
      twoState(f.remoteConfig, localDev.remoteConfig, "AT+RCFG",
               "LoadSettings: Failed to set Remote Config Mode %s", 0);
      break;
    case kKeyModemSignal:
      f.modemSignal = n;
      if (apply && n != localDev.modemSignal) {
        if (isLegacyFirmware()) return notTaken("Modem Setting", result);
        static const char* const commands[] = {"AT+MODEM-\r", "AT+MODEML\r", "AT+MODEMR\r"};
        program(page, commands[n],
                fmt1("LoadSettings: Failed to set Modem Setting Command %s", commands[n]), 0,
                result);
      }
      break;
    case kKeyRemoteService:
      text(f.remoteService, fieldView(localDev.remoteService), "AT+RSERVICE=",
           "LoadSettings: Failed to set Remote Service %s", supportsRemoteService(),
           "Remote Service");
      break;
    case kKeyRemoteCod:
      // Written for either remote-feature version, so read under the same test.
      text(f.remoteCod, fieldView(localDev.remoteCod), "AT+RCOD=",
           "LoadSettings: Failed to set Remote Class of Device %s", supportsRemoteService(),
           "Remote Class of Device");
      break;
    default:
      break;
  }
}

const char* onOffText(int32_t v) { return v ? "On" : "Off"; }

// Takes what a check found: each unusable line is one status line (the file
// is read at start-up too, where nobody is asked), the rest is taken.
void takeCheckedFile(const SettingsFileCheck& check, const std::string& name, int applyMode,
                     FormInterface* page, std::vector<std::string>* dryRun) {
  for (const SettingsProblem& p : check.problems) {
    std::string line = describeSettingsProblem(name, p);
    debugLog("LoadSettings: %s", line.c_str());
    if (dryRun) continue;
    if (p.lineNumber) line += " (line ignored)";
    appendStatus(line);
  }
  programSettings(check.entries, applyMode, page, dryRun);
}

}  // namespace

SettingsProgramResult programSettings(const std::vector<SettingsLine>& entries, int applyMode,
                                      FormInterface* page, std::vector<std::string>* plan) {
  const bool apply = applyMode == 1;
  gPlan = apply ? plan : nullptr;
  const bool report = apply && !gPlan;
  if (report) appendStatus("Programming the adapter with the loaded settings...");
  std::memset(&fileSettings, 0, sizeof fileSettings);
  SettingsProgramResult result;
  for (const SettingsLine& e : entries) takeEntry(e, apply, page, result);
  if (report) {
    if (result.failed == 0 && result.skipped == 0)
      appendStatus(result.sent > 0 ? "Adapter programmed with loaded settings"
                                   : "The adapter already holds the loaded settings");
    else
      appendStatus(formatBounded(200, "%d of the loaded settings were not programmed",
                                 result.failed + result.skipped));
  }
  gPlan = nullptr;
  return result;
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
  const SettingsFileCheck check = checkSettingsFile(path);
  if (check.readError != 0) {
    showMessageBox(settingsOpenErrorText(check.readError), MsgButtons::Ok);
    return 0;
  }
  takeCheckedFile(check, path, applyMode, page, dryRun);
  return 1;
}

SettingsFileCheck readSettings(std::FILE* file, const std::string& name, int applyMode,
                               FormInterface* page, std::vector<std::string>* dryRun) {
  SettingsFileCheck check = checkSettingsStream(file);
  takeCheckedFile(check, name, applyMode, page, dryRun);
  return check;
}

namespace {

// The last serial-port values this run learned (user-interface thread).
SerialSettings gLearned;
bool gLearnedAny = false;

SerialSettings fromUart() {
  SerialSettings s;
  copyField(s.comPort, fieldView(uart.comPort));
  s.baud = uart.baud;
  s.stopBits = uart.stopBits;
  s.parity = uart.parity;
  s.flow = uart.flow;
  return s;
}

}  // namespace

SerialSettings factorySerialSettings() {
  SerialSettings s;
  s.baud = 19200;
  s.stopBits = 1;
  s.parity = PARITY_NONE_FLAG;
  s.flow = 0;
  return s;
}

void forgetSerialSettings() {
  gLearned = SerialSettings{};
  gLearnedAny = false;
}

void rememberSerialSettings() {
  gLearned = fromUart();
  gLearnedAny = true;
}

SerialSettings serialSettingsToWrite() {
  if ((uart.isUartActive.load() == 1 && localDev.initialised.load() == 1) || !gLearnedAny)
    return fromUart();
  return gLearned;
}

int loadStartupSettings(const std::string& path) {
  forgetSerialSettings();
  const SerialSettings factory = factorySerialSettings();
  uart.baud = factory.baud;
  uart.stopBits = factory.stopBits;
  uart.parity = factory.parity;
  uart.flow = factory.flow;
  int result = 0;
  std::FILE* probe = std::fopen(path.c_str(), "rb");
  const int err = probe ? 0 : errno;
  if (probe) std::fclose(probe);
  if (!probe && err == ENOENT) {
    debugLog("LoadSettings: no %s at start-up", path.c_str());
    appendStatus(formatBounded(1024,
                               "No %s yet: the adapter's factory line settings are in use (19200 "
                               "bit/s, no parity, one stop bit, no flow control).",
                               path.c_str()));
  } else if (LoadSettings(path, 0) == 1) {
    takeSerialSettingsFromFile();
    result = 1;
  }
  rememberSerialSettings();
  return result;
}

void writeSettings(std::FILE* file) {
  const SerialSettings serial = serialSettingsToWrite();
  std::fprintf(file, "# KX627 Configuration Utility Settings\n");
  std::fprintf(file, "Port = %s\n", serial.comPort);
  std::fprintf(file,
               "# Valid baudrate values "
               "1200,2400,4800,9600,19200,38400,57600,115200,230400,460800,921600\n");
  std::fprintf(file, "Baud = %d\n", serial.baud);
  std::fprintf(file, "StopBits = %d\n", serial.stopBits);
  std::fprintf(file, "FlowControl = %s\n", onOffText(serial.flow));
  std::fprintf(file, "# Valid parity values are none, odd, even\n");
  if (serial.parity == PARITY_NONE_FLAG) std::fprintf(file, "Parity = None\n");
  if (serial.parity == PARITY_ODD_FLAG) std::fprintf(file, "Parity = Odd\n");
  if (serial.parity == PARITY_EVEN_FLAG) std::fprintf(file, "Parity = Even\n");
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
  // 0 is no speed, stop bits or parity: a file written without them.
  if (fileSettings.comPort[0] != '\0') copyField(uart.comPort, fieldView(fileSettings.comPort));
  if (fileSettings.baud != 0) uart.baud = fileSettings.baud;
  if (fileSettings.stopBits != 0) uart.stopBits = fileSettings.stopBits;
  if (fileSettings.parity != 0) uart.parity = fileSettings.parity;
  uart.flow = fileSettings.flow;  // no line: off, as the factory has it
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
  if (!path) return;
  // Every line is checked before anything is sent: a wrong line must never
  // program a value nobody asked for.
  const SettingsFileCheck check = checkSettingsFile(*path);
  if (check.readError != 0) {
    showMessageBox(settingsOpenErrorText(check.readError), MsgButtons::Ok);
    showMessageBox("Failed to load file", MsgButtons::Ok);
    return;
  }
  // Each unusable line is a status line too, where it stays after the box.
  for (const SettingsProblem& p : check.problems) {
    const std::string line = describeSettingsProblem(*path, p);
    debugLog("LoadSettings: %s", line.c_str());
    appendStatus(line);
  }
  if (!check.usable()) {
    showMessageBox("Nothing was programmed: " + *path + " holds no usable settings.\n\n" +
                       listSettingsProblems(*path, check.problems),
                   MsgButtons::Ok);
    return;
  }
  if (!check.problems.empty()) {
    const std::string question =
        formatBounded(100, "%zu line(s) of the file cannot be used:\n\n", check.problems.size()) +
        listSettingsProblems(*path, check.problems) +
        "\nProgram the adapter with the other values of the file?";
    // No is the default: Enter must not program a partly wrong file.
    if (showMessageBox(question, MsgButtons::YesNoDefaultNo) != MsgResult::Yes) {
      appendStatus("Loading " + *path + " cancelled; nothing was programmed");
      return;
    }
  }
  programSettings(check.entries, 1, &page);
}

void onSaveSettingsFile(const PathChooser& choosePath) {
  const auto path = chooseFileFor("save", choosePath);
  if (path && SaveSettingsToFile(*path) == 0) showMessageBox("Failed to save file", MsgButtons::Ok);
}

}  // namespace kx
