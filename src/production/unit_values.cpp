#include "production/unit_values.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/address.h"
#include "common/text.h"
#include "platform/serial_device.h"

namespace kx::production {
namespace {

constexpr const char* kPlaceholderList = "{address}, {address:N}, {seq}, {seq:N}";

// One placeholder found at `at` (the "{"): its name, its width (0: none) and
// its length; false when the braces hold no placeholder's form (a plain "{").
struct Placeholder {
  std::string name;
  int width = 0;
  std::size_t length = 0;
  bool widthGiven = false;
};
bool placeholderAt(std::string_view v, std::size_t at, Placeholder* p) {
  std::size_t i = at + 1;
  while (i < v.size() && std::isalpha(static_cast<unsigned char>(v[i]))) ++i;
  if (i == at + 1 || i >= v.size()) return false;
  p->name = std::string(v.substr(at + 1, i - at - 1));
  p->width = 0;
  p->widthGiven = false;
  if (v[i] == ':') {
    const std::size_t digits = ++i;
    while (i < v.size() && std::isdigit(static_cast<unsigned char>(v[i])) && i - digits < 3)
      p->width = p->width * 10 + (v[i++] - '0');
    if (i == digits) return false;
    p->widthGiven = true;
  }
  if (i >= v.size() || v[i] != '}') return false;
  p->length = i + 1 - at;
  return true;
}

// Whether `v` holds a placeholder (named `name`, or any when null).
bool hasPlaceholder(std::string_view v, const char* name = nullptr) {
  Placeholder p;
  for (std::size_t at = v.find('{'); at != std::string_view::npos; at = v.find('{', at + 1))
    if (placeholderAt(v, at, &p) && (!name || p.name == name)) return true;
  return false;
}

bool mentionsSeq(std::string_view v) { return hasPlaceholder(v, "seq"); }

std::string trimmedCopy(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return std::string(s);
}

// Checks `key = value` as a settings line; the problem, or empty.
std::string checkValue(int key, const std::string& value, SettingsLine* entry) {
  std::string problem;
  const std::string line = std::string(kSettingsFileKeys[key]) + " = " + value;
  if (checkSettingsLine(line, entry, &problem) != SettingsLineKind::Entry && problem.empty())
    problem = std::string(kSettingsFileKeys[key]) + ": no value";
  return problem;
}

// A line of the template from a key and a value as written; the problem with
// it, or empty.
std::string templateLine(int key, const std::string& value, TemplateLine* out) {
  out->key = key;
  out->value = value;
  out->placeholders = hasPlaceholder(value);
  std::string problem = placeholderProblem(value);
  if (!problem.empty()) return std::string(kSettingsFileKeys[key]) + ": " + problem;
  if (!out->placeholders) return checkValue(key, value, &out->checked);
  return {};
}

// RFC 4180 records: quoted fields with "" for a quote, CR LF or LF. The
// cells are separated by `separator`: ',' or, as spreadsheets in locales with
// a decimal comma save them, ';'.
std::vector<std::vector<std::string>> parseCsv(std::string_view text, char separator) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string& field = records.back().back();
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == separator) {
      records.back().emplace_back();
    } else if (c == '\n') {
      records.emplace_back(1);
    } else if (c != '\r') {
      field += c;
    }
  }
  // The empty record after the last line end.
  while (!records.empty() && records.back().size() == 1 && records.back()[0].empty())
    records.pop_back();
  return records;
}

// The list's separator: ';' when its header row has ';' and no ',', else ','.
char csvSeparator(std::string_view text) {
  const std::string_view header = text.substr(0, text.find('\n'));
  return header.find(';') != std::string_view::npos && header.find(',') == std::string_view::npos
             ? ';'
             : ',';
}

// A cell as the adapter's 8-bit text (Latin-1) from the list's UTF-8; the
// problem, when it is not UTF-8 or holds a character Latin-1 lacks.
std::string utf8ToLatin1(const std::string& cell, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < cell.size();) {
    const auto b = static_cast<unsigned char>(cell[i]);
    if (b < 0x80) {
      *out += static_cast<char>(b);
      ++i;
      continue;
    }
    const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (length == 0 || b >= 0xF8 || i + length > cell.size())
      return "\"" + escapeBytes(cell) + "\" is not UTF-8 text (save the list as CSV UTF-8)";
    char32_t code = b & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(cell[i + k]);
      if ((next & 0xC0) != 0x80)
        return "\"" + escapeBytes(cell) + "\" is not UTF-8 text (save the list as CSV UTF-8)";
      code = (code << 6) | (next & 0x3F);
    }
    if (code > 0xFF)
      return "\"" + cell.substr(i, length) + "\" in \"" + cell +
             "\" is not in the adapter's character set (Latin-1)";
    *out += static_cast<char>(code);
    i += length;
  }
  return {};
}

