// What the production settings of a callout do to real calls against the loopback server, through
// initPlugin and score as a host sees them.
#include <atomic>
#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "plugin/init_plugin.h"
#include "plugin/score.h"
#include "support/capturing_dispatcher.h"
#include "support/http_test_server.h"

namespace hcs {
namespace {

using std::chrono::milliseconds;
using test::HttpTestAnswer;

struct SettingCase {
  const char* name;
  std::string query;
  std::vector<HttpTestAnswer> answers;  // in order; later requests get a score
  std::string expected;                 // the result document, as a regular expression
  size_t requests;
  std::vector<std::string> log;  // every line logged, as regular expressions: one per failed attempt
};

void PrintTo(const SettingCase& c, std::ostream* out) { *out << c.name; }

class CalloutSetting : public ::testing::TestWithParam<SettingCase> {};

// Through initPlugin and score, as a host sees them; the request id is checked on the wire and in the
// log line of the failed attempt.
TEST_P(CalloutSetting, EndsTheCallAsTheSettingSays) {
  const SettingCase& c = GetParam();
  static std::atomic<int32_t> nextKey{15100};
  const std::string key = std::to_string(nextKey++);
  test::HttpTestServer server;
  for (const auto& answer : c.answers) server.enqueue(answer);
  server.setDefault(HttpTestAnswer::ok("<S>1</S>"));
  test::TempDir dir;
  const std::string doc =
      "<I><CONFIG_FILE>" + dir.write("c.ini", "[ATTR_URI]\nN=" + server.uri("/s?") + c.query + "\n") +
      "</CONFIG_FILE><ATTR_TYPE>N</ATTR_TYPE><ATTR_TYPE_ID>" + key + "</ATTR_TYPE_ID></I>";
  std::string text(4097, '\x7f');
  ASSERT_EQ(initializePlugin(doc.data(), static_cast<int32_t>(doc.size()), text.data()), 0) << text.c_str();
  test::CapturingDispatcher log;
  const std::string record = "<ATTRIBUTE><ATTR_TYPE_ID>" + key + "</ATTR_TYPE_ID></ATTRIBUTE>";
  const auto size = static_cast<int32_t>(record.size());
  scoreRequest("<R/>", 4, record.data(), size, record.data(), size, text.data(), 4096);
  EXPECT_TRUE(std::regex_match(text.c_str(), std::regex(c.expected))) << text.c_str();
  ASSERT_EQ(server.requestCount(), c.requests);
  const auto lines = log.allLines();
  ASSERT_EQ(lines.size(), c.log.size()) << ::testing::PrintToString(lines);
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_TRUE(std::regex_match(lines[i], std::regex(c.log[i]))) << lines[i];
  if (c.query.find("requestIdHeader") == std::string::npos) return;
  const std::string id = server.requests()[0].header("X-Request-Id");
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{32}"))) << id;
  EXPECT_EQ(server.requests()[1].header("X-Request-Id"), id);
  EXPECT_EQ(lines[0],
            "CRITICAL ERROR[UVO-00003]: Failed to send 500 Internal Server Error. [request id " + id + "]");
}

const HttpTestAnswer k500 = HttpTestAnswer::withStatus(500, "Internal Server Error", "busy");
HttpTestAnswer late() {
  HttpTestAnswer a = HttpTestAnswer::ok("<S>late</S>");
  a.delay = milliseconds(1000);
  return a;
}
std::string errorDocument(const std::string& text) {
  return "<SCORE_RESULT><ERROR>" + text + "</ERROR></SCORE_RESULT>";
}
const HttpTestAnswer kReset = HttpTestAnswer::withFault(HttpTestAnswer::Fault::kResetAfterRequest);
const std::string kResetLine =
    "HTTP Callout attempt failed \\(reset\\): Recv failure: Connection reset by peer";
const std::string k500Line = "CRITICAL ERROR\\[UVO-00003\\]: Failed to send 500 Internal Server Error\\.";

INSTANTIATE_TEST_SUITE_P(
    Table, CalloutSetting,
    ::testing::Values(
        SettingCase{"status_left_out",
                    "retryOn=5xx",
                    {HttpTestAnswer::withStatus(404, "Not Found", "")},
                    errorDocument("HTTP Callout: 404 Not Found is not retried"),
                    1,
                    {"CRITICAL ERROR\\[UVO-00003\\]: Failed to send 404 Not Found\\."}},
        SettingCase{"status_retried", "retryOn=5xx", {k500}, "<S>1</S>", 2, {k500Line}},
        // A 3xx is no success (nothing follows a redirect) and no 5xx.
        SettingCase{"redirect_left_out",
                    "retryOn=5xx",
                    {HttpTestAnswer::withStatus(300, "Multiple Choices", "")},
                    errorDocument("HTTP Callout: 300 Multiple Choices is not retried"),
                    1,
                    {"CRITICAL ERROR\\[UVO-00003\\]: Failed to send 300 Multiple Choices\\."}},
        // The stop names the last attempt's failure, not an earlier answer's.
        SettingCase{"garbage_after_status_left_out",
                    "retryOn=5xx",
                    {k500, HttpTestAnswer::withFault(HttpTestAnswer::Fault::kGarbageStatusLine)},
                    errorDocument("HTTP Callout: other failure is not retried: .+"),
                    2,
                    {k500Line, "HTTP Callout attempt failed \\(other\\): .+"}},
        SettingCase{
            "reply_wait_left_out",
            "timeout=200&retryOn=5xx",
            {late()},
            errorDocument("HTTP Callout: timeout failure is not retried: Operation timed out after [0-9]+ "
                          "milliseconds with 0 bytes received"),
            1,
            {"HTTP Callout attempt failed \\(timeout\\): Operation timed out after [0-9]+ milliseconds with "
             "0 "
             "bytes received"}},
        // An attempt the deadline cuts ends the call at the deadline, whatever retryOn says of its class.
        SettingCase{"deadline_cuts_a_late_reply",
                    "deadline=200&retryOn=5xx",
                    {late()},
                    errorDocument("HTTP Callout: deadline of 200 ms reached after 1 attempt"),
                    1,
                    {"HTTP Callout attempt failed \\(timeout\\): .+"}},
        SettingCase{"request_id", "requestIdHeader=X-Request-Id", {k500}, "<S>1</S>", 2, {".*"}},
        // With a setting opted in, a retry that succeeds makes the call succeed; on a plain URI the
        // failed exchange still fails the call, as defined.
        SettingCase{"retry_after_reset_succeeds",
                    "retries=1&retryOn=reset,connect",
                    {kReset},
                    "<S>1</S>",
                    2,
                    {kResetLine}},
        SettingCase{"plain_retry_after_reset_fails",
                    "retries=1",
                    {kReset},
                    errorDocument("HTTP Callout: Recv failure: Connection reset by peer"),
                    2,
                    {kResetLine}},
        // Every failed attempt is logged once with its class, on a plain URI too.
        SettingCase{"closed_without_answer",
                    "retries=0",
                    {HttpTestAnswer::withFault(HttpTestAnswer::Fault::kCloseWithoutAnswer)},
                    errorDocument("HTTP Callout: Result message was returned empty"),
                    1,
                    {"HTTP Callout attempt failed \\(reset\\): Empty reply from server"}},
        SettingCase{"garbage_reply",
                    "retries=0",
                    {HttpTestAnswer::withFault(HttpTestAnswer::Fault::kGarbageStatusLine)},
                    errorDocument("HTTP Callout: Result message was returned empty"),
                    1,
                    {"HTTP Callout attempt failed \\(other\\): .+"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hcs
