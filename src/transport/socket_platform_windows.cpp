#ifdef _WIN32

#include "transport/socket_platform.h"

#include <winsock2.h>

namespace hcs {

int openPrivateSocket(int family, int type, int protocol) {
  const SOCKET s =
      ::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

int closePrivateSocket(int fd) { return ::closesocket(static_cast<SOCKET>(fd)); }

}  // namespace hcs

#endif  // _WIN32
