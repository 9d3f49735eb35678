// The session every adapter command of kx627-cli runs in: the core's engine
// and hooks installed on the program's main thread, as the window's
// user-interface thread would have them, the local device page and the other
// pages kept in memory, and the steps the commands share (find the adapter,
// read it, wait for a status line). Each family of commands has its own file:
// reading and programming (program_commands.cpp), the radio link
// (radio_commands.cpp).
//
// Threading: a Session lives on the main thread; one at a time, since the
// core's records and hooks are the process's own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "cli/cli_app.h"
#include "cli/cli_options.h"
#include "cli/terminal_window.h"
#include "platform/memory_form.h"
#include "production/unit_log.h"
#include "production/unit_values.h"

namespace kx::cli {

// The unit log and the per-unit values, as every command that programs units
// uses them.
using namespace kx::production;

// What the current run did, for --report.
extern RunReport gReport;

// The last answer applied through the engine's hook (timer-driven commands),
// as the adapter sent it; guarded by gAnswerMutex.
extern std::mutex gAnswerMutex;
extern std::string gTimerAnswer;
extern bool gTimerAnswered;

const char* parityName(int32_t parity);
const char* onOff(int32_t v);

// The local device page's serial controls, as a user would set them.
void setUpLocalPage(MemoryForm& page, int32_t baud, int32_t parity, int32_t stopBits,
                    int32_t flow, const std::string& port);

// What apply and the station program each unit with, and the log they
// keep of it.
struct Production {
  UnitTemplate values;
  UnitLog* log = nullptr;  // null without --log-db
  std::string station, operatorName;
  // A station's port: set by "stop" on its input (or Ctrl-C), to stop once
  // the unit being programmed is done (null elsewhere).
  const std::atomic<bool>* stopAfterUnit = nullptr;
};

class Session {
 public:
  Session(const Options& o, TerminalWindow& w, std::FILE* out, const std::atomic<bool>& cancel,
          const Production* production = nullptr);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  int run();

 private:
  void notified(const TerminalWindow::Notification& n);

  // Read Settings as the page's button does it, waiting for the worker.
  int connect();
  bool readAll();
  int connectAndRead();

  // Reading and programming (program_commands.cpp).
  int find();
  int read();
  int apply();
  // Programs the adapter just read with its unit's values, reads it back to
  // verify them and logs the unit; fills gReport. The exit code.
  int programUnit();
  // Writes the unit's row to the unit log (none without one, or in a dry
  // run) with the result word (empty: the exit code's) and the reason (empty:
  // the result word); fills gReport's result and reason. `code`, or
  // kExitFileError when the row could not be written.
  int logUnit(UnitRecord& record, int code, const std::string& result,
              const std::string& reason);
  // A unit record with what every row of this run shares.
  UnitRecord unitRecord(const std::string& address) const;
  // The station's loop on one port (station.cpp), its events as JSON lines
  // on standard output.
  int station();
  friend class StationFixture;
  int send();
  int reset();
  // The radio link (radio_commands.cpp).
  int pairing(bool pairNow);
  int inquire();
  int connectTo();
  int disconnect();
  int remoteConfigure();

  // Processes posts until `done` holds; false when timeoutMs passed first,
  // Ctrl-C was pressed or the adapter went away.
  bool waitUntil(const std::function<bool()>& done, int timeoutMs);
  // The adapter's port reported that the device went away.
  bool adapterGone() const;
  // The exit code for a command that ended early: Ctrl-C, the adapter gone,
  // or `otherwise`.
  int endedEarly(int otherwise) const;

  const Options& o_;
  TerminalWindow& w_;
  std::FILE* out_;
  const std::atomic<bool>& cancel_;
  const Production* production_;
  MemoryForm page_;
  MemoryForm pairPage_;
  // The Connection page and the main window's page buttons, which the
  // inquiry timer's end unlocks; nobody shows them here.
  MemoryForm connectionPage_;
  MemoryForm mainControls_;
  MemoryForm remotePage_;
  long long searchStartedMs_ = 0;
  // When the unit being programmed first answered (its row's seconds).
  long long unitStartedMs_ = 0;
  // A station's fixture: told each step of the unit's programming.
  std::function<void(const std::string& step)> unitStep_;
};

}  // namespace kx::cli
