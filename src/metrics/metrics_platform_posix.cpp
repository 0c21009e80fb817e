#ifndef _WIN32

#include "metrics/metrics_platform.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace hcs {

NewFileResult writeNewFile(const std::string& path, std::string_view text, std::string& failure) {
  // O_EXCL makes the name ours alone: it refuses whatever is there, a dangling link included, and
  // O_NOFOLLOW says the same for a link should the flags ever be loosened.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return NewFileResult::kExists;
    failure = std::strerror(errno);
    return NewFileResult::kFailed;
  }
  const char* data = text.data();
  size_t left = text.size();
  int error = 0;
  while (left > 0 && error == 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n > 0) {
      data += n;
      left -= static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      error = n == 0 ? EIO : errno;
    }
  }
  // On the disk before a rename makes it the file, so a crash cannot leave an empty file in its place.
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  if (error == 0) return NewFileResult::kWritten;
  ::unlink(path.c_str());
  failure = std::strerror(error);
  return NewFileResult::kFailed;
}

}  // namespace hcs

#endif  // !_WIN32
