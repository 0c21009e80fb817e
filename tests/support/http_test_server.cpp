#include "support/http_test_server.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hcs::test {
namespace {

// Requests larger than this are refused: a test server has no business buffering more.
constexpr size_t kMaxRequestBytes = 128u * 1024 * 1024;

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

bool sendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Appends what arrives to `buffer`; false on end of stream or error.
bool receiveMore(int fd, std::string& buffer) {
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
    return true;
  }
}

// Reads one request from `fd`, keeping bytes past its end in `buffer`. False when the peer closed
// or sent something unreadable.
bool readRequest(int fd, std::string& buffer, HttpTestRequest& request) {
  size_t headerEnd;
  while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
    if (buffer.size() > kMaxRequestBytes || !receiveMore(fd, buffer)) return false;
  }
  const std::string head = buffer.substr(0, headerEnd);
  buffer.erase(0, headerEnd + 4);
  size_t lineEnd = head.find("\r\n");
  request.requestLine = head.substr(0, lineEnd);
  size_t contentLength = 0;
  while (lineEnd != std::string::npos) {
    const size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string line =
        head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    request.headers.emplace_back(line.substr(0, colon), trim(std::string_view(line).substr(colon + 1)));
    if (equalsNoCase(request.headers.back().first, "Content-Length")) {
      const std::string& v = request.headers.back().second;
      if (std::from_chars(v.data(), v.data() + v.size(), contentLength).ec != std::errc()) return false;
    }
  }
  if (contentLength > kMaxRequestBytes) return false;
  while (buffer.size() < contentLength) {
    if (!receiveMore(fd, buffer)) return false;
  }
  request.body = buffer.substr(0, contentLength);
  buffer.erase(0, contentLength);
  return true;
}

// HTTP/1.1 keeps a connection unless told to close; HTTP/1.0 only when asked to keep it.
bool requestWantsKeepAlive(const HttpTestRequest& request) {
  const std::string connection = request.header("Connection");
  if (request.requestLine.ends_with("HTTP/1.0")) return equalsNoCase(connection, "keep-alive");
  return !equalsNoCase(connection, "close");
}

}  // namespace

std::string HttpTestRequest::header(const std::string& name) const {
  for (const auto& [n, v] : headers) {
    if (equalsNoCase(n, name)) return v;
  }
  return {};
}

bool HttpTestRequest::hasHeader(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& h) { return equalsNoCase(h.first, name); });
}

HttpTestAnswer HttpTestAnswer::ok(std::string body) {
  HttpTestAnswer a;
  a.body = std::move(body);
  return a;
}

HttpTestAnswer HttpTestAnswer::withStatus(int status, std::string reason, std::string body) {
  HttpTestAnswer a;
  a.status = status;
  a.reason = std::move(reason);
  a.body = std::move(body);
  return a;
}

HttpTestAnswer HttpTestAnswer::withFault(Fault fault) {
  HttpTestAnswer a;
  a.fault = fault;
  return a;
}

HttpTestServer::HttpTestServer(bool listening) {
  // Non-blocking so a connection that vanishes between poll and accept cannot stall the accept thread.
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0 || ::pipe2(wakePipe_, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("test server: ") + std::strerror(errno));
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    const std::string why = std::strerror(errno);
    ::close(listenFd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
    throw std::runtime_error("test server: " + why);
  }
  port_ = ntohs(addr.sin_port);
  if (listening) listen();
}

HttpTestServer::~HttpTestServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // Wakes connection threads blocked in recv; their fds stay valid until they close them under the
    // mutex, so this never touches a reused descriptor.
    for (auto& c : connections_) {
      if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
    }
  }
  changed_.notify_all();
  const char wake = 'x';
  (void)!::write(wakePipe_[1], &wake, 1);
  if (acceptThread_.joinable()) acceptThread_.join();
  // No new connection threads can start now; join the rest without the lock (they take it to finish).
  std::vector<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& c : connections) {
    if (c->thread.joinable()) c->thread.join();
  }
  if (listenFd_ >= 0) ::close(listenFd_);
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
}

