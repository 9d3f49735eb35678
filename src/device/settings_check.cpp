#include "device/settings_check.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "common/address.h"
#include "common/records.h"
#include "common/text.h"
#include "device/local_device.h"

namespace kx {

const char* const kSettingsFileKeys[kSettingsFileKeyCount] = {
    "Port",       "Baud",        "StopBits",    "FlowControl", "Parity",
    "DisablePin", "Name",        "Pin",         "RemoteAddress", "Discoverable",
    "Role",       "AutoConnect", "EscapeMode",  "EchoMode",    "AutoPower",
    "CommandResponse", "RemoteConfig", "ModemSignal", "RemoteService", "RemoteCOD"};

namespace {

// The keys as views: a line's key is matched against each of them, and a
// view knows its length.
const std::array<std::string_view, kSettingsFileKeyCount> kKeys = [] {
  std::array<std::string_view, kSettingsFileKeyCount> keys;
  for (int i = 0; i < kSettingsFileKeyCount; ++i) keys[i] = kSettingsFileKeys[i];
  return keys;
}();

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Keys are short; a longer "key" is some other text, and no suggestion fits it.
constexpr std::size_t kMaxKeyText = 20;

// Whether one edit turns `a` into `b`: a letter missing, extra or wrong, or
// two neighbours swapped (an edit distance of exactly 1, transpositions
// counting as one). One pass over the texts.
bool oneEditApart(std::string_view a, std::string_view b) {
  if (a.size() < b.size()) std::swap(a, b);
  if (a.size() - b.size() > 1) return false;
  std::size_t i = 0;  // the first place they differ
  while (i < b.size() && a[i] == b[i]) ++i;
  if (a.size() != b.size()) return a.substr(i + 1) == b.substr(i);  // a has one letter more
  if (i == a.size()) return false;                                  // the same text
  return a.substr(i + 1) == b.substr(i + 1) ||                      // one letter wrong
         (i + 1 < a.size() && a[i] == b[i + 1] && a[i + 1] == b[i] &&
          a.substr(i + 2) == b.substr(i + 2));  // two neighbours swapped
}

// The texts one after the other, built in one allocation: a message is built
// for every line of a file that cannot be used.
std::string joined(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  std::string out;
  out.reserve(size);
  for (std::string_view part : parts) out.append(part);
  return out;
}

std::string unknownKeyProblem(std::string_view key) {
  if (key.size() <= kMaxKeyText) {
    for (std::string_view known : kKeys) {
      if (equalsIgnoreCase(key, known) || oneEditApart(key, known))
        return joined({"unknown key \"", key, "\" (did you mean \"", known, "\"?)"});
    }
  }
  return joined({"unknown key \"", key, "\""});
}

// The value's words, matched without regard to case; -1 when none matches.
int wordIndex(std::string_view value, std::initializer_list<const char*> words) {
  int i = 0;
  for (const char* w : words) {
    if (equalsIgnoreCase(value, w)) return i;
    ++i;
  }
  return -1;
}

// A plain decimal number; false for anything else (signs, blanks, letters).
bool decimal(std::string_view v, int32_t* out) {
  if (v.empty() || v.size() > 9) return false;
  int32_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  *out = n;
  return true;
}

bool isPortName(std::string_view v) {
  if (v.empty() || v.front() == '/') return true;  // empty: no port remembered
  if (v.size() < 4 || v.substr(0, 3) != "COM") return false;
  for (char c : v.substr(3))
    if (c < '0' || c > '9') return false;
  return true;
}

// KEY: "VALUE" WHY, the value escaped: the message for a value a key does not take.
std::string refused(std::string_view key, std::string_view value, std::string_view why) {
  return joined({key, ": \"", escapeBytes(value), "\" ", why});
}

// The longest text a key takes: its field, and for commands the 29
// characters of a command with its prefix and the final CR.
struct TextLimit {
  int key;
  std::size_t field;
  const char* prefix;  // the command that carries it, or null
};
constexpr TextLimit kTextLimits[] = {
    {kKeyPort, kPortNameSize - 1, nullptr},
    {kKeyName, kNameSize - 1, "AT+NAME="},
    {kKeyPin, kPinSize - 1, "AT+PIN="},
    {kKeyRemoteAddress, kAddressSize - 1, nullptr},
    {kKeyRemoteService, kRemoteServiceSize - 1, "AT+RSERVICE="},
    {kKeyRemoteCod, kRemoteCodSize - 1, "AT+RCOD="},
};

// Checks the value of a line whose key is known; fills entry->number.
std::string valueProblem(int key, std::string_view raw, SettingsLine* entry) {
  const char* const name = kSettingsFileKeys[key];
  for (unsigned char c : raw)
    if ((c < 0x20 && c != '\t') || c == 0x7f)
      return formatBounded(100, "%s: the value holds a control character (byte 0x%02X)", name, c);

  for (const TextLimit& t : kTextLimits) {
    if (t.key != key) continue;
    std::size_t most = t.field;
    const char* why = "its field";
    if (t.prefix) {
      const std::size_t command = kCommandSize - 1 - std::strlen(t.prefix) - 1;
      if (command < most) {
        most = command;
        why = "the command";
      }
    }
    if (raw.size() > most)
      return formatBounded(200, "%s: %zu characters, at most %zu fit in %s", name, raw.size(), most,
                           why);
  }

  // Words and numbers: the blanks a user may leave after them do not count.
  const std::string_view v = trimmed(raw);
  int32_t& n = entry->number;
  switch (key) {
    case kKeyPort:
      if (!isPortName(raw))
        return refused(name, raw, "is not a port name (COM<n> or a device path)");
      return {};
    case kKeyBaud:
      // 0 is what the tool writes when it never had a speed: nothing to set.
      if (!decimal(v, &n) || (n != 0 && !isAdapterSpeed(n)))
        return refused(name, v,
                       "is not an adapter speed (1200, 2400, 4800, 9600, 19200, 38400, 57600, "
                       "115200, 230400, 460800 or 921600)");
      return {};
    case kKeyStopBits:
      if (!decimal(v, &n) || n > 2) return refused(name, v, "is not 1 or 2");
      return {};
    case kKeyParity: {
      const int i = wordIndex(v, {"None", "Odd", "Even"});
      if (i < 0) return refused(name, v, "is not None, Odd or Even");
      static constexpr int32_t kFlags[] = {PARITY_NONE_FLAG, PARITY_ODD_FLAG, PARITY_EVEN_FLAG};
      n = kFlags[i];
      return {};
    }
    case kKeyRole: {
      const int i = wordIndex(v, {"Master", "Slave"});
      if (i < 0) return refused(name, v, "is not Master or Slave");
      n = i + 1;
      return {};
    }
    case kKeyModemSignal: {
      const int i = wordIndex(v, {"Disabled", "LocalLoopback", "RemoteTransfer"});
      if (i < 0) return refused(name, v, "is not Disabled, LocalLoopback or RemoteTransfer");
      n = i;
      return {};
    }
    case kKeyRemoteAddress:
      // Empty is what the tool writes when it knows no bonded address.
      if (!raw.empty() && !isAddressText(raw))
        return refused(name, raw,
                       "is not an address of 12 hex digits (hyphens allowed, e.g. 0012-6F-123456)");
      return {};
    case kKeyName:
    case kKeyPin:
    case kKeyRemoteService:
    case kKeyRemoteCod:
      return {};
    default: {  // the On/Off settings
      const int i = wordIndex(v, {"Off", "On"});
      if (i < 0) return refused(name, v, "is not On or Off");
      n = i;
      return {};
    }
  }
}

}  // namespace

int settingsKeyIndex(std::string_view name) {
  for (int i = 0; i < kSettingsFileKeyCount; ++i)
    if (name == kKeys[i]) return i;
  return -1;
}

SettingsLineKind checkSettingsLine(std::string_view line, SettingsLine* entry,
                                   std::string* problem) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  const std::string_view content = trimmed(line);
  if (content.empty()) return SettingsLineKind::Blank;
  if (content.front() == '#') return SettingsLineKind::Comment;
  if (line.size() > kSettingsLineMax) {
    *problem = formatBounded(100, "line longer than %zu characters", kSettingsLineMax);
    return SettingsLineKind::Problem;
  }
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) {
    const std::string_view shown = content.size() > 40 ? content.substr(0, 40) : content;
    *problem = joined({R"(no "=" in ")", escapeBytes(shown), "\"", content.size() > 40 ? "..." : "",
                       " (settings lines read KEY = VALUE)"});
    return SettingsLineKind::Problem;
  }
  const std::string_view key = trimmed(line.substr(0, eq));
  if (key.empty()) {
    *problem = "no key before \"=\"";
    return SettingsLineKind::Problem;
  }
  const int index = settingsKeyIndex(key);
  if (index < 0) {
    *problem = unknownKeyProblem(escapeBytes(key));
    return SettingsLineKind::Problem;
  }
  std::string_view value = line.substr(eq + 1);
  while (!value.empty() && isBlank(value.front())) value.remove_prefix(1);
  SettingsLine parsed;
  parsed.key = index;
  *problem = valueProblem(index, value, &parsed);
  if (!problem->empty()) {
    entry->key = index;
    entry->value = std::string(value);
    return SettingsLineKind::Problem;
  }
  parsed.value = std::string(value);
  *entry = std::move(parsed);
  return SettingsLineKind::Entry;
}

