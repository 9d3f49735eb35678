#include "support/temp_dir.h"

#include <fstream>
#include <random>
#include <sstream>

#include "common/debug_log.h"

namespace kx::test {

TempDir::TempDir() {
  std::random_device random;
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    std::ostringstream name;
    name << "kx-test-" << std::hex << random();
    const std::filesystem::path dir = base / name.str();
    if (std::filesystem::create_directory(dir, ec)) path_ = dir.string();
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);  // text: Windows' CR LF line ends read as LF
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
