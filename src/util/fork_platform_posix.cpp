#ifndef _WIN32

#include "util/fork_platform.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace hcs {

void installForkHandlers(void (*prepare)(), void (*parent)(), void (*child)()) {
  ::pthread_atfork(prepare, parent, child);
}

void detachSocketDescriptor(int fd) {
  // /dev/null in the socket's place: the number stays open (and close-on-exec) for its owner to close,
  // and anything written to it goes nowhere instead of into the parent's connection.
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return;
  if (null != fd) {
    ::dup3(null, fd, O_CLOEXEC);
    ::close(null);
  }
}

}  // namespace hcs

#endif  // !_WIN32