std::string readWhole(const std::string& path, int* err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *err = errno ? errno : ENOENT;
    return {};
  }
  std::stringstream s;
  s << in.rdbuf();
  *err = 0;
  return s.str();
}

// Lays `line` over the lines: it replaces every line of its key, at the first
// one's place, or comes last.
void layOver(std::vector<TemplateLine>* lines, TemplateLine line) {
  bool placed = false;
  for (auto it = lines->begin(); it != lines->end();) {
    if (it->key != line.key) {
      ++it;
    } else if (!placed) {
      *it++ = line;
      placed = true;
    } else {
      it = lines->erase(it);
    }
  }
  if (!placed) lines->push_back(std::move(line));
}

bool loadValuesList(const std::string& path, ValuesList* list,
                    std::vector<std::string>* messages) {
  int err = 0;
  const std::string text = readWhole(path, &err);
  if (err) {
    messages->push_back("kx627-cli: cannot read the values list " + path + ": " + errnoText(err));
    return false;
  }
  const std::string_view body = skipUtf8Bom(text);
  const auto records = parseCsv(body, csvSeparator(body));
  const std::size_t before = messages->size();
  if (records.empty()) {
    messages->push_back(path + ": no header row naming the settings");
    return false;
  }
  list->path = path;
  for (const std::string& name : records[0]) {
    const std::string key = trimmedCopy(name);
    const int index = settingsKeyIndex(key);
    if (index < 0)
      messages->push_back(path + ":1: \"" + escapeBytes(key) + "\" is not a settings-file key");
    for (int k : list->keys)
      if (k == index && index >= 0) messages->push_back(path + ":1: " + key + " named twice");
    list->keys.push_back(index);
  }
  for (std::size_t r = 1; r < records.size(); ++r) {
    const std::string where = path + ":" + std::to_string(r + 1) + ": ";
    if (records[r].size() != list->keys.size()) {
      messages->push_back(where + formatBounded(100, "%zu values, the header names %zu",
                                                records[r].size(), list->keys.size()));
      continue;
    }
    std::vector<std::string> row(records[r].size());
    for (std::size_t c = 0; c < records[r].size() && messages->size() == before; ++c) {
      if (records[r][c].empty()) continue;  // the settings file's value stands
      // (A header with a wrong key has said so: no row gets here.)
      TemplateLine line;
      std::string problem = utf8ToLatin1(records[r][c], &row[c]);
      if (!problem.empty())
        problem = std::string(kSettingsFileKeys[list->keys[c]]) + ": " + problem;
      else
        problem = templateLine(list->keys[c], row[c], &line);
      if (!problem.empty()) messages->push_back(where + problem);
    }
    list->rows.push_back(std::move(row));
  }
  return messages->size() == before;
}

}  // namespace

std::string placeholderProblem(std::string_view v) {
  Placeholder p;
  for (std::size_t at = v.find('{'); at != std::string_view::npos; at = v.find('{', at + 1)) {
    if (!placeholderAt(v, at, &p)) continue;
    const std::string shown(v.substr(at, p.length));
    if (p.name != "address" && p.name != "seq")
      return "unknown placeholder " + shown + " (placeholders: " + kPlaceholderList + ")";
    if (p.widthGiven && (p.width < 1 || p.width > 12))
      return shown + ": the number of digits goes from 1 to 12";
  }
  return {};
}

std::string fillPlaceholders(std::string_view v, std::string_view address, long long seq) {
  std::string digits = addressDigits(address);
  for (char& c : digits) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string out;
  Placeholder p;
  std::size_t from = 0;
  for (std::size_t at = v.find('{'); at != std::string_view::npos; at = v.find('{', at + 1)) {
    if (!placeholderAt(v, at, &p)) continue;
    out.append(v.substr(from, at - from));
    if (p.name == "address") {
      const std::size_t n = p.widthGiven ? static_cast<std::size_t>(p.width) : digits.size();
      out += n < digits.size() ? digits.substr(digits.size() - n) : digits;
    } else {
      std::string number = std::to_string(seq);
      if (p.widthGiven && number.size() < static_cast<std::size_t>(p.width))
        number.insert(0, static_cast<std::size_t>(p.width) - number.size(), '0');
      out += number;
    }
    from = at + p.length;
    at = from - 1;
  }
  out.append(v.substr(from));
  return out;
}

