// A fresh directory in the system's temporary directory, removed with
// everything in it at the end.
#pragma once

#include <filesystem>
#include <string>

namespace kx::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The file's text, its line ends read as "\n" (Windows writes CR LF).
std::string readFile(const std::string& path);

// Points the start directory at dir and switches the diagnostic log on there.
void startDebugLogIn(const TempDir& dir);

}  // namespace kx::test
