// hcs's reference scoring service on a loopback port, with several connections open.
#include "service/score_server.h"

#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

namespace hcs {
namespace {

using namespace service;

std::string doc(const std::string& attr1, const std::string& attr2, const std::string& request = "<REQ/>") {
  return "<ATTRS_TO_SCORE>" + request + "<ATTR1>" + attr1 + "</ATTR1><ATTR2>" + attr2 +
         "</ATTR2></ATTRS_TO_SCORE>";
}

// "status|body" of one exchange on `client`'s kept connection, "" when it failed.
std::string roundTrip(httplib::Client& client, const std::string& body, bool post = true) {
  const httplib::Result result = post ? client.Post("/score", body, "text/xml") : client.Get("/score");
  return result ? std::to_string(result->status) + "|" + result->body : "";
}

TEST(ScoreServerThreads, AnswersEachConnectionWhileAnotherStaysOpen) {
  ScoreServer::Options options;
  options.threads = 4;
  ScoreServer server(options);
  const int port = server.bind("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  bool ran = false;
  std::thread runner([&] { ran = server.run(); });
  {  // the clients close their connections before the server stops
    httplib::Client first("127.0.0.1", port), second("127.0.0.1", port);
    first.set_keep_alive(true);
    second.set_keep_alive(true);
    EXPECT_EQ(roundTrip(first, doc("<VALUE>Ann</VALUE>", "<VALUE>Anne</VALUE>")),
              "200|<SCORE_RESULT><SCORE>0.9417</SCORE></SCORE_RESULT>");
    // The first connection stays open and idle while the second is served.
    EXPECT_EQ(roundTrip(second, doc("&bad;", "b")),
              "400|<SCORE_RESULT><ERROR>an unknown entity &amp;bad;</ERROR></SCORE_RESULT>");
    EXPECT_EQ(roundTrip(first, "", false),
              "405|<SCORE_RESULT><ERROR>only POST is served</ERROR></SCORE_RESULT>");
  }
  EXPECT_EQ(server.answered(), 2u);
  server.stop();
  runner.join();  // a hang here means stop() did not end run()
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace hcs
