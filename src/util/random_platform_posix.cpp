#ifndef _WIN32

#include "util/random_platform.h"

#include <cerrno>

#include <sys/random.h>

namespace hcs {

bool systemRandomBytes(void* out, size_t size) noexcept {
  auto* bytes = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t n = ::getrandom(bytes, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace hcs

#endif  // !_WIN32
