// The wait for a reply: the interface's timeout, counted from the moment the request went out, the same
// on a new connection as on a kept one.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/http_test_server.h"
#include "transport/http_client.h"
#include "transport/http_interface.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;
using test::HttpTestServer;

constexpr uint32_t kTimeoutMs = 1000;

struct WaitCase {
  const char* name;
  bool kept;      // the late request goes over a connection an earlier send left open
  int delayMs;    // before the service answers
  bool answered;  // within the wait
};

void PrintTo(const WaitCase& c, std::ostream* out) { *out << c.name; }

class ReplyWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(ReplyWait, IsTheTimeoutFromTheRequestOnNewAndKeptConnections) {
  const WaitCase& c = GetParam();
  HttpTestServer server;
  if (c.kept) server.enqueue(HttpTestAnswer::ok("first"));
  HttpTestAnswer late = HttpTestAnswer::ok("late");
  late.delay = std::chrono::milliseconds(c.delayMs);
  server.enqueue(late);
  OHTTP http(CUri(UCString(server.uri("/x"))), kTimeoutMs, 1);
  icu::UnicodeString status;
  icu::UnicodeString reply;
  if (c.kept) {
    ASSERT_EQ(http.send(nullptr, u"<X/>", status, &reply), 0);
    ASSERT_EQ(http.idleConnections(), 1u);
  }

  if (c.answered) {
    EXPECT_EQ(http.send(nullptr, u"<X/>", status, &reply), 0);
    EXPECT_EQ(reply, u"late");
  } else {
    try {
      http.send(nullptr, u"<X/>", status, &reply);
      ADD_FAILURE() << "a reply after " << c.delayMs << " ms was accepted";
    } catch (const CHttpException& e) {
      EXPECT_EQ(e.why().rfind("Operation timed out after ", 0), 0u) << e.why();
    }
  }
  EXPECT_EQ(server.connectionsAccepted(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, ReplyWait,
                         ::testing::Values(WaitCase{"new_in_time", false, 300, true},
                                           WaitCase{"new_late", false, 1500, false},
                                           WaitCase{"kept_in_time", true, 300, true},
                                           WaitCase{"kept_late", true, 1500, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hcs
