#include "window_driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "support/cli_process.h"

namespace kx::test {

namespace {

CliResult xdotool(std::vector<std::string> args) {
  return runProgram("/usr/bin/xdotool", std::move(args), 60000);
}

}  // namespace

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

void readTheAdapterInTheWindow(SimProcess& sim) {
  const CliResult found = xdotool({"search", "--sync", "--onlyvisible", "--name", "^KX627 Configuration Tool$"});
  ASSERT_EQ(found.code, 0) << found.err;
  const std::string id = found.out.substr(0, found.out.find('\n'));
  const CliResult geometry = xdotool({"getwindowgeometry", "--shell", id});
  // Read Settings sits at 371 x 52 dialog units of the 435 x 347 window,
  // below a menu bar of about 20 pixels.
  int width = 0, height = 0;
  std::sscanf(geometry.out.c_str() + geometry.out.find("WIDTH="), "WIDTH=%d\nHEIGHT=%d", &width, &height);
  ASSERT_GT(width, 0) << geometry.out;
  const int x = width * 371 / 435;
  const int y = 20 + (height - 20) * 52 / 347;
  const CliResult click = xdotool({"mousemove", "--window", id, std::to_string(x), std::to_string(y), "click", "1"});
  ASSERT_EQ(click.code, 0) << click.err;

  // The read ends with the remote class of device; the search comes first.
  bool read = false;
  for (int i = 0; i < 1800 && !read; ++i) {
    read = sim.control("received 1").find("AT+RCOD?") != std::string::npos;
    if (!read) ::usleep(100 * 1000);
  }
  ASSERT_TRUE(read) << "the window did not read the adapter";
}

void closeTheWindow() {
  const CliResult close = xdotool({"key", "--clearmodifiers", "alt+F4"});
  EXPECT_EQ(close.code, 0) << close.err;
}

}  // namespace kx::test
