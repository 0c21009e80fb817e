#pragma once

#include <filesystem>
#include <string>

namespace hcs::test {

// A fresh directory per test, removed with everything in it when the test ends, or when the process that
// made it ends with exit() (a death-test child does, running no destructor of the body it ran). A
// process never removes another's directories, so a forked child that exits leaves its parent's alone.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string file(const std::string& name) const { return (path_ / name).string(); }

  std::string write(const std::string& name, const std::string& content) const;

  static std::string read(const std::string& path);

 private:
  std::filesystem::path path_;
};

}  // namespace hcs::test
