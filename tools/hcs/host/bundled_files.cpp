#include "host/bundled_files.h"

#include <filesystem>
#include <initializer_list>
#include <system_error>

namespace hcs::host {
namespace {

namespace fs = std::filesystem;

// The real folder of this executable, symbolic links resolved; empty when the system cannot say.
fs::path executableDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

std::vector<std::string> candidates(std::initializer_list<fs::path> relatives) {
  const fs::path dir = executableDir();
  std::vector<std::string> paths;
  if (dir.empty()) return paths;
  for (const fs::path& relative : relatives) paths.push_back((dir / relative).lexically_normal().string());
  return paths;
}

std::string firstExisting(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) return path;
  }
  return {};
}

}  // namespace

std::vector<std::string> bundledPluginCandidates() {
  return candidates({HCS_INSTALLED_PLUGIN, HCS_BUILT_PLUGIN});
}

std::string bundledPlugin() { return firstExisting(bundledPluginCandidates()); }

std::string bundledExample(std::string_view name) {
  return firstExisting(
      candidates({fs::path(HCS_INSTALLED_EXAMPLES) / name, fs::path(HCS_SOURCE_EXAMPLES) / name}));
}

}  // namespace hcs::host
