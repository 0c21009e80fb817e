#pragma once

namespace hcs {

// A socket for libcurl that processes the host starts never inherit (close-on-exec from the moment it
// exists, so no fork on another thread can catch it unmarked); -1 when none can be made.
int openPrivateSocket(int family, int type, int protocol);
// Closes a socket openPrivateSocket made; 0 on success, as libcurl's close callback wants.
int closePrivateSocket(int fd);

}  // namespace hcs
