#include "transport/http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "support/http_test_server.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;
using test::HttpTestServer;

// Refused as an exchange failure, whether the service announces the size or just keeps sending.
class HttpClientBodyCap : public ::testing::TestWithParam<bool> {};

TEST_P(HttpClientBodyCap, RefusesABodyOverTheCap) {
  HttpTestServer server;
  HttpTestAnswer big;
  big.streamBytes = HttpClient::kMaxBodyBytes + 1;
  if (GetParam()) big.headers.emplace_back("Content-Length", std::to_string(big.streamBytes));
  server.enqueue(big);
  const HttpEndpoint endpoint("127.0.0.1", server.port(), 1, 20000);  // the client keeps a reference
  HttpClient client(endpoint);
  try {
    client.post("/", "text/xml", "x");
    FAIL() << "body accepted, announced: " << GetParam();
  } catch (const CHttpConnectException&) {
    FAIL() << "refusal reported as a connection failure";
  } catch (const CHttpException& e) {
    EXPECT_EQ(e.why(), "Reply body larger than 67108864 bytes refused");
  }
}

INSTANTIATE_TEST_SUITE_P(Announced, HttpClientBodyCap, ::testing::Bool());

// A listener whose accept queue is full: the kernel drops further SYNs, so connecting hangs.
class FullListener {
 public:
  FullListener() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::listen(listenFd_, 0) != 0) {
      ADD_FAILURE() << "cannot listen";
    }
    port_ = ntohs(addr.sin_port);
    for (int i = 0; i < 3; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      (void)::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      fillers_.push_back(fd);
    }
  }
  ~FullListener() {
    for (int fd : fillers_) ::close(fd);
    ::close(listenFd_);
  }
  uint16_t port() const { return port_; }

 private:
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::vector<int> fillers_;
};

TEST(HttpClient, ConnectTimeoutIsAConnectionFailureAndKeepsTheClientUsable) {
  FullListener listener;
  const HttpEndpoint endpoint("127.0.0.1", listener.port(), 1, 300);
  HttpClient client(endpoint);
  EXPECT_THROW(client.post("/", "text/xml", "x"), CHttpConnectException);
  EXPECT_FALSE(client.isConnected());
}

// A kept connection the service dropped without answering is re-sent on a new one by libcurl itself.
// That must work on the sixth post of a client as on the first, not only five times in its life.
TEST(HttpClient, DeadKeptConnectionIsRetriedOnEveryPostNotOnlyTheFirstFive) {
  HttpTestServer server;
  server.enqueue(HttpTestAnswer::ok("first"));
  constexpr int kPosts = 6;
  for (int i = 0; i < kPosts; ++i) {
    server.enqueue(HttpTestAnswer::withFault(HttpTestAnswer::Fault::kCloseWithoutAnswer));
    server.enqueue(HttpTestAnswer::ok("again " + std::to_string(i)));
  }
  const HttpEndpoint endpoint("127.0.0.1", server.port(), 1, 5000);
  HttpClient client(endpoint);
  EXPECT_EQ(client.post("/", "text/xml", "x").body, "first");
  for (int i = 0; i < kPosts; ++i) {
    ASSERT_TRUE(client.isConnected()) << "post " << i;
    try {
      EXPECT_EQ(client.post("/", "text/xml", "x").body, "again " + std::to_string(i));
    } catch (const CHttpException& e) {
      FAIL() << "post " << i << ": " << e.why();
    }
  }
  EXPECT_EQ(server.connectionsAccepted(), static_cast<uint64_t>(kPosts + 1));
}

}  // namespace
}  // namespace hcs
