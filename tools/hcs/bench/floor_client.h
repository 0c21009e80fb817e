#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <sys/socket.h>

namespace hcs::bench {

// Where a benchmark client posts, from "http://host[:port][/target]".
struct HttpTarget {
  std::string host;
  int port = 80;
  std::string target = "/";
};

// False when `url` is not of that form (no https, no user information, no IPv6 literal).
bool parseHttpTarget(std::string_view url, HttpTarget& out);

// The floor: a keep-alive HTTP/1.1 client on one blocking socket, one send per request and recv until
// the reply is whole, nothing else. It exists only in the benchmark, to show what the kernel's side of
// an exchange costs; it reads only what it needs of a reply (the status code and Content-Length) and
// takes no chunked replies. It posts the same head fields libcurl sends for the plugin. It waits as the
// plugin does by default: 10 s to connect, to send, and for each read of the reply.
//
// One thread at a time. Buffers are kept between posts, so a post of a body no larger than the last
// allocates nothing.
class FloorClient {
 public:
  // Resolves the host; throws std::runtime_error when it cannot. Connects on the first post.
  explicit FloorClient(const HttpTarget& target);
  ~FloorClient();
  FloorClient(const FloorClient&) = delete;
  FloorClient& operator=(const FloorClient&) = delete;

  // One exchange: true when a whole 200 reply came back. After a failure, or a reply saying
  // "Connection: close", the connection is closed and the next post makes a new one.
  bool post(std::string_view body);

 private:
  bool connect();
  bool exchange(std::string_view body);
  void disconnect();

  sockaddr_storage address_{};
  socklen_t addressSize_ = 0;
  std::string headStart_;  // the head up to the Content-Length value
  std::string request_;
  std::vector<char> reply_;
  int fd_ = -1;
  bool closing_ = false;  // the last reply said the service closes the connection
};

}  // namespace hcs::bench
