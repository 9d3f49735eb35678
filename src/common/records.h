// The global records shared by the subsystems: the serial link (`uart`), the
// pending AT command (`atCommand`), the adapter mirror (`localDev`), the
// inquiry table (`inquiry`), the pairing procedure (`pair`) and the connected
// peer (`remote`). Each has one clear function, called at start-up and by the
// tests between cases.
//
// Threading contract:
// - Every 32-bit flag that more than one thread touches is a Flag
//   (std::atomic<int32_t>); reading or writing it needs no lock.
// - Text fields of `localDev` and `pair` are written and read on one thread at
//   a time: the user-interface thread, or the initialisation worker while the
//   user-interface thread waits for it.
// - `atCommand` is handed between the sending thread and the read thread under
//   `atCommandMutex` (see atcmd/ for the protocol); `inquiry` lines and results
//   are written by the read thread under `inquiryMutex`; `remote` text and
//   answer bytes under `remoteMutex`. Readers on other threads take the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace kx {

using Flag = std::atomic<int32_t>;

// ---------------------------------------------------------------- uart
constexpr int kMaxComPorts = 100;
constexpr int kPortNameSize = 256;  // a device path such as /dev/ttyUSB0

// Parity codes as the settings file and the pages keep them.
constexpr int32_t PARITY_NONE_FLAG = 0x100;
constexpr int32_t PARITY_ODD_FLAG = 0x200;
constexpr int32_t PARITY_EVEN_FLAG = 0x400;

class SerialDevice;
using ReadCallback = int32_t (*)(int32_t type, uint32_t* count);

struct UartRecord {
  SerialDevice* handle = nullptr;           // the open port, owned by the serial link
  char comPortList[kMaxComPorts][kPortNameSize] = {};  // port names found by discovery
  int32_t comPortCount = 0;
  char comPort[kPortNameSize] = {};         // name of the port to open
  int32_t baud = 0;                         // bits per second
  int32_t stopBits = 0;                     // 1 or 2
  int32_t parity = 0;                       // PARITY_*_FLAG
  int32_t flow = 0;                         // 1 = RTS/CTS hardware flow control
  Flag isUartActive{0};                     // 1 while both link threads run
  std::atomic<ReadCallback> readCallback{nullptr};
};
extern UartRecord uart;
void clearUart();

// ---------------------------------------------------------------- atCommand
constexpr int kCommandSize = 30;    // at most 29 characters
constexpr int kResponseSize = 600;

struct AtCommandRecord {
  char command[kCommandSize] = {};
  char response[kResponseSize] = {};
  int32_t rxState = 0;
  char param[kResponseSize] = {};
  int32_t responseComplete = 0;
  int32_t firstByteSeen = 0;
  int32_t rxIndex = 0;
  int32_t showInStatus = 0;
  int32_t expectsData = 0;
  Flag timerMode{0};
};
extern AtCommandRecord atCommand;
extern std::mutex atCommandMutex;
void clearAtCommand();  // caller holds atCommandMutex or no other thread runs
void clearAtCommandRecord(AtCommandRecord& rec);  // any record of this layout

// ---------------------------------------------------------------- localDev
constexpr int kNameSize = 20;
constexpr int kAddressSize = 20;
constexpr int kPinSize = 20;
constexpr int kFwVersionSize = 40;
constexpr int kRemoteServiceSize = 40;
constexpr int kRemoteCodSize = 10;

struct LocalDevRecord {
  Flag initialised{0};
  Flag echo{0};
  Flag role{0};            // 1 master, 2 slave, 0 unknown
  Flag cmdResponse{0};
  Flag discoverable{0};
  Flag escapeMode{0};
  Flag sleepMode{0};
  Flag autoConnect{0};
  Flag baudCode{0};        // 10..20, 0 until read
  Flag authDisabled{0};
  Flag bonded{0};
  Flag connected{0};
  Flag dataMode{0};
  Flag inquiryActive{0};
  Flag remoteConfig{0};
  Flag abortOp{0};
  Flag handshaked{0};
  Flag oldFirmware{0};
  Flag dsr{0};
  Flag cts{0};
  char name[kNameSize] = {};
  char address[kAddressSize] = {};
  char pin[kPinSize] = {};
  char fwVersion[kFwVersionSize] = {};
  char bondedAddress[kAddressSize] = {};
  Flag modemSignal{0};     // 0 disabled, 1 local loopback, 2 remote transfer
  char remoteService[kRemoteServiceSize] = {};
  char remoteCod[kRemoteCodSize] = {};
};
extern LocalDevRecord localDev;
void clearLocalDev();

// ---------------------------------------------------------------- inquiry
constexpr int kMaxInquiryResults = 10;

struct InquiryRecord {
  Flag count{0};
  Flag ticks{0};
  Flag skipNext{0};
  int32_t lineLen = 0;
  char line[kResponseSize] = {};
  char results[kMaxInquiryResults][kResponseSize] = {};
};
extern InquiryRecord inquiry;
extern std::mutex inquiryMutex;
void clearInquiry();

// ---------------------------------------------------------------- pair
enum PairState : int32_t {
  PAIR_IDLE = 0,
  PAIRING_STARTED = 1,
  DEV2_INITIALISED = 2,
  DEV2_BONDED = 3,
  DEV1_BONDED = 4,
  UNPAIRING_STARTED = 5,
  DEV1_UNBONDED = 6,
  DEV2_UNPAIRING = 7,
  DEV2_UNBONDED = 8,
};

struct PairRecord {
  Flag state{PAIR_IDLE};
  Flag dev2RespTempEnabled{0};
  Flag dev1RespTempEnabled{0};
  Flag dev2CmdResponse{0};
  Flag dev2Role{0};
  char dev2Address[kAddressSize] = {};
  char dev2Name[kNameSize] = {};
};
extern PairRecord pair;
void clearPair();

// ---------------------------------------------------------------- remote
enum HandshakeState : int32_t {
  HANDSHAKE_IDLE = 0,
  HANDSHAKE_STARTED = 1,
  HANDSHAKE_COMPLETE = 2,
};

struct RemoteRecord {
  char peerAddress[kAddressSize] = {};
  Flag handshakeState{HANDSHAKE_IDLE};
  uint8_t handshakeResp[4] = {};
  int32_t handshakeRespLen = 0;
  Flag pendingRemoteCommand{0};  // 0 exit remote access, 1 baud change
};
extern RemoteRecord remote;
extern std::mutex remoteMutex;
void clearRemote();

}  // namespace kx
