// The adapter simulator's radio world: several simulated KX627 adapters and
// extra remote Bluetooth devices, one adapter at a time plugged into the PC's
// port (a Transport). The plugged adapter interprets the AT commands the PC
// writes, answers in the adapter's framing, runs inquiries, connects and
// disconnects, carries data in data mode and speaks the remote-access byte
// protocol when it is the remote end of a link.
//
// Devices are numbered from 1: adapters first (1..adapters), then the extra
// remote devices (adapters+1..adapters+remotes). Only adapters can be plugged.
//
// Threading contract: every public member is safe to call from any thread.
// The world owns one worker thread that runs its timers (inquiry results,
// connection set-up, restarts, auto-connect) and delivers output to the
// transport. The transport is called only from that worker thread and never
// while the world's lock is held, so a transport may call receiveFromPc()
// from any of its own threads, including from inside its write path.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/serial_device.h"

namespace kx::sim {

// What the PC side of the port looks like to the adapter.
class Transport {
 public:
  virtual ~Transport() = default;
  // The line settings the PC runs now; false when nobody has the port open.
  virtual bool pcSettings(LineSettings* out) = 0;
  // False where even and no parity cannot be told apart (a pseudo-terminal).
  virtual bool carriesParity() const = 0;
  // Bytes for the PC to read.
  virtual void deliver(const std::string& bytes) = 0;
  // DSR and CTS as the plugged adapter drives them (where the transport has them).
  virtual void setModemLines(bool dsr, bool cts) = 0;
  // The world is being destroyed: stop calling into it. Called outside the
  // world's lock; once it returns the transport must not touch the world.
  virtual void worldGone() {}
};

// The bond address of an adapter bonded to nothing.
inline constexpr const char* kNoBond = "0000-00-000000";

// The adapter's own settings, as its AT commands set and query them.
struct AdapterSettings {
  std::string name;
  std::string pin = "1234";
  bool auth = true;                      // false: PIN query answers "NULL"
  std::string bond = kNoBond;           // 4-2-6 form; all zero = none
  bool master = false;
  bool echo = false;
  bool resp = true;
  bool dcov = true;
  bool esc = true;
  bool sleep = false;
  bool acon = false;
  bool rcfg = true;
  int modem = 0;                         // 0 "-", 1 "L", 2 "R"
  std::string rservice = "NULL";
  std::string rcod = "000000";
  int baudCode = 14;                     // 10..20
  Parity parity = Parity::None;
  int stopBits = 1;
  bool flow = false;
};

// How a device answers the remote-access byte protocol.
enum class RemoteAnswer { Ok, Fail, Silent };

struct WorldOptions {
  int adapters = 1;                // simulated adapters (>= 1)
  int remotes = 2;                 // extra remote devices in range
  // Adapter 1 as it starts; later adapters start with factory settings.
  int baud = 19200;
  Parity parity = Parity::None;
  int stopBits = 1;
  bool flow = false;
  bool echo = false;
  bool resp = true;
  std::string version = "v6.80";
  bool oldFirmware = false;        // answers "ATI0\r"; fixed at 19200 8N1 with flow control
  // Timing, in milliseconds.
  int latencyMs = 0;               // before every answer
  bool pace = false;               // deliver output at the configured speed's wire time
  int restartMs = 1500;            // silence after "AT+RESET\r"
  int inquiryMs = 4000;            // length of an inquiry
  int connectMs = 300;             // page time of a connection attempt
  int guardMs = 500;               // silence needed before "+++"
  int autoConnectRetryMs = 2000;   // a bonded master's auto-connect retry period
};

// Longest command text (without its CR) the adapter accepts; longer ones get ERROR.
constexpr std::size_t kMaxCommandLength = 64;
// Received commands kept per adapter for `received`.
constexpr std::size_t kMaxReceivedLog = 1000;

bool isLegacyFirmware(const std::string& version);
bool supportsRemoteService(const std::string& version);
bool supportsRemoteCod(const std::string& version);
int baudCodeToBps(int code);   // 10..20, 0 for anything else
int bpsToBaudCode(int bps);    // 0 when not an adapter speed
// True when the PC's settings let the adapter understand it.
bool lineSettingsMatch(const LineSettings& adapter, const LineSettings& pc, bool parityVisible);
// The inquiry result line for a device (without framing); its address starts at column 34.
std::string inquiryLine(const std::string& name, const std::string& cod, int rssi,
                        const std::string& address);
// Escapes bytes for one control-answer token: printable ASCII but blank and
// backslash as is, CR \r, LF \n, backslash \\, anything else \xHH.
std::string escapeToken(std::string_view bytes);

class World {
 public:
  explicit World(const WorldOptions& options = {});
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // Attaches the PC side (null detaches). Adapter 1 is plugged at start.
  void setTransport(std::shared_ptr<Transport> transport);

