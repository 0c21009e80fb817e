#include "service/echo_server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "util/numbers.h"

namespace hcs::service {
namespace {

constexpr size_t kMaxHeadBytes = 16 * 1024;
constexpr size_t kMaxBodyBytes = 1 << 20;
constexpr int kMaxWorkers = 4;
constexpr int kAcceptBatch = 64;
// Only when even the spare descriptor cannot shed a connection (the system is out of them).
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

std::string answer(std::string_view status, std::string_view body, bool closing = false) {
  return "HTTP/1.1 " + std::string(status) +
         "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
         (closing ? "\r\nConnection: close" : "") + "\r\n\r\n" + std::string(body);
}

const std::string kOk = answer("200 OK", kEchoReply);
const std::string kNotAllowed = answer("405 Method Not Allowed", "");
const std::string kRefused = answer("400 Bad Request", "", true);

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && ::strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// The value of header `name` in `head` (the lines after the request line), blanks around it dropped;
// `found` says whether the header is there at all.
std::string_view headerValue(std::string_view head, std::string_view name, bool& found) {
  found = false;
  for (size_t at = head.find("\r\n"); at != std::string_view::npos && at + 2 < head.size();) {
    const size_t start = at + 2;
    const size_t end = head.find("\r\n", start);
    const std::string_view line = head.substr(start, end - start);
    at = end;
    if (line.size() > name.size() && line[name.size()] == ':' && startsWithNoCase(line, name)) {
      std::string_view value = line.substr(name.size() + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
      found = true;
      return value;
    }
  }
  return {};
}

// The body length a head announces: 0 without Content-Length, false when the value is not a plain
// decimal number of at most kMaxBodyBytes ("10abc", "", "-1", "+5" are refused, not read as numbers).
bool bodyLength(std::string_view head, size_t& length) {
  bool found = false;
  const std::string_view value = headerValue(head, "Content-Length", found);
  length = 0;
  if (!found) return true;
  const StrictNumber number = readStrict(value, {.high = kMaxBodyBytes, .maxDigits = 8});
  length = static_cast<size_t>(number.value);
  return static_cast<bool>(number);
}

enum class Framing { kIncomplete, kRequest, kBad };

struct Frame {
  Framing framing = Framing::kIncomplete;
  size_t bytes = 0;  // of the whole request, head and body
  bool post = false;
  bool closing = false;  // the client asked for the connection to end after this answer
};

// The first request in `data`. `scanned` says how many bytes are known to hold no end of head; it is
// updated for the next call on the same, longer, data.
Frame frame(std::string_view data, size_t& scanned) {
  Frame result;
  const size_t headEnd = data.find("\r\n\r\n", scanned);
  if (headEnd == std::string_view::npos) {
    if (data.size() > kMaxHeadBytes) result.framing = Framing::kBad;
    scanned = data.size() < 3 ? 0 : data.size() - 3;
    return result;
  }
  const std::string_view head = data.substr(0, headEnd + 2);
  size_t body = 0;
  bool chunked = false;
  headerValue(head, "Transfer-Encoding", chunked);
  if (headEnd > kMaxHeadBytes || chunked || !bodyLength(head, body)) {
    result.framing = Framing::kBad;
    return result;
  }
  result.bytes = headEnd + 4 + body;
  if (data.size() < result.bytes) return result;
  result.framing = Framing::kRequest;
  const std::string_view requestLine = head.substr(0, head.find("\r\n"));
  result.post = requestLine.starts_with("POST ");
  bool found = false;
  const std::string_view connection = headerValue(head, "Connection", found);
  result.closing = requestLine.ends_with("HTTP/1.0") || startsWithNoCase(connection, "close");
  return result;
}

bool sendWhole(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    // Non-blocking: a full send buffer means the client does not read its replies.
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// An error of one pending connection only (it is gone); the next may be fine.
bool connectionError(int error) {
  switch (error) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
      return true;
    default:
      return false;
  }
}

}  // namespace

class EchoServer::Worker {
 public:
  Worker(int listener, int stopEvent, Counters& counters)
      : listener_(listener), stopEvent_(stopEvent), counters_(counters) {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) throw std::runtime_error("cannot create an epoll set");
    spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    // Several workers wait on one listener: each new connection wakes one of them.
    if (!watch(listener_, EPOLLIN | EPOLLEXCLUSIVE) || !watch(stopEvent_, EPOLLIN)) {
      close();
      throw std::runtime_error("cannot watch the listening socket");
    }
  }
  ~Worker() { close(); }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void run() {
    epoll_event events[64];
    while (true) {
      const bool waitingForever = accepting_;
      const int n = ::epoll_wait(epoll_, events, 64, acceptPauseLeftMs());
      if (n < 0 && errno != EINTR) return;
      if (n == 0 && waitingForever) counters_.emptyWakeups.fetch_add(1);
      resumeAcceptingWhenDue();
      for (int i = 0; i < n; ++i) {
        const int fd = events[i].data.fd;
        if (fd == stopEvent_) return;
        try {
          if (fd == listener_) {
            acceptAll();
          } else if (!serve(fd)) {
            drop(fd);
          }
        } catch (const std::bad_alloc&) {
          if (fd != listener_) drop(fd);
        }
      }
    }
  }

