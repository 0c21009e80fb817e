// The echo service hcs bench measures against: how it frames requests, how many connections it takes,
// and what it does when the process runs out of descriptors.
#include "service/echo_server.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace hcs {
namespace {

using service::EchoServer;

constexpr char kPost[] = "POST /score HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello";

// A client connection to the echo service on loopback. Every wait is bounded (5 s), so a service that
// never answers fails the test instead of hanging it.
class Client {
 public:
  Client() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
  ~Client() { ::close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connect(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  void send(std::string_view data) {
    ASSERT_EQ(::send(fd_, data.data(), data.size(), MSG_NOSIGNAL), ssize_t(data.size()));
  }

  // The status code of the next reply; "closed" when the connection ends first, "timeout" when
  // nothing comes.
  std::string reply() {
    while (true) {
      const size_t headEnd = buffer_.find("\r\n\r\n");
      if (headEnd != std::string::npos) {
        const size_t length = buffer_.find("Content-Length: ");
        const size_t body = length < headEnd ? std::stoul(buffer_.substr(length + 16)) : 0;
        if (buffer_.size() >= headEnd + 4 + body) {
          const std::string status = buffer_.substr(9, 3);
          buffer_.erase(0, headEnd + 4 + body);
          return status;
        }
      }
      pollfd ready{fd_, POLLIN, 0};
      if (::poll(&ready, 1, 5000) != 1) return "timeout";
      char chunk[4096];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return "closed";
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

  // The status of a second POST on the connection, "closed" when the connection ended.
  std::string stillServed() {
    ::send(fd_, kPost, sizeof kPost - 1, MSG_NOSIGNAL);
    return reply();
  }

 private:
  int fd_;
  std::string buffer_;
};

class EchoServerThreads : public ::testing::Test {
 protected:
  EchoServerThreads() { server_.start(); }
  EchoServer server_{0, 1};
};

// Each request, sent in the parts "|" separates, gets the reply's status; then the connection is
// either kept (a second POST is answered with 200) or closed.
struct FramingCase {
  std::string request;
  std::string expected;  // "<status>|200" or "<status>|closed"
};

class EchoServerFramingThreads : public EchoServerThreads,
                                 public ::testing::WithParamInterface<FramingCase> {};

TEST_P(EchoServerFramingThreads, AnswersWhatItCanFrameAndRefusesTheRest) {
  Client client;
  ASSERT_TRUE(client.connect(server_.port()));
  const std::string& request = GetParam().request;
  for (size_t start = 0; start <= request.size();) {
    const size_t bar = std::min(request.find('|', start), request.size());
    client.send(request.substr(start, bar - start));
    start = bar + 1;
  }
  const std::string status = client.reply();
  EXPECT_EQ(status + "|" + client.stillServed(), GetParam().expected);
  EXPECT_EQ(server_.emptyWakeups(), 0);
}

const std::string kHead = "POST /score HTTP/1.1\r\nHost: x\r\n";

INSTANTIATE_TEST_SUITE_P(
    Requests, EchoServerFramingThreads,
    ::testing::Values(FramingCase{kHead + "Content-Length: 5\r\n\r\nhello", "200|200"},
                      FramingCase{kHead + "content-length:  5 \r\n|\r\nhel|lo", "200|200"},
                      FramingCase{kHead + "\r\n", "200|200"},
                      FramingCase{"GET /score HTTP/1.1\r\n\r\n", "405|200"},
                      FramingCase{kHead + "Connection: close\r\nContent-Length: 1\r\n\r\nx", "200|closed"},
                      FramingCase{"POST / HTTP/1.0\r\nContent-Length: 1\r\n\r\nx", "200|closed"},
                      FramingCase{kHead + "Content-Length: 10abc\r\n\r\n0123456789", "400|closed"},
                      FramingCase{kHead + "Content-Length: \r\n\r\n", "400|closed"},
                      FramingCase{kHead + "Content-Length: -1\r\n\r\n", "400|closed"},
                      FramingCase{kHead + "Content-Length: 1048577\r\n\r\n", "400|closed"},
                      FramingCase{kHead + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n", "400|closed"},
                      FramingCase{kHead + "X: " + std::string(17000, 'x') + "\r\n\r\n", "400|closed"}));

// It once closed every connection past 64, counting the plugin's idle pooled ones.
TEST_F(EchoServerThreads, ServesMoreConnectionsAtOnceThanThe64ItOnceAllowed) {
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 100; ++i) {
    clients.push_back(std::make_unique<Client>());
    ASSERT_TRUE(clients.back()->connect(server_.port()));
  }
  int served = 0;
  for (auto& client : clients) served += client->stillServed() == "200";
  EXPECT_EQ(served, 100);
}

// Lowers the soft descriptor limit of this process so that exactly `free` more descriptors can be
// made, and puts the old limit back when it ends.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(int free) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    // Fill every hole below the highest descriptor in use, so the new limit leaves exactly `free`.
    int highest = -1;
    for (int fd = 0; fd < 4096; ++fd) {
      if (::fcntl(fd, F_GETFD) != -1) highest = fd;
    }
    while (true) {
      const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (fd < 0) break;
      if (fd > highest) {
        ::close(fd);
        break;
      }
      fillers_.push_back(fd);
    }
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(highest + 1 + free);
    ::setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~DescriptorLimit() {
    ::setrlimit(RLIMIT_NOFILE, &saved_);
    for (const int fd : fillers_) ::close(fd);
  }

 private:
  rlimit saved_{};
  std::vector<int> fillers_;
};

// It once spun on accept's EMFILE, leaving the new connection waiting without an answer for good.
TEST_F(EchoServerThreads, AtTheDescriptorLimitClosesNewConnectionsAtOnceAndServesTheOpenOnes) {
  Client first, second, third;  // their sockets exist before the limit is lowered
  {
    const DescriptorLimit limit(2);
    ASSERT_TRUE(first.connect(server_.port()));
    EXPECT_EQ(first.stillServed(), "200");
    ASSERT_TRUE(second.connect(server_.port()));
    EXPECT_EQ(second.stillServed(), "200");
    ASSERT_TRUE(third.connect(server_.port()));  // the kernel completes it; the service has no descriptor
    EXPECT_EQ(third.reply(), "closed");
    EXPECT_EQ(first.stillServed(), "200");
  }
  EXPECT_EQ(server_.shed(), 1);
}

}  // namespace
}  // namespace hcs
