#pragma once

#include <string_view>

namespace hcs::service {

// The reply every POST gets from the echo service: a score, so the plugin hands it back with 0.
inline constexpr std::string_view kEchoReply = "<SCORE_RESULT><SCORE>1.0000</SCORE></SCORE_RESULT>";

// A keep-alive HTTP/1.1 service on 127.0.0.1 that answers every POST with kEchoReply and does nothing
// else, so a benchmark against it measures the client rather than the service. One blocking thread
// per connection (a read and a write per request, no event loop in between), at most 64 connections
// at once; a connection idle for 10 s, a request head over 16 KiB, a body over 1 MiB or a chunked body
// ends its connection.
class EchoServer {
 public:
  // Listens on 127.0.0.1:`port` (0: a free port). Throws std::runtime_error when it cannot.
  explicit EchoServer(int port);
  ~EchoServer();
  EchoServer(const EchoServer&) = delete;
  EchoServer& operator=(const EchoServer&) = delete;

  int port() const { return port_; }
  // Accepts connections until the process ends.
  [[noreturn]] void run();

 private:
  int listener_ = -1;
  int port_ = 0;
};

}  // namespace hcs::service
