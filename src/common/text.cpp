#include "common/text.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace kx {

std::string formatBounded(std::size_t bound, const char* fmt, ...) {
  std::vector<char> buffer(bound ? bound : 1);
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(buffer.data(), buffer.size(), fmt, args);
  va_end(args);
  if (n < 0) return {};
  return std::string(buffer.data());
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string escapeBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string_view skipUtf8Bom(std::string_view text) {
  return text.substr(0, 3) == "\xEF\xBB\xBF" ? text.substr(3) : text;
}

std::string oneLine(std::string_view text) {
  auto isEnd = [](char c) { return c == '\r' || c == '\n'; };
  while (!text.empty() && isEnd(text.front())) text.remove_prefix(1);
  while (!text.empty() && isEnd(text.back())) text.remove_suffix(1);
  std::string line;
  line.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!isEnd(text[i])) {
      line += text[i];
    } else if (!isEnd(text[i + 1])) {  // the run's last: text does not end in one
      line += ' ';
    }
  }
  return line;
}

}  // namespace kx
