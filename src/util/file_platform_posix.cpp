#ifndef _WIN32

#include "util/file_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hcs {

std::FILE* openPrivateFile(const std::string& path, const char* mode) {
  // glibc's "e" opens with O_CLOEXEC, so a fork on another thread cannot catch the file unmarked.
  return std::fopen(path.c_str(), (std::string(mode) + "e").c_str());
}

std::FILE* openRegularFile(const std::string& path, uint64_t maxBytes) {
  // O_NONBLOCK: opening a FIFO without a writer would wait forever, and it stays set so that reading
  // a regular-looking file that never ends (a kernel message queue) fails instead of waiting.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
      static_cast<uint64_t>(info.st_size) > maxBytes) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "r");
  if (file == nullptr) ::close(fd);
  return file;
}

bool readableByOthers(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

}  // namespace hcs

#endif  // !_WIN32
