#include "service/score_server.h"

#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

namespace hcs::service {
namespace {

const std::string kDocument =
    "<ATTRS_TO_SCORE><REQ/><ATTR1><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Ann</VALUE></ATTR1>"
    "<ATTR2><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Anne</VALUE></ATTR2></ATTRS_TO_SCORE>\n";

// "status|body" of one exchange on `client`'s kept connection, "" when it failed.
std::string exchange(httplib::Client& client, bool post, const std::string& body) {
  const httplib::Result result = post ? client.Post("/score", body, "text/xml") : client.Get("/score");
  return result ? std::to_string(result->status) + "|" + result->body : "";
}

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
  httplib::Client client("127.0.0.1", port_);
  client.set_keep_alive(true);
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(exchange(client, true, kDocument), "200|<SCORE_RESULT><SCORE>0.9417</SCORE></SCORE_RESULT>") << i;
  }
  EXPECT_EQ(exchange(client, true, "<ATTRS_TO_SCORE/>"),
            "400|<SCORE_RESULT><ERROR>ATTR1 is missing</ERROR></SCORE_RESULT>");
  EXPECT_EQ(exchange(client, false, ""), "405|<SCORE_RESULT><ERROR>only POST is served</ERROR></SCORE_RESULT>");
  EXPECT_EQ(server_->answered(), 21u);
}

TEST_F(ScoreServerTest, ServesConcurrentConnectionsInParallel) {
  httplib::Client first("127.0.0.1", port_);
  httplib::Client second("127.0.0.1", port_);
  first.set_keep_alive(true);
  second.set_keep_alive(true);
  // The first connection stays open and idle while the second is served.
  EXPECT_EQ(exchange(first, true, kDocument).substr(0, 4), "200|");
  EXPECT_EQ(exchange(second, true, kDocument).substr(0, 4), "200|");
  EXPECT_EQ(exchange(first, true, kDocument).substr(0, 4), "200|");
}

TEST(ScoreServer, StopBeforeRunReturnsAtOnce) {
  ScoreServer server;
  ASSERT_GT(server.bind("127.0.0.1", 0), 0);
  server.stop();
  EXPECT_TRUE(server.run());
}

}  // namespace
}  // namespace hcs::service