bool loadUnitTemplate(const std::string& file, const std::vector<std::string>& sets,
                      const std::string& valuesPath, UnitTemplate* out,
                      std::vector<std::string>* messages) {
  *out = UnitTemplate{};
  const SettingsFileCheck check = checkSettingsFile(file);
  if (check.readError != 0) {
    messages->push_back("kx627-cli: cannot read the settings file " + file + ": " +
                        errnoText(check.readError));
    return false;
  }
  const std::size_t before = messages->size();
  // A line with placeholders is checked once they are filled; until then
  // only its key and the placeholders' form count, so a value the check
  // refused as it stands is taken up here when it holds a placeholder.
  std::vector<SettingsLine> taken;
  std::vector<int> heldLines;
  for (const SettingsLine& e : check.refusedValues)
    if (hasPlaceholder(e.value)) {
      taken.push_back(e);
      heldLines.push_back(e.lineNumber);
    }
  taken.insert(taken.end(), check.entries.begin(), check.entries.end());
  std::stable_sort(taken.begin(), taken.end(), [](const SettingsLine& a, const SettingsLine& b) {
    return a.lineNumber < b.lineNumber;
  });
  for (const SettingsLine& e : taken) {
    TemplateLine line;
    if (!hasPlaceholder(e.value)) {  // checked as it stands
      line.key = e.key;
      line.value = e.value;
      line.checked = e;
      out->lines.push_back(std::move(line));
      continue;
    }
    const std::string problem = templateLine(e.key, e.value, &line);
    if (!problem.empty())
      messages->push_back(describeSettingsProblem(file, {e.lineNumber, problem}));
    else
      out->lines.push_back(std::move(line));
  }
  for (const SettingsProblem& p : check.problems) {
    if (std::find(heldLines.begin(), heldLines.end(), p.lineNumber) != heldLines.end()) continue;
    // "No settings" of a file of placeholder lines, or one that --set fills.
    if (p.lineNumber == 0 && (!out->lines.empty() || !sets.empty())) continue;
    messages->push_back(describeSettingsProblem(file, p));
  }

  for (const std::string& set : sets) {
    const std::size_t eq = set.find('=');
    const int key =
        eq == std::string::npos ? -1 : settingsKeyIndex(trimmedCopy(set.substr(0, eq)));
    if (key < 0) {
      messages->push_back("--set " + set + ": not KEY=VALUE with a settings-file key");
      continue;
    }
    TemplateLine line;
    const std::string problem = templateLine(key, set.substr(eq + 1), &line);
    if (!problem.empty())
      messages->push_back("--set " + set + ": " + problem);
    else
      out->sets.push_back(std::move(line));
  }
  if (!valuesPath.empty()) {
    ValuesList list;
    if (loadValuesList(valuesPath, &list, messages)) out->values = std::move(list);
  }
  for (const auto* group : {&out->lines, &out->sets})
    for (const TemplateLine& l : *group) out->usesSeq = out->usesSeq || mentionsSeq(l.value);
  if (out->values)
    for (const auto& row : out->values->rows)
      for (const std::string& v : row) out->usesSeq = out->usesSeq || mentionsSeq(v);
  return messages->size() == before;
}

std::optional<std::vector<SettingsLine>> unitSettings(const UnitTemplate& t, int row,
                                                      std::string_view address, long long seq,
                                                      std::string* problem) {
  std::vector<TemplateLine> lines = t.lines;
  // The list's values lie over the file's, --set over both.
  if (t.values && row >= 2 && row <= t.values->lastRow()) {
    const auto& values = t.values->rows[static_cast<std::size_t>(row - 2)];
    for (std::size_t c = 0; c < values.size(); ++c) {
      if (values[c].empty()) continue;
      TemplateLine line;
      templateLine(t.values->keys[c], values[c], &line);  // checked when the list was read
      layOver(&lines, std::move(line));
    }
  }
  for (const TemplateLine& set : t.sets) layOver(&lines, set);
  std::vector<SettingsLine> out;
  for (const TemplateLine& l : lines) {
    if (!l.placeholders) {
      out.push_back(l.checked);
      continue;
    }
    SettingsLine entry;
    *problem = checkValue(l.key, fillPlaceholders(l.value, address, seq), &entry);
    if (!problem->empty()) return std::nullopt;
    out.push_back(std::move(entry));
  }
  return out;
}

}  // namespace kx::production
