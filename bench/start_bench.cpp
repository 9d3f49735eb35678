// How long the window takes to appear: starts the program again and again on
// the X server in $DISPLAY and times each start from fork to the X server's
// MapNotify of the program's first top-level window, as a user sees it.
//
//   kx_bench_start RUNS DIR PROGRAM [ARGS...]
//
// Runs PROGRAM in DIR RUNS times, one at a time, and prints every start and
// the median in seconds. No window manager is needed: the root window's
// substructure events name every top-level window mapped.
#include <signal.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Waits up to `limit` for a top-level window to be mapped; false on time-out.
// The mapped window is left in *window.
bool waitForMap(xcb_connection_t* x, Clock::time_point limit, xcb_window_t* window) {
  const int fd = xcb_get_file_descriptor(x);
  while (Clock::now() < limit) {
    while (xcb_generic_event_t* e = xcb_poll_for_event(x)) {
      const bool mapped = (e->response_type & 0x7f) == XCB_MAP_NOTIFY;
      if (mapped) *window = reinterpret_cast<xcb_map_notify_event_t*>(e)->window;
      std::free(e);
      if (mapped) return true;
    }
    fd_set read;
    FD_ZERO(&read);
    FD_SET(fd, &read);
    timeval tick{0, 1000};
    select(fd + 1, &read, nullptr, nullptr, &tick);
  }
  return false;
}

// The window's title, to show which window was timed.
std::string windowName(xcb_connection_t* x, xcb_window_t window) {
  const auto cookie = xcb_get_property(x, 0, window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 256);
  xcb_get_property_reply_t* reply = xcb_get_property_reply(x, cookie, nullptr);
  if (!reply) return {};
  std::string name(static_cast<const char*>(xcb_get_property_value(reply)),
                   static_cast<std::size_t>(xcb_get_property_value_length(reply)));
  std::free(reply);
  return "\"" + name + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: kx_bench_start RUNS DIR PROGRAM [ARGS...]\n");
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x)) {
    std::fprintf(stderr, "kx_bench_start: no X server in DISPLAY\n");
    return 1;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(x);

  std::vector<double> seconds;
  for (int i = 0; i < runs; ++i) {
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(argv[2]) != 0) _exit(127);
      execv(argv[3], argv + 3);
      _exit(127);
    }
    xcb_window_t window = 0;
    const bool mapped = waitForMap(x, start + std::chrono::seconds(20), &window);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (mapped && i == 0) std::printf("window %s\n", windowName(x, window).c_str());
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    if (!mapped) {
      std::fprintf(stderr, "kx_bench_start: no window within 20 s\n");
      return 1;
    }
    seconds.push_back(s);
    std::printf("start %d: %.3f s\n", i + 1, s);
    // Let the unmap and destroy events of this run pass before the next.
    xcb_window_t ignored = 0;
    waitForMap(x, Clock::now() + std::chrono::milliseconds(200), &ignored);
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("median of %d starts to the first mapped window: %.3f s\n", runs,
              seconds[seconds.size() / 2]);
  xcb_disconnect(x);
  return 0;
}
