#include "serial/port_watch.h"

#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "common/debug_log.h"

#if KX_HAVE_LIBUDEV
#include <libudev.h>
#endif

namespace kx {

#if KX_HAVE_LIBUDEV

struct PortWatch::Monitor {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  ~Monitor() {
    if (monitor) udev_monitor_unref(monitor);
    if (context) udev_unref(context);
  }
};

PortWatch::PortWatch() {
  auto m = std::make_unique<Monitor>();
  m->context = udev_new();
  if (!m->context) {
    debugLog("UI: udev is not available; the port list is read again when it is opened");
    return;
  }
  // Events from the udev daemon come after its rules have run (the node's
  // group and mode are set). Without the daemon (containers), the kernel's
  // own events are the only ones there are.
  const bool daemon = ::access("/run/udev/control", F_OK) == 0;
  m->monitor = udev_monitor_new_from_netlink(m->context, daemon ? "udev" : "kernel");
  if (!m->monitor || udev_monitor_filter_add_match_subsystem_devtype(m->monitor, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(m->monitor) < 0) {
    debugLog("UI: cannot watch udev for serial ports (error %d); the port list is read again "
             "when it is opened", errno);
    return;
  }
  debugLog("UI: following serial ports through udev (%s events)", daemon ? "udev" : "kernel");
  monitor_ = std::move(m);
}

PortWatch::~PortWatch() = default;

bool PortWatch::watching() const { return monitor_ != nullptr; }

int PortWatch::fd() const { return monitor_ ? udev_monitor_get_fd(monitor_->monitor) : -1; }

bool PortWatch::takeEvents() {
  if (!monitor_) return false;
  bool changed = false;
  // The monitor's socket is non-blocking: receive returns null once empty
  // (EAGAIN). Any other failure may mean events were lost (the socket's
  // buffer overflowed): the caller should look at the ports again.
  for (;;) {
    errno = 0;
    udev_device* device = udev_monitor_receive_device(monitor_->monitor);
    if (!device) {
      if (errno != 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        debugLog("UI: udev monitor error %d; reading the ports again", errno);
        changed = true;
      }
      break;
    }
    const char* action = udev_device_get_action(device);
    const char* node = udev_device_get_devnode(device);
    const std::string_view a = action ? action : "";
    if (a == "add" || a == "remove") {
      debugLog("UI: udev %s %s", action, node ? node : "(no device node)");
      changed = true;
    }
    udev_device_unref(device);
  }
  return changed;
}

#else  // no libudev at build time

struct PortWatch::Monitor {};
PortWatch::PortWatch() {
  debugLog("UI: built without libudev; the port list is read again when it is opened");
}
PortWatch::~PortWatch() = default;
bool PortWatch::watching() const { return false; }
int PortWatch::fd() const { return -1; }
bool PortWatch::takeEvents() { return false; }

#endif

// udev's monitor tells here, not window messages.
bool PortWatch::isPortChangeMessage(std::string_view, const void*) { return false; }

}  // namespace kx
