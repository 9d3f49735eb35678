// The record invariants, apart from the rest of the support code: they name
// the settings-file record, and a target that never checks them does not
// link the settings code.
#include <cstring>
#include <mutex>

#include "common/records.h"
#include "device/settings_file.h"
#include "fuzz_support.h"

namespace kx::fuzz {
namespace {

template <std::size_t N>
void requireTerminated(const char (&field)[N], const char* name) {
  KX_FUZZ_REQUIRE(std::memchr(field, '\0', N) != nullptr,
                  std::string(name) + " has no NUL within its capacity");
}

}  // namespace

void checkRecordInvariants() {
  {
    std::lock_guard lock(atCommandMutex);
    requireTerminated(atCommand.command, "atCommand.command");
    requireTerminated(atCommand.response, "atCommand.response");
    requireTerminated(atCommand.param, "atCommand.param");
    KX_FUZZ_REQUIRE(
        atCommand.rxIndex >= 0 && atCommand.rxIndex < kResponseSize,
        "atCommand.rxIndex " + std::to_string(atCommand.rxIndex) + " outside the response");
    require(atCommand.responseComplete == 0 || atCommand.responseComplete == 1,
            "atCommand.responseComplete not 0/1");
  }
  {
    std::lock_guard lock(inquiryMutex);
    const int32_t count = inquiry.count.load();
    KX_FUZZ_REQUIRE(count >= 0 && count <= kMaxInquiryResults,
                    "inquiry.count " + std::to_string(count) + " outside 0..10");
    KX_FUZZ_REQUIRE(inquiry.lineLen >= 0 && inquiry.lineLen < kResponseSize,
                    "inquiry.lineLen " + std::to_string(inquiry.lineLen) + " outside the line");
    requireTerminated(inquiry.line, "inquiry.line");
    for (const auto& r : inquiry.results) requireTerminated(r, "inquiry.results[]");
  }
  {
    std::lock_guard lock(remoteMutex);
    requireTerminated(remote.peerAddress, "remote.peerAddress");
    require(remote.handshakeRespLen >= 0 &&
                remote.handshakeRespLen <= static_cast<int32_t>(sizeof remote.handshakeResp),
            "remote.handshakeRespLen outside the answer bytes");
  }
  requireTerminated(localDev.name, "localDev.name");
  requireTerminated(localDev.address, "localDev.address");
  requireTerminated(localDev.pin, "localDev.pin");
  requireTerminated(localDev.fwVersion, "localDev.fwVersion");
  requireTerminated(localDev.bondedAddress, "localDev.bondedAddress");
  requireTerminated(localDev.remoteService, "localDev.remoteService");
  requireTerminated(localDev.remoteCod, "localDev.remoteCod");
  requireTerminated(pair.dev2Address, "pair.dev2Address");
  requireTerminated(pair.dev2Name, "pair.dev2Name");
  requireTerminated(uart.comPort, "uart.comPort");
  requireTerminated(fileSettings.comPort, "fileSettings.comPort");
  requireTerminated(fileSettings.name, "fileSettings.name");
  requireTerminated(fileSettings.pin, "fileSettings.pin");
  requireTerminated(fileSettings.remoteAddress, "fileSettings.remoteAddress");
  requireTerminated(fileSettings.remoteService, "fileSettings.remoteService");
  requireTerminated(fileSettings.remoteCod, "fileSettings.remoteCod");
}

}  // namespace kx::fuzz
