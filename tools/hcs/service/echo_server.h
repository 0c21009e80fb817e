#pragma once

#include <atomic>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

namespace hcs::service {

// The reply every POST gets from the echo service: a score, so the plugin hands it back with 0.
inline constexpr std::string_view kEchoReply = "<SCORE_RESULT><SCORE>1.0000</SCORE></SCORE_RESULT>";

// A keep-alive HTTP/1.1 service on 127.0.0.1 that answers every POST with kEchoReply and does nothing
// else, so a benchmark against it measures the client rather than the service.
//
// A few worker threads, each with an epoll set of its own, serve every connection: no thread per
// connection and no cap on connections beyond the descriptor limit. Requests are framed by
// Content-Length only; a chunked body, a Content-Length that is not a plain number, a head over 16 KiB
// or a body over 1 MiB gets 400 and the connection ends. A request other than POST gets 405. A client
// that stops reading its replies loses its connection. When the process is out of descriptors, a new
// connection is accepted and closed at once (the client sees it end) rather than left waiting.
//
// start() and stop() are for one owning thread; the destructor stops the workers.
class EchoServer {
 public:
  // Listens on 127.0.0.1:`port` (0: a free port). `workers` 0: one per core, at most 4. Throws
  // std::runtime_error when it cannot.
  explicit EchoServer(int port, int workers = 0);
  ~EchoServer();
  EchoServer(const EchoServer&) = delete;
  EchoServer& operator=(const EchoServer&) = delete;

  int port() const { return port_; }
  // Starts the workers and returns; they serve until stop().
  void start();
  // Ends the workers. Connections close when the server is destroyed.
  void stop();

  // Connections accepted and then closed at once for lack of descriptors.
  long shed() const { return counters_.shed.load(); }
  // Waits that came back with nothing to do while connections were being accepted: each one is a
  // turn of a spinning loop, so 0 unless something is wrong.
  long emptyWakeups() const { return counters_.emptyWakeups.load(); }

 private:
  class Worker;
  struct Counters {
    std::atomic<long> shed{0};
    std::atomic<long> emptyWakeups{0};
  };

  int listener_ = -1;
  int stopEvent_ = -1;
  int port_ = 0;
  Counters counters_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::thread> threads_;
};

}  // namespace hcs::service
