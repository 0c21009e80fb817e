#include "host/temp_directory.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <stdlib.h>

namespace hcs::host {

TempDirectory::TempDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "hcs-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
  path_ = pattern;
}

TempDirectory::~TempDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDirectory::write(const std::string& name, const std::string& content) const {
  const std::string path = file(name);
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

}  // namespace hcs::host
