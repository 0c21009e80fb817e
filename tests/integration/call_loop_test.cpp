// The call loop on time that moves only when it pauses: exact attempt counts, pauses and deadlines, and
// how the circuit counts calls that end early.
#include "transport/call_loop.h"

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/capturing_dispatcher.h"
#include "support/fake_call_time.h"
#include "support/http_test_server.h"
#include "transport/callout.h"
#include "transport/callout_settings.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

using std::chrono::milliseconds;
using test::FakeCallTime;
using test::HttpTestAnswer;
using test::HttpTestServer;

std::unique_ptr<Callout> callout(const std::string& uri, FakeCallTime& time) {
  const CUri parsed{UCString(uri)};
  return std::make_unique<Callout>(parsed, readCalloutSettings(parsed, 10000).settings, "T", nullptr, &time);
}

// One call begun `late` before the fake now, as "delivered", "exhausted" or "stopped: <text>".
std::string call(const Callout& http, FakeCallTime& time, milliseconds late = milliseconds(0)) {
  CalloutCall attempts(http, time.now() - late);
  if (!attempts.admitted()) return "refused: " + attempts.stopText();
  std::string reply;
  switch (attempts.run(std::string_view("<X/>"), reply)) {
    case CalloutCall::End::kDelivered:
      return "delivered";
    case CalloutCall::End::kExhausted:
      return "exhausted";
    default:
      return "stopped: " + attempts.stopText();
  }
}

struct LoopCase {
  const char* name;
  std::string query;
  uint64_t drawn;  // what every draw gives
  milliseconds late;
  std::string ends;
  size_t requests;
  std::vector<int> pauses;  // ms
};

void PrintTo(const LoopCase& c, std::ostream* out) { *out << c.name; }

class CalloutLoop : public ::testing::TestWithParam<LoopCase> {};

TEST_P(CalloutLoop, MakesExactlyTheAttemptsAndPausesItsSettingsAllow) {
  const LoopCase& c = GetParam();
  HttpTestServer server;
  server.setDefault(HttpTestAnswer::withStatus(500, "Internal Server Error", ""));
  FakeCallTime time;
  time.drawn = c.drawn;
  const auto http = callout(server.uri("/s?") + c.query, time);
  EXPECT_EQ(call(*http, time, c.late), c.ends);
  EXPECT_EQ(server.requestCount(), c.requests);
  std::vector<int> pauses;
  for (const milliseconds p : time.pauses()) pauses.push_back(static_cast<int>(p.count()));
  EXPECT_EQ(pauses, c.pauses);
}

constexpr uint64_t kLongest = ~uint64_t{0};  // every pause as long as its window
INSTANTIATE_TEST_SUITE_P(
    Table, CalloutLoop,
    ::testing::Values(
        LoopCase{
            "no_backoff_no_pause", "retries=2&retryOn=5xx", kLongest, milliseconds(0), "exhausted", 3, {}},
        // Windows of 100 and 200 ms: the second pause ends on the deadline, and no attempt starts there.
        LoopCase{"backoff_until_deadline",
                 "backoff=100&deadline=300",
                 kLongest,
                 milliseconds(0),
                 "stopped: deadline of 300 ms reached after 2 attempts",
                 2,
                 {100, 200}},
        // The doubling stops at 1024 times the base.
        LoopCase{"backoff_doubles_to_its_cap",
                 "backoff=1&retries=12",
                 kLongest,
                 milliseconds(0),
                 "exhausted",
                 13,
                 {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 1024}},
        // Full jitter: a draw picks the pause in [0, window].
        LoopCase{"jitter_takes_the_draw",
                 "backoff=100&retries=2",
                 uint64_t{1} << 63,
                 milliseconds(0),
                 "exhausted",
                 3,
                 {50, 100}},
        // A pause never runs past the deadline.
        LoopCase{"pause_cut_at_deadline",
                 "backoff=10000&deadline=300",
                 kLongest,
                 milliseconds(0),
                 "stopped: deadline of 300 ms reached after 1 attempt",
                 1,
                 {300}},
        // The deadline counts from the call's start, records read before the loop included.
        LoopCase{"deadline_before_any_attempt",
                 "deadline=5",
                 kLongest,
                 milliseconds(5),
                 "stopped: deadline of 5 ms reached after 0 attempts",
                 0,
                 {}}),
    [](const auto& info) { return std::string(info.param.name); });

