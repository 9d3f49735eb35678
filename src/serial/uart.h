// The serial link: opens the port named in uart.comPort with the line
// settings of the `uart` record, runs the read thread and the modem-status
// thread while it is open, writes bytes, changes line settings on the fly,
// drives DTR and RTS, and closes.
//
// Threading contract:
// - UartInit and UartDeinit are called by one thread at a time (the
//   user-interface thread or the initialisation worker), never by a link
//   thread. UartDeinit joins both link threads before the port is closed.
// - UartWrite, UartChangeSettings and UartApplySettings may be called from any
//   non-link thread while the link is open; writes never interleave.
// - The read thread is the only thread that reads the port. It hands every
//   received chunk to the receive handler, one chunk at a time and in order,
//   a chunk already waiting at open included. The handler must not wait for
//   the user-interface thread.
// - No thread ever waits for a link thread, or for a lock a link thread holds
//   across a wait, except UartDeinit's join, which is bounded by one cycle:
//   both threads are woken from their waits when the link closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/hook.h"
#include "common/records.h"

namespace kx {

constexpr std::size_t kReadBufferSize = 200;
constexpr int kReadChunkMs = 200;       // a read completes after this, possibly empty
constexpr int kLinkCycleMs = 100;       // both link threads check isUartActive this often
constexpr int kSettleMs = 600;          // UartChangeSettings' settle time
constexpr int kWriteTimeoutMs = 750;

// Where every received chunk goes (the command engine's receive dispatcher).
// Empty chunks arrive too, about every 200 ms while nothing is received.
extern Hook<void(const uint8_t* data, uint32_t length)> receiveHandler;

int32_t UartInit();
// The errno that kept the last UartInit from opening the port (4) or from
// setting its line settings (5); 0 when the port opened.
int UartLastOpenError();
int32_t UartApplySettings();   // nonzero when the port took the settings
int32_t UartChangeSettings();  // 0 applied (after the settle time), 1 refused
int32_t UartWrite(const void* buffer, uint32_t length);  // 0 written, 1 failed
int32_t UartPurge();           // drops input and output queued on the port; 0 or 1
// Starts the next read: from another thread it signals the read thread, which
// starts reception; on the read thread its own loop goes on. 2 (pending), or 1
// when the link is not open.
int32_t UartReadData();
int32_t uartReadCallback(int32_t type, uint32_t* count);
int32_t UartDeinit();          // always 0

// DTR and RTS: 0 on success, otherwise the platform's error code (an errno;
// EBADF while no port is open). A failure is also logged.
int32_t UartRaiseDtr();
int32_t UartLowerDtr();
int32_t UartRaiseRts();
int32_t UartLowerRts();

// True once the open port has reported that the device went away (reads end
// with a hang-up, or a write fails with EIO, ENXIO or ENODEV); cleared by the
// next UartInit. The first such report of an open posts NOTIFY_DEVICE_LOST
// with deviceLostText(port) to the main window.
bool UartDeviceLost();
std::string deviceLostText(const std::string& port);

// The two link threads' bodies; started by UartInit.
void tReadThread();
void tMStatusThread();

}  // namespace kx