std::string HttpTestServer::uri(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpTestServer::listen() {
  if (acceptThread_.joinable()) return;
  if (::listen(listenFd_, 128) != 0)
    throw std::runtime_error(std::string("test server: ") + std::strerror(errno));
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

void HttpTestServer::setGreeting(std::string bytes) {
  std::lock_guard lock(mutex_);
  greeting_ = std::move(bytes);
}

void HttpTestServer::closeListener() {
  const char wake = 'x';
  (void)!::write(wakePipe_[1], &wake, 1);
  if (acceptThread_.joinable()) acceptThread_.join();
  ::close(listenFd_);
  listenFd_ = -1;
}

void HttpTestServer::enqueue(const HttpTestAnswer& answer, int times) {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < times; ++i) queue_.push_back(answer);
}

void HttpTestServer::setDefault(const HttpTestAnswer& answer) {
  std::lock_guard lock(mutex_);
  default_ = answer;
}

void HttpTestServer::setHandler(std::function<HttpTestAnswer(const HttpTestRequest&)> handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

void HttpTestServer::setResetBeforeRequest(std::function<bool()> decide) {
  std::lock_guard lock(mutex_);
  resetBeforeRequest_ = std::move(decide);
}

std::vector<HttpTestRequest> HttpTestServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

size_t HttpTestServer::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

uint64_t HttpTestServer::connectionsAccepted() const {
  std::lock_guard lock(mutex_);
  return accepted_;
}

bool HttpTestServer::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void HttpTestServer::acceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    reapFinished();
    if (stopping_ || connections_.size() >= kMaxConnections) {
      ::close(fd);
      continue;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const uint64_t number = ++accepted_;
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* raw = connection.get();
    connections_.push_back(std::move(connection));
    raw->thread = std::thread([this, raw, number] { serve(raw, number); });
  }
}

void HttpTestServer::reapFinished() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->done) {
      (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

bool HttpTestServer::sleepUnlessStopped(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, delay, [&] { return stopping_; });
}

HttpTestAnswer HttpTestServer::nextAnswer(const HttpTestRequest& request) {
  std::function<HttpTestAnswer(const HttpTestRequest&)> handler;
  {
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
      HttpTestAnswer a = std::move(queue_.front());
      queue_.pop_front();
      return a;
    }
    if (!handler_) return default_;
    handler = handler_;
  }
  return handler(request);
}

void HttpTestServer::serve(Connection* connection, uint64_t number) {
  const int fd = connection->fd;
  std::string buffer;
  std::string greeting;
  {
    std::lock_guard lock(mutex_);
    greeting = greeting_;
  }
  if (!greeting.empty()) sendAll(fd, greeting);
  const linger hard{1, 0};  // close() then sends RST instead of FIN
  for (;;) {
    std::function<bool()> resetBeforeRequest;
    {
      std::lock_guard lock(mutex_);
      resetBeforeRequest = resetBeforeRequest_;
    }
    if (resetBeforeRequest) {
      // The first bytes of the next request decide; an idle keep-alive connection is left alone.
      if (buffer.empty() && !receiveMore(fd, buffer)) break;
      if (resetBeforeRequest()) {
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        break;
      }
    }
    HttpTestRequest request;
    request.connection = number;
    if (!readRequest(fd, buffer, request)) break;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    changed_.notify_all();
    const HttpTestAnswer answer = nextAnswer(request);
    if (answer.delay.count() > 0 && !sleepUnlessStopped(answer.delay)) break;

    using Fault = HttpTestAnswer::Fault;
    if (answer.fault == Fault::kResetAfterRequest) {
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      break;
    }
    if (answer.fault == Fault::kCloseWithoutAnswer) break;
    if (answer.fault == Fault::kGarbageStatusLine) {
      sendAll(fd, "GARBAGE\r\n\r\n");
      break;
    }

    const bool closeAfter = answer.close != HttpTestAnswer::Close::kKeepAlive ||
                            !requestWantsKeepAlive(request) || answer.fault == Fault::kTruncatedBody ||
                            answer.streamBytes > 0;
    std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " + answer.reason + "\r\n";
    if (answer.streamBytes == 0) {
      const size_t announced = answer.body.size() + (answer.fault == Fault::kTruncatedBody ? 100 : 0);
      head += "Content-Length: " + std::to_string(announced) + "\r\n";
    }
    head += "Content-Type: text/xml\r\n";
    for (const auto& [n, v] : answer.headers) head += n + ": " + v + "\r\n";
    if (closeAfter && answer.close != HttpTestAnswer::Close::kAfterAnswer) head += "Connection: close\r\n";
    head += "\r\n";
    // One write for head and body: split writes meet delayed ACKs and stall every answer.
    const bool bodyLater = answer.streamBytes > 0 || answer.trickle.count() > 0;
    bool sent = sendAll(fd, bodyLater ? head : head + answer.body);
    if (answer.trickle.count() > 0) {
      for (size_t i = 0; sent && i < answer.body.size(); ++i) {
        sent = sleepUnlessStopped(answer.trickle) && sendAll(fd, std::string_view(answer.body).substr(i, 1));
      }
    }
    if (sent && answer.streamBytes > 0) {
      const std::string filler(64 * 1024, 'x');
      for (size_t left = answer.streamBytes; sent && left > 0;) {
        const size_t n = std::min(left, filler.size());
        sent = sendAll(fd, std::string_view(filler).substr(0, n));
        left -= n;
      }
    }
    if (!sent || closeAfter) break;
  }
  std::lock_guard lock(mutex_);
  ::close(fd);
  connection->fd = -1;
  connection->done = true;
}

}  // namespace hcs::test
