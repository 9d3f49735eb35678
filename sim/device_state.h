// One simulated device of the radio world: a KX627 adapter (which can be
// plugged into the PC's port) or an extra remote device (which only lives on
// the radio side). Internal to the simulator; guarded by the world's lock.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "sim/world.h"

namespace kx::sim {

struct World::Device {
  bool isAdapter = true;
  std::string address;          // 4-2-6 form, upper case
  std::string version;
  bool oldFirmware = false;
  std::string cod = "001F00";   // class of device shown in inquiry results
  int rssi = -50;
  bool connectable = true;      // remote devices: accept connections
  RemoteAnswer remoteAnswer = RemoteAnswer::Ok;
  std::string refuse;           // a command (upper case, no CR) answered with ERROR
  AdapterSettings s;
  AdapterSettings factory;

  // Command-mode input.
  std::string line;
  bool overflow = false;
  long long lastRxMs = -1000000;
  long long droppedBytes = 0;   // received at line settings the adapter could not understand
  long long bytesIn = 0;        // understood from the PC, and sent to it (benchmarks)
  long long bytesOut = 0;
  std::deque<std::string> received;

  // Link state.
  bool dataMode = false;
  int peer = 0;                 // device number of the peer, 0 = none
  bool connecting = false;
  long long nextAutoMs = 0;
  std::string heldPlus;         // "+" bytes held back while an escape may be coming

  bool inquiring = false;
  uint64_t inquiryGeneration = 0;
  bool inquiryLineSent = false;

  bool restarting = false;
  uint64_t restartGeneration = 0;

  // Remote-access protocol, as the remote end of a link.
  bool remoteAccess = false;
  int handshakeBytes = 0;
  std::string pair;

  // Bytes that reached this device over the radio link (bounded).
  std::string linkData;

  void remember(const std::string& command) {
    if (received.size() >= kMaxReceivedLog) received.pop_front();
    received.push_back(command);
  }
};

}  // namespace kx::sim
