#include "common/address.h"

namespace kx {

std::string addressDigits(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '-' && c != ' ' && c != ':') out += c;
  return out;
}

std::string hyphenatedAddress(std::string_view digits) {
  std::string out;
  out.reserve(digits.size() + 2);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i == 4 || i == 6) out += '-';
    out += digits[i];
  }
  return out;
}

namespace {

bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

bool containsAdapterAddress(std::string_view text) {
  constexpr std::string_view kForm = "hhhh-hh-hhhhhh";
  if (text.size() < kForm.size()) return false;
  for (std::size_t at = 0; at + kForm.size() <= text.size(); ++at) {
    bool match = true;
    for (std::size_t i = 0; i < kForm.size() && match; ++i)
      match = kForm[i] == '-' ? text[at + i] == '-' : isHex(text[at + i]);
    if (!match) continue;
    const auto joined = [](char c) { return c == '-' || isHex(c); };
    const bool before = at > 0 && joined(text[at - 1]);
    const std::size_t end = at + kForm.size();
    const bool after = end < text.size() && joined(text[end]);
    if (!before && !after) return true;
  }
  return false;
}

bool isAddressText(std::string_view text) {
  int digits = 0;
  for (char c : text) {
    if (c == '-') continue;
    if (!isHex(c)) return false;
    ++digits;
  }
  return digits == 12;
}

}  // namespace kx
