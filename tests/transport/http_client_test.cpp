#include "transport/http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/http_test_server.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;
using test::HttpTestServer;

// The body, or how the post failed: "connection: <why>" before the exchange began, "exchange: <why>" after.
std::string post(HttpClient& client) {
  try {
    return client.post("/", "text/xml", "x").body;
  } catch (const CHttpConnectException& e) {
    return "connection: " + e.why();
  } catch (const CHttpException& e) {
    return "exchange: " + e.why();
  }
}

TEST(HttpClient, RefusesABodyOverTheCapWhetherStreamedOrAnnounced) {
  HttpTestServer server;
  HttpTestAnswer big;
  big.streamBytes = HttpClient::kMaxBodyBytes + 1;
  server.enqueue(big);
  big.headers.emplace_back("Content-Length", std::to_string(big.streamBytes));
  server.enqueue(big);
  const HttpEndpoint endpoint("127.0.0.1", server.port(), 1, 20000);  // the client keeps a reference
  HttpClient client(endpoint);
  for (const char* how : {"streamed", "announced"}) {
    EXPECT_EQ(post(client), "exchange: Reply body larger than 67108864 bytes refused") << how;
  }
}

struct Socket {
  ~Socket() { ::close(fd); }
  int fd;
};

// A listener whose accept queue is full: the kernel drops further SYNs, so connecting times out.
TEST(HttpClient, ConnectTimeoutIsAConnectionFailure) {
  const Socket listener{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  ASSERT_TRUE(::bind(listener.fd, raw, size) == 0 && ::getsockname(listener.fd, raw, &size) == 0 &&
              ::listen(listener.fd, 0) == 0);
  const Socket fillers[] = {{::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)},
                            {::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)},
                            {::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)}};
  for (const Socket& filler : fillers) (void)::connect(filler.fd, raw, size);
  const HttpEndpoint endpoint("127.0.0.1", ntohs(address.sin_port), 1, 300);
  HttpClient client(endpoint);
  EXPECT_EQ(post(client).rfind("connection: ", 0), 0u);
  EXPECT_FALSE(client.isConnected());
}

// A kept connection the service dropped without answering is re-sent on a new one by libcurl itself.
// That must work on the sixth post of a client as on the first, not only five times in its life.
TEST(HttpClient, DeadKeptConnectionIsRetriedOnEveryPostNotOnlyTheFirstFive) {
  HttpTestServer server;
  server.enqueue(HttpTestAnswer::ok("first"));
  for (int i = 0; i < 6; ++i) {
    server.enqueue(HttpTestAnswer::withFault(HttpTestAnswer::Fault::kCloseWithoutAnswer));
    server.enqueue(HttpTestAnswer::ok("again"));
  }
  const HttpEndpoint endpoint("127.0.0.1", server.port(), 1, 5000);
  HttpClient client(endpoint);
  EXPECT_EQ(post(client), "first");
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(client.isConnected()) << "post " << i;
    EXPECT_EQ(post(client), "again") << "post " << i;
  }
  EXPECT_EQ(server.connectionsAccepted(), 7u);
}

}  // namespace
}  // namespace hcs
