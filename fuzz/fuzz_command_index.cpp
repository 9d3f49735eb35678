// Fuzzes the command lookup with any text: it never reads past the first 29
// characters (an unterminated buffer of that length is enough), always gives
// an index of the table, and agrees with a plain reference lookup.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "atcmd/command_table.h"
#include "common/records.h"
#include "fuzz_support.h"

namespace {

using kx::fuzz::require;

int32_t referenceIndex(std::string text) {
  if (text.size() > static_cast<std::size_t>(kx::kCommandSize - 1))
    text.resize(kx::kCommandSize - 1);
  if (const auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  if (text.empty()) return 0;
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (text == kx::commandTable[0].pattern) return kx::commandTable[0].index;
  for (int row = 1; row < kx::kCommandCount; ++row)
    if (text.find(kx::commandTable[row].pattern) != std::string::npos)
      return kx::commandTable[row].index;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::quietStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const int32_t expected = referenceIndex(text);

  // As a NUL-terminated string of any length.
  const int32_t index = kx::getCommandIndex(text.c_str());
  require(index >= 0 && index <= kx::kCommandCount, "index outside the table");
  KX_FUZZ_REQUIRE(index == expected,
                  "index " + std::to_string(index) + ", reference " + std::to_string(expected));

  // A pending command's field is 29 characters and may lack its NUL: an exact
  // heap buffer of 29 bytes lets AddressSanitizer catch any read beyond.
  if (size >= static_cast<std::size_t>(kx::kCommandSize - 1)) {
    auto exact = std::make_unique<char[]>(kx::kCommandSize - 1);
    std::memcpy(exact.get(), data, kx::kCommandSize - 1);
    require(kx::getCommandIndex(exact.get()) == expected, "unterminated field judged differently");
  }
  return 0;
}
