#include "service/score_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace hcs::service {
namespace {

const std::string kDocument =
    "<ATTRS_TO_SCORE><REQ/><ATTR1><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Ann</VALUE></ATTR1>"
    "<ATTR2><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Anne</VALUE></ATTR2></ATTRS_TO_SCORE>\n";

// A plain socket client, so the test sees exactly what goes over one connection.
class Connection {
 public:
  explicit Connection(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Connection() { ::close(fd_); }
  bool connected() const { return connected_; }

  // Sends one request and returns "status|body" of the answer, or "" when the connection failed.
  std::string exchange(const std::string& method, const std::string& body) {
    const std::string request = method + " /score HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n" +
                                "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
      return "";
    std::string reply;
    std::size_t headerEnd;
    while ((headerEnd = reply.find("\r\n\r\n")) == std::string::npos) {
      if (!receive(reply)) return "";
    }
    const std::size_t lengthAt = reply.find("Content-Length: ");
    if (lengthAt == std::string::npos || lengthAt > headerEnd) return "";
    const std::size_t length = std::stoul(reply.substr(lengthAt + 16));
    while (reply.size() < headerEnd + 4 + length) {
      if (!receive(reply)) return "";
    }
    return reply.substr(9, 3) + "|" + reply.substr(headerEnd + 4, length);
  }

 private:
  bool receive(std::string& into) {
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    into.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  int fd_;
  bool connected_ = false;
};

class ScoreServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ScoreServer::Options options;
    options.threads = 4;
    server_ = std::make_unique<ScoreServer>(options);
    port_ = server_->bind("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    runner_ = std::thread([this] { ran_ = server_->run(); });
  }
  void TearDown() override {
    server_->stop();
    runner_.join();  // a hang here means stop() did not end run()
    EXPECT_TRUE(ran_);
  }

  std::unique_ptr<ScoreServer> server_;
  int port_ = 0;
  std::thread runner_;
  bool ran_ = false;
};

TEST_F(ScoreServerTest, AnswersManyRequestsOnOneConnection) {
  Connection connection(port_);
  ASSERT_TRUE(connection.connected());
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(connection.exchange("POST", kDocument),
              "200|<SCORE_RESULT><SCORE>0.9417</SCORE></SCORE_RESULT>")
        << i;
  }
  EXPECT_EQ(connection.exchange("POST", "<ATTRS_TO_SCORE/>"),
            "400|<SCORE_RESULT><ERROR>ATTR1 is missing</ERROR></SCORE_RESULT>");
  // The connection survives a refused document.
  EXPECT_EQ(connection.exchange("POST", kDocument), "200|<SCORE_RESULT><SCORE>0.9417</SCORE></SCORE_RESULT>");
  EXPECT_EQ(connection.exchange("GET", ""),
            "405|<SCORE_RESULT><ERROR>only POST is served</ERROR></SCORE_RESULT>");
  EXPECT_EQ(server_->answered(), 22u);
}

TEST_F(ScoreServerTest, ServesConnectionsInParallel) {
  Connection first(port_);
  Connection second(port_);
  ASSERT_TRUE(first.connected() && second.connected());
  // Both stay open; each gets its answer while the other is idle but connected.
  EXPECT_EQ(second.exchange("POST", kDocument).substr(0, 4), "200|");
  EXPECT_EQ(first.exchange("POST", kDocument).substr(0, 4), "200|");
}

TEST(ScoreServer, StopBeforeRunReturnsAtOnce) {
  ScoreServer server;
  ASSERT_GT(server.bind("127.0.0.1", 0), 0);
  server.stop();
  EXPECT_TRUE(server.run());
}

}  // namespace
}  // namespace hcs::service
