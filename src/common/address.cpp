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

bool isAddressText(std::string_view text) {
  int digits = 0;
  for (char c : text) {
    if (c == '-') continue;
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
    ++digits;
  }
  return digits == 12;
}

}  // namespace kx
