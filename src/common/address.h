// Bluetooth addresses. The adapter shows an address as 4, 2 and 6 hex digits
// joined by hyphens ("0012-6F-100001", "0000-00-000000" for none); commands
// that carry one take the 12 digits alone ("AT+BOND=00126F100001\r").
#pragma once

#include <string>
#include <string_view>

namespace kx {

// The address an adapter shows when it has none (no bond, no peer).
constexpr const char* kNoBondAddress = "0000-00-000000";

// The digits of an address as the adapter or a user wrote it: hyphens,
// blanks and colons dropped, everything else kept as it stands.
std::string addressDigits(std::string_view text);

// The adapter's hyphenated form of a run of digits: a hyphen after the 4th
// and the 6th digit ("00126F100001" -> "0012-6F-100001"); shorter runs get
// the hyphens they reach.
std::string hyphenatedAddress(std::string_view digits);

// True for exactly 12 hex digits, with hyphens anywhere between them
// ("0012-6F-100001", "00126f100001"): what a user may type for an address.
bool isAddressText(std::string_view text);

// True when `text` holds an address in the adapter's own form (4, 2 and 6
// hex digits joined by hyphens) as a word of its own: not run together with
// further hex digits or hyphens on either side.
bool containsAdapterAddress(std::string_view text);

}  // namespace kx
