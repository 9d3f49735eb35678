// Reading and checking a settings file before anything is sent: each line is
// KEY = VALUE, the key being the text before the first "=" (surrounding blanks
// dropped) matched exactly against the key table, and every value is checked
// against what its key takes. A value may hold anything else, other keys'
// names included. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// The keys of a settings file, in the order the writer writes them.
constexpr int kSettingsFileKeyCount = 20;
extern const char* const kSettingsFileKeys[kSettingsFileKeyCount];
enum SettingsKey : int {
  kKeyPort, kKeyBaud, kKeyStopBits, kKeyFlowControl, kKeyParity, kKeyDisablePin, kKeyName,
  kKeyPin, kKeyRemoteAddress, kKeyDiscoverable, kKeyRole, kKeyAutoConnect, kKeyEscapeMode,
  kKeyEchoMode, kKeyAutoPower, kKeyCommandResponse, kKeyRemoteConfig, kKeyModemSignal,
  kKeyRemoteService, kKeyRemoteCod
};

// Longest line read; a longer one is a problem of its own.
constexpr std::size_t kSettingsLineMax = 1022;

// One checked settings line.
struct SettingsLine {
  int key = -1;         // a SettingsKey
  std::string value;    // after "=" and leading blanks, without the line end
  int32_t number = 0;   // the value converted: speed, stop bits, 0/1, parity flag, role, modem
  int lineNumber = 0;   // 1-based
};

// What is wrong with one line; lineNumber 0 speaks of the file as a whole.
struct SettingsProblem {
  int lineNumber = 0;
  std::string text;
};

enum class SettingsLineKind { Comment, Blank, Entry, Problem };

// The key's index for its exact name; -1 for a name that is no key.
int settingsKeyIndex(std::string_view name);

// Parses and checks one line (its line end, CR LF or LF, may still be on it).
// Entry fills `entry` (but for its lineNumber); Problem fills `problem`, and
// `entry`'s key and value when the key is known and only the value was refused.
SettingsLineKind checkSettingsLine(std::string_view line, SettingsLine* entry,
                                   std::string* problem);

// A whole file, checked.
struct SettingsFileCheck {
  std::vector<SettingsLine> entries;       // the good lines, in file order
  std::vector<SettingsProblem> problems;   // in file order; "no settings" last
  // The problems' lines whose key is known and whose value alone was refused
  // (key, value and lineNumber), for callers that fill values in later.
  std::vector<SettingsLine> refusedValues;
  int readError = 0;                       // errno when the file could not be read at all

  // Something can be programmed from it.
  bool usable() const { return readError == 0 && !entries.empty(); }
};

// Reads and checks `file` (not closed here). A file without a single settings
// line (empty, only comments, binary) gets a file-wide problem; a read error
// (a directory, an I/O error) sets readError.
SettingsFileCheck checkSettingsStream(std::FILE* file);
// The same for the file at `path`; readError when it cannot be opened.
SettingsFileCheck checkSettingsFile(const std::string& path);

// "FILE:LINE: text" (or "FILE: text" for a file-wide problem).
std::string describeSettingsProblem(const std::string& path, const SettingsProblem& problem);
// The problems as lines for a message box: the first `shown`, then "and N more".
std::string listSettingsProblems(const std::string& path,
                                 const std::vector<SettingsProblem>& problems, int shown = 10);

}  // namespace kx