SettingsFileCheck checkSettingsStream(std::FILE* file) {
  SettingsFileCheck check;
  std::string line;
  line.reserve(kSettingsLineMax + 2);  // the most a line keeps, see below
  int number = 0;
  bool sawLine = false;
  auto finishLine = [&] {
    ++number;
    if (number == 1) line.erase(0, line.size() - skipUtf8Bom(line).size());
    SettingsLine entry;
    std::string problem;
    switch (checkSettingsLine(line, &entry, &problem)) {
      case SettingsLineKind::Entry:
        entry.lineNumber = number;
        check.entries.push_back(std::move(entry));
        break;
      case SettingsLineKind::Problem:
        check.problems.push_back({number, std::move(problem)});
        if (entry.key >= 0) {
          entry.lineNumber = number;
          check.refusedValues.push_back(std::move(entry));
        }
        break;
      default:
        break;
    }
    line.clear();
  };
  char block[4096];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
    std::string_view rest(block, got);
    while (!rest.empty()) {
      // The block up to its next line break, or the whole rest of it.
      const std::size_t nl = rest.find('\n');
      const std::string_view piece = rest.substr(0, nl == std::string_view::npos ? nl : nl + 1);
      rest.remove_prefix(piece.size());
      sawLine = true;
      // A line past the limit is a problem whatever it holds: keep its start
      // and its end (the line break), not the whole of it.
      const std::size_t room = kSettingsLineMax + 2 - line.size();
      line.append(piece.substr(0, room));
      if (piece.size() > room) line.back() = piece.back();
      if (nl != std::string_view::npos) {
        finishLine();
        sawLine = false;
      }
    }
  }
  if (std::ferror(file)) {
    check.readError = errno ? errno : EIO;
    check.entries.clear();
    check.refusedValues.clear();
    return check;
  }
  if (sawLine) finishLine();
  if (check.entries.empty()) check.problems.push_back({0, "no settings in this file"});
  return check;
}

SettingsFileCheck checkSettingsFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    SettingsFileCheck check;
    check.readError = errno;
    return check;
  }
  errno = 0;
  SettingsFileCheck check = checkSettingsStream(file);
  std::fclose(file);
  return check;
}

std::string describeSettingsProblem(const std::string& path, const SettingsProblem& problem) {
  const std::string number = problem.lineNumber ? ":" + std::to_string(problem.lineNumber) : "";
  // With room for a short note after it, such as the start-up read's
  // " (line ignored)", which then needs no copy of a long line.
  constexpr std::size_t kNoteRoom = 16;
  std::string out;
  out.reserve(path.size() + number.size() + 2 + problem.text.size() + kNoteRoom);
  out.append(path).append(number).append(": ").append(problem.text);
  return out;
}

std::string listSettingsProblems(const std::string& path,
                                 const std::vector<SettingsProblem>& problems, int shown) {
  std::string out;
  int n = 0;
  for (const SettingsProblem& p : problems) {
    if (n == shown) {
      out += formatBounded(40, "and %zu more\n", problems.size() - static_cast<std::size_t>(n));
      break;
    }
    out += describeSettingsProblem(path, p) + "\n";
    ++n;
  }
  return out;
}

}  // namespace kx
