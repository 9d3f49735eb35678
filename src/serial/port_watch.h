// Tells when serial ports appear or vanish, through udev's device monitor
// (the tty subsystem). Where udev cannot be watched (no libudev at build
// time, no netlink socket in a container) watching() is false and the
// caller falls back to enumerating when the user opens the port list.
//
// The monitor is a file descriptor that becomes readable when events wait:
// an event loop watches it, so following the ports costs nothing while
// nothing is plugged.
//
// On Windows the system tells windows instead: every top-level window gets
// WM_DEVICECHANGE when a port arrives or is removed, and the window passes
// each native message to isPortChangeMessage(); watching() is false there.
//
// Threading: one thread owns a PortWatch.
#pragma once

#include <memory>
#include <string_view>

namespace kx {

class PortWatch {
 public:
  PortWatch();
  ~PortWatch();
  PortWatch(const PortWatch&) = delete;
  PortWatch& operator=(const PortWatch&) = delete;

  bool watching() const;
  // Readable while events wait; -1 when not watching.
  int fd() const;
  // Takes every waiting event without blocking; true when a tty device was
  // added or removed among them, or events may have been lost.
  bool takeEvents();

  // True when a native window message tells that a serial port came or
  // went (Windows: "windows_generic_MSG" carrying WM_DEVICECHANGE with a
  // port's arrival or removal); false for every other message and on
  // systems that do not tell through messages.
  static bool isPortChangeMessage(std::string_view eventType, const void* message);

 private:
  struct Monitor;
  std::unique_ptr<Monitor> monitor_;
};

}  // namespace kx
