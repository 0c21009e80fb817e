#include "bench/floor_client.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <stdexcept>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <unistd.h>

#include "util/numbers.h"

namespace hcs::bench {
namespace {

constexpr size_t kReplyBuffer = 64 * 1024;

// The value of the field `name` ("\r\nname:", lower case) in a reply head (the lines after the status
// line), without leading blanks; empty when absent.
std::string_view fieldValue(std::string_view head, std::string_view name) {
  for (size_t at = head.find("\r\n"); at != std::string_view::npos; at = head.find("\r\n", at + 2)) {
    if (head.size() - at < name.size() || ::strncasecmp(head.data() + at, name.data(), name.size()) != 0)
      continue;
    std::string_view value = head.substr(at + name.size());
    value = value.substr(0, value.find('\r'));
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    return value;
  }
  return {};
}

// The Content-Length of a reply head, -1 when absent or not a number.
long contentLength(std::string_view head) {
  const std::string_view value = fieldValue(head, "\r\ncontent-length:");
  // "-0" reads as 0; any other sign is no length.
  const StrictNumber length = readStrict(value, {.high = LONG_MAX, .minus = true});
  return length ? length.value : -1;
}

// Whether the service closes the connection after this reply.
bool closesAfter(std::string_view head) {
  const std::string_view value = fieldValue(head, "\r\nconnection:");
  return value.size() == 5 && ::strncasecmp(value.data(), "close", 5) == 0;
}

}  // namespace

bool parseHttpTarget(std::string_view url, HttpTarget& out) {
  static constexpr std::string_view kScheme = "http://";
  if (url.size() < kScheme.size() || ::strncasecmp(url.data(), kScheme.data(), kScheme.size()) != 0)
    return false;
  url.remove_prefix(kScheme.size());
  const size_t slash = url.find('/');
  const std::string_view authority = url.substr(0, slash);
  out.target = slash == std::string_view::npos ? "/" : std::string(url.substr(slash));
  const size_t colon = authority.find(':');
  out.host = std::string(authority.substr(0, colon));
  if (out.host.empty() || out.host.find_first_of("@[] ") != std::string::npos) return false;
  out.port = 80;
  if (colon == std::string_view::npos) return true;
  const StrictNumber port = readStrict(authority.substr(colon + 1), {.low = 1, .high = 65535});
  if (!port) return false;
  out.port = static_cast<int>(port.value);
  return true;
}

FloorClient::FloorClient(const HttpTarget& target) : reply_(kReplyBuffer) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(target.port);
  if (::getaddrinfo(target.host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr)
    throw std::runtime_error("cannot resolve " + target.host);
  std::memcpy(&address_, found->ai_addr, found->ai_addrlen);
  addressSize_ = found->ai_addrlen;
  ::freeaddrinfo(found);
  headStart_ = "POST " + target.target + " HTTP/1.1\r\nHost: " + target.host + ":" + port +
               "\r\nContent-Type: text/xml; charset=UTF-8\r\nContent-Length: ";
}

FloorClient::~FloorClient() { disconnect(); }

bool FloorClient::post(std::string_view body) {
  if (fd_ < 0 && !connect()) return false;
  closing_ = false;
  const bool ok = exchange(body);
  if (!ok || closing_) disconnect();
  return ok;
}

bool FloorClient::connect() {
  fd_ = ::socket(address_.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  const int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // The plugin's default waits, so a service that stops answering fails a call instead of holding the
  // benchmark; on Linux the send wait bounds connect too.
  const timeval wait{10, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address_), addressSize_) == 0) return true;
  disconnect();
  return false;
}

void FloorClient::disconnect() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool FloorClient::exchange(std::string_view body) {
  char digits[24];
  const auto length = std::to_chars(digits, digits + sizeof digits, body.size());
  request_.assign(headStart_);
  request_.append(digits, length.ptr).append("\r\n\r\n").append(body);
  for (std::string_view out(request_); !out.empty();) {
    const ssize_t n = ::send(fd_, out.data(), out.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out.remove_prefix(static_cast<size_t>(n));
  }
  size_t received = 0;
  size_t whole = 0;  // the reply's size once its head is read
  while (whole == 0 || received < whole) {
    if (received == reply_.size()) return false;  // more than the benchmark's replies ever are
    const ssize_t n = ::recv(fd_, reply_.data() + received, reply_.size() - received, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    received += static_cast<size_t>(n);
    if (whole != 0) continue;
    const std::string_view text(reply_.data(), received);
    const size_t headEnd = text.find("\r\n\r\n");
    if (headEnd == std::string_view::npos) continue;
    const long bodyBytes = contentLength(text.substr(0, headEnd + 2));
    if (bodyBytes < 0 || !text.starts_with("HTTP/1.1 200 ")) return false;
    closing_ = closesAfter(text.substr(0, headEnd + 2));
    whole = headEnd + 4 + static_cast<size_t>(bodyBytes);
  }
  return received == whole;
}

}  // namespace hcs::bench
