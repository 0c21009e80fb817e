#pragma once

#include <string>

namespace hcs::host {

// A temporary directory, readable by its owner alone, removed with its contents on destruction.
class TempDirectory {
 public:
  // Throws std::runtime_error when no directory can be made.
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  // The path of `name` inside the directory.
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Writes `content` to `name` inside the directory and returns its path.
  std::string write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

}  // namespace hcs::host