// A call that sent nothing tells nothing about the service: it neither opens the circuit nor keeps it
// closed.
TEST(CalloutLoopCircuit, CallsThatSentNothingDoNotCount) {
  HttpTestServer server;
  FakeCallTime time;
  const auto http = callout(server.uri("/s?deadline=60000&breaker=3"), time);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(call(*http, time, milliseconds(60000)),
              "stopped: deadline of 60000 ms reached after 0 attempts");
  }
  EXPECT_FALSE(http->breaker()->isOpen());
  EXPECT_EQ(call(*http, time), "delivered");
  EXPECT_EQ(server.requestCount(), 1u);
}

// However a probe ends, even by an exception that is no record, the circuit leaves the probing state.
TEST(CalloutLoopCircuit, AProbeLeftByAnExceptionHandsTheProbeOn) {
  HttpTestServer server(false);  // refuses connections
  FakeCallTime time;
  const auto http = callout(server.uri("/s?breaker=1&breakerWait=1000&retries=0&requestIdHeader=X-Id"), time);
  EXPECT_EQ(call(*http, time), "exhausted");
  EXPECT_EQ(call(*http, time), "refused: circuit open after 1 failed calls; next try in 1000 ms");
  time.advance(milliseconds(1000));
  time.failDraws = true;  // the request id cannot be drawn: the probe ends in std::bad_alloc
  EXPECT_THROW(call(*http, time), std::bad_alloc);
  time.failDraws = false;
  server.listen();
  EXPECT_EQ(call(*http, time), "delivered") << "the next call is the probe";
  EXPECT_FALSE(http->breaker()->isOpen());
}

// The request id carries all 128 bits of two draws; a refused connection is logged as the defined
// record, which has no number, with that id after it.
TEST(CalloutLoopRequestId, CarriesEveryBitOfTwoDrawsOnTheWireAndInTheLog) {
  HttpTestServer server(false);  // refuses connections
  FakeCallTime time;
  time.drawn = 0x0123456789abcdefu;
  const std::string id = "fedcba9876543210fedcba9876543210";
  const auto http = callout(server.uri("/s?retries=0&requestIdHeader=X-Id"), time);
  {
    test::CapturingDispatcher log;
    EXPECT_EQ(call(*http, time), "exhausted");
    const std::vector<std::string> lines = log.allLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex("CRITICAL ERROR: Failed to connect to .+: Couldn't connect to "
                                              "server \\[request id " +
                                              id + "\\]")))
        << lines[0];
  }
  server.listen();
  EXPECT_EQ(call(*http, time), "delivered");
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(server.requests()[0].header("X-Id"), id);
}

// A message that is no valid UTF-16 sends nothing: each attempt logs the conversion's record, the stop
// names it, and the reply a previous call left is not handed back.
TEST(CalloutLoopText, AMessageThatIsNoValidUtf16SendsNothingAndLeavesNoReply) {
  HttpTestServer server;
  server.setDefault(HttpTestAnswer::ok("<S/>"));
  FakeCallTime time;
  const auto http = callout(server.uri("/s?retryOn=connect"), time);
  std::string reply;
  {
    CalloutCall valid(*http, time.now());
    EXPECT_EQ(valid.run(icu::UnicodeString(u"<X/>"), reply), CalloutCall::End::kDelivered);
  }
  EXPECT_EQ(reply, "<S/>");
  test::CapturingDispatcher log;
  CalloutCall invalid(*http, time.now());
  EXPECT_EQ(invalid.run(icu::UnicodeString(u"<X>\xD800</X>"), reply), CalloutCall::End::kStopped);
  EXPECT_EQ(invalid.stopText(), "other failure is not retried: U_INVALID_CHAR_FOUND");
  EXPECT_EQ(reply, "");
  EXPECT_EQ(log.allLines(), std::vector<std::string>{"CRITICAL ERROR: U_INVALID_CHAR_FOUND"});
  EXPECT_EQ(server.requestCount(), 1u);
}

}  // namespace
}  // namespace hcs
