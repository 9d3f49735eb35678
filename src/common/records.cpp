#include "common/records.h"

#include <cstring>

namespace kx {

UartRecord uart;
AtCommandRecord atCommand;
std::mutex atCommandMutex;
LocalDevRecord localDev;
InquiryRecord inquiry;
std::mutex inquiryMutex;
PairRecord pair;
RemoteRecord remote;
std::mutex remoteMutex;

void clearUart() {
  uart.handle = nullptr;
  std::memset(uart.comPortList, 0, sizeof uart.comPortList);
  uart.comPortCount = 0;
  std::memset(uart.comPort, 0, sizeof uart.comPort);
  uart.baud = 0;
  uart.stopBits = 0;
  uart.parity = 0;
  uart.flow = 0;
  uart.isUartActive = 0;
  uart.readCallback = nullptr;
}

void clearAtCommandRecord(AtCommandRecord& rec) {
  std::memset(rec.command, 0, sizeof rec.command);
  std::memset(rec.response, 0, sizeof rec.response);
  rec.rxState = 0;
  std::memset(rec.param, 0, sizeof rec.param);
  rec.responseComplete = 0;
  rec.firstByteSeen = 0;
  rec.rxIndex = 0;
  rec.showInStatus = 0;
  rec.expectsData = 0;
  rec.timerMode = 0;
}

void clearAtCommand() { clearAtCommandRecord(atCommand); }

void clearLocalDev() {
  for (Flag* f : {&localDev.initialised, &localDev.echo, &localDev.role, &localDev.cmdResponse,
                  &localDev.discoverable, &localDev.escapeMode, &localDev.sleepMode,
                  &localDev.autoConnect, &localDev.baudCode, &localDev.authDisabled,
                  &localDev.bonded, &localDev.connected, &localDev.dataMode,
                  &localDev.inquiryActive, &localDev.remoteConfig, &localDev.abortOp,
                  &localDev.handshaked, &localDev.oldFirmware, &localDev.dsr, &localDev.cts,
                  &localDev.modemSignal}) {
    f->store(0);
  }
  std::memset(localDev.name, 0, sizeof localDev.name);
  std::memset(localDev.address, 0, sizeof localDev.address);
  std::memset(localDev.pin, 0, sizeof localDev.pin);
  std::memset(localDev.fwVersion, 0, sizeof localDev.fwVersion);
  std::memset(localDev.bondedAddress, 0, sizeof localDev.bondedAddress);
  std::memset(localDev.remoteService, 0, sizeof localDev.remoteService);
  std::memset(localDev.remoteCod, 0, sizeof localDev.remoteCod);
}

void clearInquiry() {
  std::lock_guard lock(inquiryMutex);
  inquiry.count = 0;
  inquiry.ticks = 0;
  inquiry.skipNext = 0;
  inquiry.lineLen = 0;
  std::memset(inquiry.line, 0, sizeof inquiry.line);
  std::memset(inquiry.results, 0, sizeof inquiry.results);
}

void clearPair() {
  pair.state = PAIR_IDLE;
  pair.dev2RespTempEnabled = 0;
  pair.dev1RespTempEnabled = 0;
  pair.dev2CmdResponse = 0;
  pair.dev2Role = 0;
  std::memset(pair.dev2Address, 0, sizeof pair.dev2Address);
  std::memset(pair.dev2Name, 0, sizeof pair.dev2Name);
}

void clearRemote() {
  std::lock_guard lock(remoteMutex);
  std::memset(remote.peerAddress, 0, sizeof remote.peerAddress);
  remote.handshakeState = HANDSHAKE_IDLE;
  std::memset(remote.handshakeResp, 0, sizeof remote.handshakeResp);
  remote.handshakeRespLen = 0;
  remote.pendingRemoteCommand = 0;
}

}  // namespace kx
