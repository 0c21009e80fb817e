#include "support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

namespace hcs::test {
namespace {

// The directories still alive, with the process that made each.
struct LiveDirs {
  std::mutex mutex;
  std::map<std::string, pid_t> made;
};

void removeLeftDirs();

LiveDirs& liveDirs() {
  // Never destroyed: exit() may run the handler after the statics are gone.
  static LiveDirs* dirs = [] {
    auto* created = new LiveDirs;
    std::atexit(removeLeftDirs);
    return created;
  }();
  return *dirs;
}

void removeLeftDirs() {
  LiveDirs& dirs = liveDirs();
  std::lock_guard lock(dirs.mutex);
  for (const auto& [path, pid] : dirs.made) {
    std::error_code ignored;
    if (pid == ::getpid()) std::filesystem::remove_all(path, ignored);
  }
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "hcs-config-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  LiveDirs& dirs = liveDirs();
  std::lock_guard lock(dirs.mutex);
  dirs.made[pattern] = ::getpid();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  LiveDirs& dirs = liveDirs();
  std::lock_guard lock(dirs.mutex);
  dirs.made.erase(path_.string());
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
  const std::string p = file(name);
  std::ofstream(p, std::ios::binary) << content;
  return p;
}

std::string TempDir::read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace hcs::test