 private:
  struct Connection {
    std::string pending;  // bytes of a request not yet whole
    size_t scanned = 0;
  };

  bool watch(int fd, uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    return ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0;
  }

  void acceptAll() {
    // A bounded batch, so a flood of connections cannot starve the ones already open.
    for (int i = 0; i < kAcceptBatch; ++i) {
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd >= 0) {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        try {
          // A new connection: nothing of an earlier one that had the same descriptor.
          connections_.insert_or_assign(fd, Connection{});
        } catch (const std::bad_alloc&) {
          ::close(fd);
          continue;
        }
        if (!watch(fd, EPOLLIN)) drop(fd);
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if (connectionError(errno)) continue;
      // Out of descriptors or memory: the listener stays readable, so waiting would only spin. Take
      // the connection with the spare descriptor and close it, so the client hears at once.
      if (!shedOne()) pauseAccepting();
      return;
    }
  }

  bool shedOne() {
    if (spare_ < 0) return false;
    ::close(spare_);
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      counters_.shed.fetch_add(1);
    }
    spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return fd >= 0;
  }

  void pauseAccepting() {
    if (!accepting_) return;
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, listener_, nullptr);
    accepting_ = false;
    resumeAt_ = std::chrono::steady_clock::now() + kAcceptPause;
  }

  int acceptPauseLeftMs() const {
    if (accepting_) return -1;
    const auto left = resumeAt_ - std::chrono::steady_clock::now();
    return static_cast<int>(std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
  }

  void resumeAcceptingWhenDue() {
    if (accepting_ || std::chrono::steady_clock::now() < resumeAt_) return;
    accepting_ = watch(listener_, EPOLLIN | EPOLLEXCLUSIVE);
    if (!accepting_) resumeAt_ = std::chrono::steady_clock::now() + kAcceptPause;
    if (spare_ < 0) spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  }

  // Reads what arrived and answers every whole request in it; false when the connection must end.
  bool serve(int fd) {
    const auto found = connections_.find(fd);
    if (found == connections_.end()) return false;
    Connection& connection = found->second;
    const ssize_t n = ::recv(fd, chunk_, sizeof chunk_, 0);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (n == 0) return false;
    // The usual request comes whole in one read: answered from the read buffer, without a copy.
    std::string_view data(chunk_, static_cast<size_t>(n));
    if (!connection.pending.empty()) {
      connection.pending.append(data);
      data = connection.pending;
    }
    replies_.clear();
    bool keep = true;
    size_t used = 0;
    while (keep) {
      const Frame next = frame(data.substr(used), connection.scanned);
      if (next.framing == Framing::kIncomplete) break;
      if (next.framing == Framing::kBad) {
        replies_ += kRefused;
        keep = false;
        break;
      }
      replies_ += next.post ? kOk : kNotAllowed;
      used += next.bytes;
      connection.scanned = 0;
      keep = !next.closing;
    }
    if (!replies_.empty() && !sendWhole(fd, replies_)) return false;
    if (!keep) return false;
    if (connection.pending.empty()) {
      connection.pending.assign(data.substr(used));
    } else {
      connection.pending.erase(0, used);
    }
    return true;
  }

  void drop(int fd) {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    connections_.erase(fd);
  }

  void close() {
    for (const auto& entry : connections_) ::close(entry.first);
    connections_.clear();
    if (spare_ >= 0) ::close(spare_);
    if (epoll_ >= 0) ::close(epoll_);
    spare_ = epoll_ = -1;
  }

  const int listener_;
  const int stopEvent_;
  Counters& counters_;
  int epoll_ = -1;
  int spare_ = -1;  // held so that a connection can still be accepted (and closed) at the descriptor limit
  bool accepting_ = true;
  std::chrono::steady_clock::time_point resumeAt_;
  std::unordered_map<int, Connection> connections_;
  std::string replies_;
  char chunk_[16 * 1024];
};

EchoServer::EchoServer(int port, int workers) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listener_ < 0) throw std::runtime_error("cannot create a socket");
  const int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t size = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listener_, SOMAXCONN) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(listener_);
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
  }
  port_ = ntohs(address.sin_port);
  stopEvent_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopEvent_ < 0) {
    ::close(listener_);
    throw std::runtime_error("cannot create an event descriptor");
  }
  if (workers <= 0)
    workers = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxWorkers);
  try {
    for (int i = 0; i < workers; ++i)
      workers_.push_back(std::make_unique<Worker>(listener_, stopEvent_, counters_));
  } catch (...) {
    workers_.clear();
    ::close(stopEvent_);
    ::close(listener_);
    throw;
  }
}

EchoServer::~EchoServer() {
  stop();
  workers_.clear();
  ::close(stopEvent_);
  ::close(listener_);
}

void EchoServer::start() {
  if (!threads_.empty()) return;
  for (const auto& worker : workers_) threads_.emplace_back([w = worker.get()] { w->run(); });
}

void EchoServer::stop() {
  if (threads_.empty()) return;
  const uint64_t one = 1;
  // Stays readable, so every worker sees it.
  [[maybe_unused]] const ssize_t written = ::write(stopEvent_, &one, sizeof one);
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

}  // namespace hcs::service
