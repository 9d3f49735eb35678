// Helpers for the fixed-size, NUL-terminated text fields of the global records.
// Every write into such a field goes through copyField so that an overlong
// value is cut to the field's capacity and never overruns it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "common/printf_format.h"

namespace kx {

// Copies src into dst, cut to N-1 characters, always NUL-terminated.
// Returns true when the whole value fitted.
template <std::size_t N>
bool copyField(char (&dst)[N], std::string_view src) {
  static_assert(N > 0);
  const std::size_t n = src.size() < N - 1 ? src.size() : N - 1;
  if (n) std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
  return n == src.size();
}

// Length of a field's text, never reading past its capacity.
template <std::size_t N>
std::size_t fieldLength(const char (&field)[N]) {
  const void* end = std::memchr(field, '\0', N);
  return end ? static_cast<const char*>(end) - field : N;
}

template <std::size_t N>
std::string_view fieldView(const char (&field)[N]) {
  return {field, fieldLength(field)};
}

// Formats like snprintf into a std::string cut at `bound - 1` characters,
// the system's 1024-byte message bound by default.
std::string formatBounded(std::size_t bound, const char* fmt, ...)
    KX_PRINTF_FORMAT(2, 3);

// Compares two texts ignoring ASCII letter case.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// Renders bytes for a log line: printable ASCII as is, CR as \r, LF as \n,
// anything else as \xHH.
std::string escapeBytes(std::string_view bytes);

// A UTF-8 byte-order mark at the start of a text, as Windows editors and spreadsheets save
// it, is no part of the text.
std::string_view skipUtf8Bom(std::string_view text);

// A command or an answer as part of one line of text: the line ends it carries
// ("AT+NAME?\r", "\r\nOK\r\n") dropped at its ends, and each run of CR and
// LF inside it turned into one blank.
std::string oneLine(std::string_view text);

}  // namespace kx
