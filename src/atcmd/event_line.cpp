#include "atcmd/event_line.h"

#include "common/address.h"
#include "common/text.h"

namespace kx {
namespace {

constexpr std::string_view kConnect = "CONNECT";
constexpr std::string_view kDisconnect = "DISCONNECT";
constexpr std::string_view kAttemptFail = "Attempt Fail!!";

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// A peer's address as events carry it: 12 hex digits, with hyphens or
// colons between them, in double quotes or bare.
bool isEventAddress(std::string_view s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  if (s.find_first_of(" \"") != std::string_view::npos) return false;
  return isAddressText(addressDigits(s));
}

void fill(ConnectEvent* event, std::string_view keyword, std::string_view param) {
  if (!event) return;
  *event = ConnectEvent{};
  copyField(event->keyword, keyword);
  copyField(event->param, param);
}

}  // namespace

std::string_view lineText(std::string_view line) {
  if (line.substr(0, 2) == "\r\n") line.remove_prefix(2);
  else if (!line.empty() && (line.front() == '\r' || line.front() == '\n')) line.remove_prefix(1);
  if (line.size() >= 2 && line.substr(line.size() - 2) == "\r\n") line.remove_suffix(2);
  else if (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  return line;
}

bool parseEventLine(std::string_view text, ConnectEvent* event) {
  if (text.substr(0, kDisconnect.size()) == kDisconnect) {
    // DISCONNECT, then the address: quoted, or bare after a blank.
    const std::string_view rest = text.substr(kDisconnect.size());
    const std::string_view address = trimBlanks(rest);
    const bool separated = !rest.empty() && (rest.front() == ' ' || rest.front() == '"');
    if (!separated || !isEventAddress(address)) return false;
    fill(event, "\r\nDISCONNECT", rest);
    return true;
  }
  if (text.substr(0, kConnect.size()) == kConnect) {
    // CONNECT, one blank, then the quoted address or " Attempt Fail!!".
    const std::string_view rest = text.substr(kConnect.size());
    if (rest.empty() || rest.front() != ' ') return false;
    const std::string_view param = rest.substr(1);
    const std::string_view body = trimBlanks(param);
    if (body != kAttemptFail && !isEventAddress(body)) return false;
    fill(event, "\r\nCONNECT", param);
    return true;
  }
  return false;
}

bool mayBeEventLineStart(std::string_view bytes) {
  constexpr std::string_view kOpen = "\r\n";
  if (bytes.size() <= kOpen.size()) return kOpen.substr(0, bytes.size()) == bytes;
  if (bytes.substr(0, 2) != kOpen) return false;
  const std::string_view text = bytes.substr(2);
  for (std::string_view keyword : {kDisconnect, kConnect}) {
    if (text.size() < keyword.size()) {
      if (keyword.substr(0, text.size()) == text) return true;
    } else if (text.substr(0, keyword.size()) == keyword) {
      // The keyword is in: the line is what it is once its LF arrives.
      return text.find('\n') == std::string_view::npos;
    }
  }
  return false;
}

}  // namespace kx
