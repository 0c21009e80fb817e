#include "service/echo_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <stdexcept>
#include <string>
#include <thread>

namespace hcs::service {
namespace {

constexpr size_t kMaxHeadBytes = 16 * 1024;
constexpr size_t kMaxBodyBytes = 1 << 20;
constexpr int kMaxConnections = 64;
constexpr int kIdleSeconds = 10;

std::atomic<int> openConnections{0};

std::string answer(std::string_view status, std::string_view body) {
  return "HTTP/1.1 " + std::string(status) +
         "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         std::string(body);
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

// The value of header `name` in `head` (the lines after the request line), or "" when absent.
std::string_view headerValue(std::string_view head, std::string_view name) {
  for (size_t at = head.find("\r\n"); at != std::string_view::npos && at + 2 < head.size();) {
    const size_t start = at + 2;
    const size_t end = head.find("\r\n", start);
    const std::string_view line = head.substr(start, end - start);
    at = end;
    if (line.size() > name.size() && line[name.size()] == ':' &&
        ::strncasecmp(line.data(), name.data(), name.size()) == 0) {
      std::string_view value = line.substr(name.size() + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      return value;
    }
  }
  return {};
}

// Requests one after the other until the client closes, stays idle too long or sends what cannot be
// framed; a pipelined request already read is answered in turn.
void serveConnection(int fd) {
  static const std::string ok = answer("200 OK", kEchoReply);
  static const std::string notAllowed = answer("405 Method Not Allowed", "");
  static const std::string refused = answer("400 Bad Request", "");
  std::string pending;
  size_t scanned = 0;  // bytes of `pending` known to hold no end of head
  char chunk[16 * 1024];
  while (true) {
    const size_t headEnd = pending.find("\r\n\r\n", scanned);
    size_t need = 0;
    if (headEnd == std::string::npos) {
      if (pending.size() > kMaxHeadBytes) break;
      scanned = pending.size() < 3 ? 0 : pending.size() - 3;
    } else {
      const std::string_view head(pending.data(), headEnd + 2);
      const std::string_view length = headerValue(head, "Content-Length");
      size_t bodyBytes = 0;
      const auto parsed = std::from_chars(length.data(), length.data() + length.size(), bodyBytes);
      if ((!length.empty() && parsed.ec != std::errc()) || bodyBytes > kMaxBodyBytes ||
          !headerValue(head, "Transfer-Encoding").empty()) {
        sendAll(fd, refused);
        break;
      }
      need = headEnd + 4 + bodyBytes;
      if (pending.size() >= need) {
        const std::string_view requestLine = head.substr(0, head.find("\r\n"));
        const bool post = requestLine.starts_with("POST ");
        const std::string_view connection = headerValue(head, "Connection");
        const bool closing = requestLine.ends_with("HTTP/1.0") ||
                             (connection.size() >= 5 && ::strncasecmp(connection.data(), "close", 5) == 0);
        if (!sendAll(fd, post ? ok : notAllowed) || !post || closing) break;
        pending.erase(0, need);
        scanned = 0;
        continue;
      }
    }
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // closed, reset, or idle past the limit
    pending.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  openConnections.fetch_sub(1);
}

}  // namespace

EchoServer::EchoServer(int port) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error("cannot create a socket");
  const int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t size = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener_, 128) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(listener_);
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
  }
  port_ = ntohs(address.sin_port);
}

EchoServer::~EchoServer() { ::close(listener_); }

void EchoServer::run() {
  while (true) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    if (openConnections.load() >= kMaxConnections) {
      ::close(fd);
      continue;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const timeval idle{kIdleSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
    openConnections.fetch_add(1);
    std::thread(serveConnection, fd).detach();
  }
}

}  // namespace hcs::service
