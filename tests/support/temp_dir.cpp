#include "support/temp_dir.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "common/debug_log.h"

namespace kx::test {

TempDir::TempDir() {
  char tmpl[] = "/tmp/kx-test-XXXXXX";
  if (char* p = ::mkdtemp(tmpl)) path_ = p;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void startDebugLogIn(const TempDir& dir) {
  closeDebugLog();
  startupDirectory = dir.path();
  toggleDebug(false);
}

}  // namespace kx::test
