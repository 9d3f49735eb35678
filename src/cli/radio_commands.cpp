// The radio link: pair and unpair, inquire, connect, disconnect and the
// remote adapter's configuration.
#include <algorithm>
#include <functional>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "atcmd/connect_event.h"
#include "atcmd/transmission.h"
#include "cli/session.h"
#include "common/address.h"
#include "common/records.h"
#include "common/text.h"
#include "device/initialise.h"
#include "device/local_device.h"
#include "device/response_apply.h"
#include "link/connection.h"
#include "link/pairing.h"
#include "link/remote_config.h"
#include "platform/clock.h"

namespace kx::cli {

// ------------------------------------------------------------------ pairing

int Session::pairing(bool pairNow) {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  refreshPairPage(pairPage_);
  const PairingOutcome outcome =
      pairNow ? pairDevices(pairPage_, page_) : unpairDevices(pairPage_, page_);
  switch (outcome) {
    case PairingOutcome::Succeeded:
      std::fprintf(out_, "Local device %s bonded to %s\n", localDev.address,
                   localDev.bondedAddress);
      return kExitOk;
    case PairingOutcome::Cancelled:
      return kExitCancelled;
    default:
      return endedEarly(kExitFailed);
  }
}

// ------------------------------------------------------------------ radio

int Session::inquire() {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  onInquireDevices(connectionPage_, page_);
  if (localDev.inquiryActive == 0) return kExitFailed;  // the refusal has been reported
  // The inquiry timer ends the display after 61 ticks even if the adapter
  // never reports the end; wait a little longer than that.
  const long long end = monotonicMs() + 70000;
  bool cancelled = false;
  while (localDev.inquiryActive == 1 && monotonicMs() < end && !adapterGone()) {
    if (cancel_ && !cancelled) {
      cancelled = true;
      onCancelInquiry(page_);
    }
    w_.processPosted(100);
  }
  w_.processPosted(0);
  // What was found before the adapter went is still printed.
  const bool gone = adapterGone();
  std::vector<std::string> lines;
  {
    std::lock_guard lock(inquiryMutex);
    const int count = std::min<int>(inquiry.count, kMaxInquiryResults);
    for (int i = 0; i < count; ++i) lines.emplace_back(fieldView(inquiry.results[i]));
  }
  for (std::string line : lines) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (!o_.json) {
      std::fprintf(out_, "%s\n", line.c_str());
      continue;
    }
    // A device line: name (20 columns), class of device, signal strength,
    // then the address at column 34. Other lines (the header, the end) are
    // not devices.
    const std::string address = line.size() > 34 ? line.substr(34, 14) : std::string();
    if (!isAddressText(address)) continue;
    auto column = [&](std::size_t from, std::size_t length) {
      std::string v = line.substr(from, length);
      while (!v.empty() && v.back() == ' ') v.pop_back();
      while (!v.empty() && v.front() == ' ') v.erase(v.begin());
      return latin1ToUtf8(v);
    };
    nlohmann::ordered_json device;
    device["name"] = column(0, 20);
    device["address"] = address;
    device["class"] = column(21, 6);
    int rssi = 0;
    if (std::sscanf(line.c_str() + 28, "%d", &rssi) == 1) device["rssi"] = rssi;
    std::fprintf(out_, "%s\n", device.dump().c_str());
  }
  if (gone) return endedEarly(kExitFailed);
  return cancelled ? kExitCancelled : kExitOk;
}

int Session::connectTo() {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  connectionPage_.setText(ctl::kSelectedDevice, addressDigits(o_.address));
  const uint32_t before = linkEvents().count;
  onConnect(connectionPage_, page_);
  const bool reported = waitUntil(
      [before] {
        const LinkEventNote e = linkEvents();
        return e.count != before && e.last != LinkEvent::Disconnected;
      },
      o_.timeoutMs);
  if (reported && linkEvents().last == LinkEvent::Connected && localDev.connected == 1) {
    std::string peer;
    {
      std::lock_guard lock(remoteMutex);
      peer = std::string(fieldView(remote.peerAddress));
    }
    std::fprintf(out_, "connected %s\n", peer.c_str());
    return kExitOk;
  }
  if (!reported && !cancel_ && !adapterGone())
    w_.printLine("No CONNECT event within the time-out");
  return endedEarly(kExitLinkFailed);
}

