#ifndef _WIN32

#include "transport/socket_platform.h"

#include <sys/socket.h>
#include <unistd.h>

namespace hcs {

int openPrivateSocket(int family, int type, int protocol) {
  const int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
  return fd >= 0 ? fd : -1;
}

int closePrivateSocket(int fd) { return ::close(fd); }

}  // namespace hcs

#endif  // !_WIN32
