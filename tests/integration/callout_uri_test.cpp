// Callout URIs as initPlugin takes them, and the time an interface waits for a reply.
#include <string>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "plugin/callout_registry.h"
#include "plugin/init_plugin.h"
#include "plugin/score.h"
#include "support/capturing_dispatcher.h"
#include "support/http_test_server.h"
#include "transport/callout.h"
#include "util/uri.h"

namespace hcs {
namespace {

struct CalloutCase {
  int32_t id;
  std::string uri;          // "{port}" stands for the loopback service's port
  std::string requestLine;  // empty: refused as malformed
  int32_t retries;
  size_t warnings;  // logged by initPlugin
};

class CalloutUri : public ::testing::TestWithParam<CalloutCase> {};

TEST_P(CalloutUri, IsRefusedOrReachesTheServiceOnce) {
  const CalloutCase& c = GetParam();
  test::HttpTestServer server;  // answers 200 with an empty body: one attempt is all a score makes
  std::string uri = c.uri;
  if (const size_t at = uri.find("{port}"); at != std::string::npos)
    uri.replace(at, 6, std::to_string(server.port()));
  test::TempDir dir;
  const std::string id = std::to_string(c.id),
                    record = "<ATTRIBUTE><ATTR_TYPE_ID>" + id + "</ATTR_TYPE_ID></ATTRIBUTE>";
  const std::string doc = "<I><CONFIG_FILE>" + dir.write("c.ini", "[ATTR_URI]\nN=" + uri + "\n") +
                          "</CONFIG_FILE><ATTR_TYPE>N</ATTR_TYPE><ATTR_TYPE_ID>" + id + "</ATTR_TYPE_ID></I>";
  test::CapturingDispatcher log;
  std::string text(4097, '\x7f');
  const int32_t init = initializePlugin(doc.data(), static_cast<int32_t>(doc.size()), text.data());
  EXPECT_EQ(log.entries().size(), c.warnings);
  if (c.requestLine.empty()) {
    EXPECT_EQ(init, -1);
    EXPECT_STREQ(text.c_str(), ("<ERROR>Malformed HTTP Callout URI: [" + uri + "]</ERROR>").c_str());
    return;
  }
  ASSERT_EQ(init, 0) << text.c_str();
  EXPECT_EQ(calloutRegistry().find(c.id)->settings().retries, c.retries);
  const auto size = static_cast<int32_t>(record.size());
  scoreRequest("<R/>", 4, record.data(), size, record.data(), size, text.data(), 4096);
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(server.requests()[0].requestLine, c.requestLine);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CalloutUri,
    ::testing::Values(
        CalloutCase{14100, "http://127.0.0.1:4295014607/x", "", 0, 0},  // would wrap to 47311
        CalloutCase{14101, "http://127.0.0.1:65536/x", "", 0, 0},
        CalloutCase{14102, "http://127.0.0.1:{port}/x?retries=4294967296", "POST /x HTTP/1.1", 100, 1},
        CalloutCase{14103, "http://127.0.0.1:{port}/x?retries=2147483647", "POST /x HTTP/1.1", 100, 1},
        CalloutCase{14104, "http://127.0.0.1:000{port}/x?retries=00100", "POST /x HTTP/1.1", 100, 0},
        CalloutCase{14105, "HTTP://127.0.0.1:{port}/cap/x", "POST /cap/x HTTP/1.1", 3, 0},
        CalloutCase{14106, "http://127.0.0.1:{port}/a%2Fb%3fc%23d%25e%20%41",
                    "POST /a%2Fb%3fc%23d%25e%20A HTTP/1.1", 3, 0}));

// Whether a reply that takes `delayMs` is accepted with a timeout of 1000 ms, on a new or a kept connection.
class ReplyWait : public ::testing::TestWithParam<std::pair<bool, int>> {};

TEST_P(ReplyWait, IsTheTimeoutCountedFromTheRequest) {
  const auto [kept, delayMs] = GetParam();
  test::HttpTestServer server;
  test::HttpTestAnswer answer = test::HttpTestAnswer::ok("late");
  answer.delay = std::chrono::milliseconds(delayMs);
  if (kept) server.enqueue(test::HttpTestAnswer::ok("first"));
  server.enqueue(answer);
  OHTTP http(CUri(UCString(server.uri("/x"))), 1000, 1);
  icu::UnicodeString status, reply;
  try {
    for (int sends = kept ? 2 : 1; sends > 0; --sends)
      EXPECT_EQ(http.send(nullptr, u"<X/>", status, &reply), 0);
    EXPECT_LT(delayMs, 1000) << "a reply after " << delayMs << " ms was accepted";
  } catch (const CHttpException& e) {
    EXPECT_GT(delayMs, 1000) << e.why();
  }
  EXPECT_EQ(server.connectionsAccepted(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, ReplyWait,
                         ::testing::Values(std::pair{false, 300}, std::pair{false, 1500},
                                           std::pair{true, 300}, std::pair{true, 1500}));

}  // namespace
}  // namespace hcs
