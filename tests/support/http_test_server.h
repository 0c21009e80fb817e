#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace hcs::test {

// One request as the server read it off the wire.
struct HttpTestRequest {
  std::string requestLine;                                   // "POST /x HTTP/1.1", no line end
  std::vector<std::pair<std::string, std::string>> headers;  // in order, names as sent
  std::string body;
  uint64_t connection = 0;  // 1-based number of the accepted connection that carried it

  // The first header of that name (case-insensitive), "" when absent.
  std::string header(const std::string& name) const;
  bool hasHeader(const std::string& name) const;
};

// What the server does with one request. Plain data; the helpers below build the common cases.
struct HttpTestAnswer {
  enum class Fault {
    kNone,
    kResetAfterRequest,   // read the request, then RST the connection (SO_LINGER 0) without answering
    kGarbageStatusLine,   // answer with a line that is no HTTP status line, then close
    kTruncatedBody,       // announce Content-Length larger than the body sent, then close
    kCloseWithoutAnswer,  // read the request, then close cleanly without answering
  };
  enum class Close {
    kKeepAlive,        // keep the connection open (unless the request asked otherwise)
    kAfterAnswer,      // close after answering, without saying so
    kAfterAnswerSaid,  // close after answering, with "Connection: close"
  };

  int status = 200;
  std::string reason = "OK";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // extra response headers
  std::chrono::milliseconds delay{0};                        // wait before answering
  Close close = Close::kKeepAlive;
  Fault fault = Fault::kNone;
  // When non-zero: send this many filler bytes as a body without Content-Length and close, instead of
  // `body`. For replies too large to build in memory.
  size_t streamBytes = 0;
  // When non-zero: after the head, `body` goes out one byte per interval, so the whole answer takes
  // body.size() intervals however long the client is willing to wait for it.
  std::chrono::milliseconds trickle{0};

  static HttpTestAnswer ok(std::string body);
  static HttpTestAnswer withStatus(int status, std::string reason, std::string body);
  static HttpTestAnswer withFault(Fault fault);
};

// A loopback HTTP/1.1 server for tests: listens on 127.0.0.1 on an ephemeral port, serves each
// accepted connection on its own thread (at most `kMaxConnections` open at once; further ones are
// closed at once), keeps connections alive by default, records every request and counts connections.
//
// Request bodies are read by Content-Length only (no chunked uploads).
//
// Answers come, in this order, from the queue filled by `enqueue` (one entry per request), from the
// handler when one is set, and otherwise from the default answer (200 "OK", empty body).
//
// Every member function is safe to call from any thread while the server runs. The destructor stops
// accepting, aborts open connections and delayed answers, and joins every thread: nothing outlives it.
class HttpTestServer {
 public:
  static constexpr size_t kMaxConnections = 64;

  // With `listening` false the port is bound but refuses connections until `listen()` is called.
  explicit HttpTestServer(bool listening = true);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string uri(const std::string& path = "/") const;
  void listen();
  // Stops accepting for good: the port refuses new connections; open ones go on being served.
  void closeListener();

  // Queues `answer` for the next `times` requests, after whatever is queued already.
  void enqueue(const HttpTestAnswer& answer, int times = 1);
  void setDefault(const HttpTestAnswer& answer);
  void setHandler(std::function<HttpTestAnswer(const HttpTestRequest&)> handler);
  // Asked as each request starts to arrive, before it is read: when it returns true the connection is
  // reset (RST) and the request is neither answered nor recorded. May run on many threads at once.
  void setResetBeforeRequest(std::function<bool()> decide);
  // Sent on every new connection as soon as it is accepted, before anything is read: a plain service
  // answering whatever a client says first (a TLS ClientHello included). Empty: nothing.
  void setGreeting(std::string bytes);

  std::vector<HttpTestRequest> requests() const;
  size_t requestCount() const;
  uint64_t connectionsAccepted() const;
  // Waits until `count` requests arrived or `timeout` passed; whether they did.
  bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;

 private:
  struct Connection {
    int fd = -1;
    std::thread thread;
    bool done = false;
  };

  void acceptLoop();
  void serve(Connection* connection, uint64_t number);
  HttpTestAnswer nextAnswer(const HttpTestRequest& request);
  void reapFinished();  // joins connection threads that ended; called with mutex_ held
  bool sleepUnlessStopped(std::chrono::milliseconds delay);

  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::thread acceptThread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::deque<HttpTestAnswer> queue_;
  HttpTestAnswer default_;
  std::function<HttpTestAnswer(const HttpTestRequest&)> handler_;
  std::function<bool()> resetBeforeRequest_;
  std::string greeting_;
  std::vector<HttpTestRequest> requests_;
  uint64_t accepted_ = 0;
  std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace hcs::test