int Session::disconnect() {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  // The adapter reports a link by being in data mode when it was found (the
  // escape brought it back) or by a CONNECT since. Without either, AT+DROP
  // still goes out, in case the link came up otherwise, but its DISCONNECT
  // would follow the OK at once: a short wait, not the whole time-out.
  const bool linkKnown = localDev.connected == 1 || initialisationLeftDataMode();
  constexpr int kNoLinkWaitMs = 2000;
  const uint32_t before = linkEvents().count;
  onDisconnect(page_);
  const bool dropped = waitUntil(
      [before] {
        const LinkEventNote e = linkEvents();
        return e.count != before && e.last == LinkEvent::Disconnected;
      },
      linkKnown ? o_.timeoutMs : kNoLinkWaitMs);
  if (dropped) {
    std::fprintf(out_, "disconnected\n");
    return kExitOk;
  }
  if (cancel_ || adapterGone()) return endedEarly(kExitLinkFailed);
  if (!linkKnown) {
    w_.printLine("not connected: the adapter has no link to drop");
    return kExitLinkFailed;
  }
  w_.printLine("No DISCONNECT event within the time-out (is the adapter connected?)");
  return kExitLinkFailed;
}

int Session::remoteConfigure() {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  initRemotePage(remotePage_);
  // The escape from data mode at the start showed the link is up. An adapter
  // found in command mode may still have the link an earlier run made (a
  // `read` in between brought it back to command mode), and no command asks
  // for it: the handshake itself finds out.
  if (initialisationLeftDataMode()) localDev.connected = 1;
  const bool linkUnknown = localDev.connected == 0;
  if (linkUnknown) {
    w_.printLine("No link seen in this run; the handshake finds out whether the adapter still "
                 "has one.");
    localDev.connected = 1;
  }
  const auto noLink = [this] {
    localDev.connected = 0;
    // The handshake put the adapter into data mode; without a link that
    // would only make the next run find it there and think it connected.
    if (localDev.dataMode == 1) {
      if (sendEscape(kEscapeGuardMs + 1000) == 0) {
        applyCommandResponse(page_);
      } else {
        std::lock_guard lock(atCommandMutex);
        clearAtCommand();
      }
    }
    w_.printLine("not connected: the adapter has no link to a remote adapter (no answer to the "
                 "handshake). Connect it first: kx627-cli connect --port " + o_.port + " ADDRESS");
    return kExitLinkFailed;
  };
  // Each exchange ends with an outcome: the answer, the 4-second timer's
  // verdict or the link's loss. The wait is a little longer than the timer.
  constexpr int kAnswerWaitMs = 6000;
  const auto exchange = [this](const std::function<void()>& send) {
    const uint32_t before = remoteOutcome().count;
    send();
    if (remoteOutcome().count == before &&
        !waitUntil([before] { return remoteOutcome().count != before; }, kAnswerWaitMs))
      return RemoteOutcome::None;
    return remoteOutcome().last;
  };
  const RemoteOutcome handshake = exchange([] { onHandshake(); });
  if (handshake != RemoteOutcome::HandshakeComplete) {
    if (handshake == RemoteOutcome::NotSent && w_.questionRefused()) return kExitCancelled;
    if (cancel_ || adapterGone()) return endedEarly(kExitLinkFailed);
    return linkUnknown && handshake == RemoteOutcome::NoAnswer ? noLink() : kExitLinkFailed;
  }

  // The page's Baud Rate list: the position + 1 is the remote speed code.
  static const int32_t kSpeeds[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
  remotePage_.clearRows(ctl::kRemoteBaudList);
  for (int32_t speed : kSpeeds) remotePage_.addRow(ctl::kRemoteBaudList, std::to_string(speed));
  for (int i = 0; i < 8; ++i)
    if (kSpeeds[i] == o_.remoteBaud) remotePage_.setSelection(ctl::kRemoteBaudList, i);
  const RemoteOutcome changed = exchange([this] { onProgramRemoteDevice(remotePage_); });
  if (changed == RemoteOutcome::LinkLost) return kExitLinkFailed;
  // Remote access is always left again once the handshake was made.
  const RemoteOutcome exited = exchange([] { onExitRemoteAccess(); });
  if (cancel_ || adapterGone()) return endedEarly(kExitLinkFailed);
  return changed == RemoteOutcome::BaudChanged && exited == RemoteOutcome::AccessExited
             ? kExitOk
             : kExitLinkFailed;
}

}  // namespace kx::cli
