// adapter-sim: simulated KX627 adapters behind a pseudo-terminal. Prints the
// slave's path as its first line, then answers control commands read from
// standard input, one answer line each, until standard input closes.
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "sim/pty_transport.h"
#include "sim/world.h"

namespace {

volatile std::sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

void usage() {
  std::fputs(
      "usage: adapter-sim [options]\n"
      "  --adapters N        simulated adapters (default 1)\n"
      "  --remotes N         extra remote devices in range (default 2)\n"
      "  --baud BPS          adapter 1's speed (default 19200)\n"
      "  --parity none|odd|even\n"
      "  --stop 1|2\n"
      "  --flow on|off\n"
      "  --version TEXT      firmware version (default v6.80)\n"
      "  --echo on|off       --resp on|off\n"
      "  --old-firmware      answer ATI0, fixed at 19200 8N1 with flow control\n"
      "  --latency MS        delay before every answer\n"
      "  --pace              deliver output at the line's wire speed\n"
      "  --restart-ms MS     silence after AT+RESET (default 1500)\n"
      "  --inquiry-ms MS     inquiry length (default 4000)\n"
      "  --connect-ms MS     connection set-up time (default 300)\n"
      "  --guard-ms MS       silence needed before +++ (default 500)\n"
      "  --link PATH         make PATH a symlink to the pseudo-terminal\n"
      "\n"
      "Console commands (typed on standard input, one answer line each, OK or ERROR;\n"
      "devices count from 1: adapters first, then the remote devices):\n",
      stderr);
  for (const char* const* c = kx::sim::World::kControlCommands; *c; ++c) std::fprintf(stderr, "  %s\n", *c);
}

bool onOff(const char* v, bool* out) {
  if (!std::strcmp(v, "on")) return *out = true, true;
  if (!std::strcmp(v, "off")) return *out = false, true;
  return false;
}

bool number(const char* v, int lo, int hi, int* out) {
  char* end = nullptr;
  const long n = std::strtol(v, &end, 10);
  if (!*v || *end || n < lo || n > hi) return false;
  *out = static_cast<int>(n);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  kx::sim::WorldOptions opt;
  std::string link;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = true;
    if (a == "--pace") {
      opt.pace = true;
      continue;
    }
    if (a == "--old-firmware") {
      opt.oldFirmware = true;
      continue;
    }
    if (a == "-h" || a == "--help") {
      usage();
      return 0;
    }
    if (!v) {
      std::fprintf(stderr, "adapter-sim: %s needs a value\n", a.c_str());
      return 2;
    }
    ++i;
    if (a == "--adapters") ok = number(v, 1, 16, &opt.adapters);
    else if (a == "--remotes") ok = number(v, 0, 16, &opt.remotes);
    else if (a == "--baud") ok = number(v, 1, 921600, &opt.baud) && kx::sim::bpsToBaudCode(opt.baud);
    else if (a == "--parity") {
      if (!std::strcmp(v, "none")) opt.parity = kx::Parity::None;
      else if (!std::strcmp(v, "odd")) opt.parity = kx::Parity::Odd;
      else if (!std::strcmp(v, "even")) opt.parity = kx::Parity::Even;
      else ok = false;
    } else if (a == "--stop") ok = number(v, 1, 2, &opt.stopBits);
    else if (a == "--flow") ok = onOff(v, &opt.flow);
    else if (a == "--version") {
      opt.version = v;
      ok = !opt.version.empty() && opt.version.size() < 40;
    } else if (a == "--echo") ok = onOff(v, &opt.echo);
    else if (a == "--resp") ok = onOff(v, &opt.resp);
    else if (a == "--latency") ok = number(v, 0, 60000, &opt.latencyMs);
    else if (a == "--restart-ms") ok = number(v, 0, 60000, &opt.restartMs);
    else if (a == "--inquiry-ms") ok = number(v, 0, 600000, &opt.inquiryMs);
    else if (a == "--connect-ms") ok = number(v, 0, 60000, &opt.connectMs);
    else if (a == "--guard-ms") ok = number(v, 0, 60000, &opt.guardMs);
    else if (a == "--link") link = v;
    else {
      std::fprintf(stderr, "adapter-sim: unknown option %s\n", a.c_str());
      usage();
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "adapter-sim: bad value '%s' for %s\n", v, a.c_str());
      return 2;
    }
  }

  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);

  kx::sim::World world(opt);
  auto pty = std::make_shared<kx::sim::PtyTransport>();
  if (const int err = pty->start(world)) {
    std::fprintf(stderr, "adapter-sim: cannot create a pseudo-terminal: %s\n", std::strerror(err));
    return 1;
  }
  world.setTransport(pty);
  if (!link.empty()) {
    ::unlink(link.c_str());
    if (::symlink(pty->slavePath().c_str(), link.c_str()) != 0) {
      std::fprintf(stderr, "adapter-sim: cannot create link %s: %s\n", link.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }
  std::cout << pty->slavePath() << std::endl;

  std::string pending;
  char buf[4096];
  while (!gStop) {
    struct pollfd p {STDIN_FILENO, POLLIN, 0};
    const int r = ::poll(&p, 1, 200);
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) break;  // standard input closed: done
    pending.append(buf, static_cast<std::size_t>(n));
    if (pending.size() > 65536) pending.erase(0, pending.size() - 65536);
    std::size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      std::cout << world.control(line) << std::endl;
    }
  }
  world.setTransport(nullptr);
  pty->stop();
  if (!link.empty()) ::unlink(link.c_str());
  return 0;
}
