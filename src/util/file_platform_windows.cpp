#ifdef _WIN32

#include "util/file_platform.h"

#include <sys/stat.h>
#include <sys/types.h>

namespace hcs {

// The C runtime's "N": the handle is not inherited by child processes.
std::FILE* openPrivateFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), (std::string(mode) + "N").c_str());
}

std::FILE* openRegularFile(const std::string& path, uint64_t maxBytes) {
  struct _stat64 info {};
  if (::_stat64(path.c_str(), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG || info.st_size < 0 ||
      static_cast<uint64_t>(info.st_size) > maxBytes) {
    return nullptr;
  }
  return std::fopen(path.c_str(), "rN");
}

bool readableByOthers(const std::string&) { return false; }

}  // namespace hcs

#endif  // _WIN32
