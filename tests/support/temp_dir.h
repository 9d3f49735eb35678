// A fresh directory under /tmp, removed with everything in it at the end.
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

std::string readFile(const std::string& path);

// Points the start directory at dir and switches the diagnostic log on there.
void startDebugLogIn(const TempDir& dir);

}  // namespace kx::test