  // Bytes the PC wrote, with the line settings its port ran at that moment.
  void receiveFromPc(const std::string& bytes, const LineSettings& pc, bool parityVisible);

  // The control interface: one command line in, one answer line out
  // ("OK ..." or "ERROR ..."). See sim/README.md for the commands.
  std::string control(std::string_view line);
  // The control commands, one "usage: effect" line each (adapter-sim --help
  // and the console's `help`, which answers them joined on one line).
  static const char* const kControlCommands[];
  static std::string controlHelp(const char* separator);

  // Typed forms of the control commands. n counts from 1.
  bool plug(int n);
  void unplug();
  int plugged() const;  // 0 when nothing is plugged
  int deviceCount() const;
  bool set(int n, const std::string& field, const std::string& value, std::string* error = nullptr);
  bool get(int n, const std::string& field, std::string* value);
  std::vector<std::string> received(int n) const;
  // A remote device (by address, or the first free one when empty) connects to device n.
  bool eventConnect(int n, const std::string& address, std::string* error = nullptr);
  // Device n's peer goes away.
  bool eventDisconnect(int n, std::string* error = nullptr);
  // Device n sends bytes to its peer over the radio link.
  bool sendFrom(int n, const std::string& bytes, std::string* error = nullptr);
  // Noise on the line: count bytes delivered to the PC whatever its settings.
  void garbage(int count);
  std::string address(int n) const;

  struct Device;  // internal

 private:
  using Clock = std::chrono::steady_clock;
  struct Outgoing {
    Clock::time_point at;
    std::string bytes;
    LineSettings settings;
    bool force = false;  // garbage: delivered whatever the PC's settings
    int device = 0;      // index of the emitting adapter
  };

  // All below run with mutex_ held.
  Device* dev(int n);
  const Device* dev(int n) const;
  int indexOf(const Device& d) const;
  Device* findByAddress(const std::string& twelveHex);
  void sendToPc(Device& d, const std::string& bytes);
  void replyOk(Device& d);
  void replyError(Device& d);
  void replyValue(Device& d, const std::string& value);
  void schedule(int delayMs, std::function<void()> fn);
  long long nowMs() const;
  void handlePcByte(Device& d, uint8_t b, long long now);
  void handleDataByte(Device& d, uint8_t b, long long now);
  void execute(Device& d, const std::string& command);
  bool executeSetting(Device& d, const std::string& upper, const std::string& command);
  void startInquiry(Device& d);
  void cancelInquiry(Device& d);
  void attemptConnect(int from, const std::string& twelveHex, bool automatic);
  bool accepts(const Device& target, const Device& initiator) const;
  void connect(Device& a, Device& b);
  void disconnect(Device& d, bool tellSelf);
  void sendOverLink(Device& from, const std::string& bytes);
  void linkReceive(Device& d, const std::string& bytes);
  void remoteAccessByte(Device& d, uint8_t b);
  void answerRemote(Device& d, uint8_t first, uint8_t second);
  void restart(Device& d);
  void autoConnectTick();
  void modemLinesChanged();
  LineSettings lineOf(const Device& d) const;
  bool setField(Device& d, const std::string& field, const std::string& value, std::string* error);
  bool getField(const Device& d, const std::string& field, std::string* value) const;
  std::string listLine() const;

  void run();

  WorldOptions options_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::unique_ptr<Device>> devices_;
  int plugged_ = 1;
  std::shared_ptr<Transport> transport_;
  std::multimap<Clock::time_point, std::function<void()>> timers_;
  std::deque<Outgoing> outbox_;
  Clock::time_point lineFree_{};
  // With pacing: when the PC's bytes received so far have fully crossed the
  // wire; an answer cannot start before the command that caused it is in.
  Clock::time_point inputFree_{};
  Clock::time_point start_;
  bool modemDirty_ = true;
  bool stop_ = false;
  uint32_t noise_ = 0x2545F491u;
  std::thread worker_;
};

}  // namespace kx::sim
