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

struct CapCase {
  const char* name;
  size_t bytes;
  bool announced;  // whether the server sends Content-Length up front
  bool accepted;
};

class HttpClientBodyCap : public ::testing::TestWithParam<CapCase> {};

TEST_P(HttpClientBodyCap, RefusesBodiesOverTheCapAsAnExchangeFailure) {
  const CapCase& c = GetParam();
  HttpTestServer server;
  HttpTestAnswer big;
  big.streamBytes = c.bytes;
  if (c.announced) big.headers.emplace_back("Content-Length", std::to_string(c.bytes));
  server.enqueue(big);
  const HttpEndpoint endpoint("127.0.0.1", server.port(), 1, 20000);
  HttpClient client(endpoint);
  if (c.accepted) {
    EXPECT_EQ(client.post("/", "text/xml", "x").body.size(), c.bytes);
    return;
  }
  try {
    client.post("/", "text/xml", "x");
    FAIL() << "body of " << c.bytes << " bytes accepted";
  } catch (const CHttpConnectException&) {
    FAIL() << "refusal reported as a connection failure";
  } catch (const CHttpException& e) {
    EXPECT_NE(e.why().find("67108864"), std::string::npos) << e.why();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpClientBodyCap,
    ::testing::Values(CapCase{"at_cap", HttpClient::kMaxBodyBytes, false, true},
                      CapCase{"over_cap_streamed", HttpClient::kMaxBodyBytes + 1, false, false},
                      CapCase{"over_cap_announced", HttpClient::kMaxBodyBytes + 1, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

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
// That must work on the twentieth post of a client as on the first, not only five times in its life.
TEST(HttpClient, DeadKeptConnectionIsRetriedOnEveryPostNotOnlyTheFirstFive) {
  HttpTestServer server;
  server.enqueue(HttpTestAnswer::ok("first"));
  constexpr int kPosts = 20;
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
