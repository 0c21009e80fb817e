// No fault of the scoring service may take the host down: for each fault the loopback server can make,
// four threads call score (registry, real OHTTP on libcurl, real sockets) for a bounded time. Every call
// must return within its worst case (attempts × the per-attempt limit, plus slack) with a score or an
// error document a failed callout produces; once the fault stops, every pooled connection scores again.
// Faulty and healthy answers alternate (one shared counter), so reconnecting after a fault and retrying
// into a healthy answer happen all the time; a refused port recovers by starting to listen.
//
// The production settings have rows of their own (PolicyFaultMatrix, BreakerFaultMatrix): a deadline
// against a silent service, retryOn against 500 answers, the circuit breaker against a refused port.
//
// HCS_FAULT_SECONDS sets the time per fault (default 2; a long run takes 20 or more). Each fault prints
// one line starting "fault-matrix |" with its outcome counts and its longest call, for the record. The
// reply size cap is the transport's own test: streaming 64 MiB per call here would only cost time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <regex>

#include "metrics/callout_metrics.h"
#include "plugin/callout_registry.h"
#include "plugin/plugin.h"
#include "support/capturing_dispatcher.h"
#include "support/http_test_server.h"
#include "transport/callout_policy.h"
#include "transport/http_interface.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;
using test::HttpTestRequest;
using test::HttpTestServer;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kReply[] = "<SCORE_RESULT><SCORE>0.42</SCORE></SCORE_RESULT>";
constexpr uint32_t kTimeoutMs = 300;
constexpr int kThreads = 4;
constexpr int kAttempts = OHTTP::kDefaultRetries + 1;

// An attempt on a new connection may spend one timeout connecting and one waiting for the reply.
milliseconds callBound() { return milliseconds(kAttempts * 2 * kTimeoutMs + 1000); }

milliseconds secondsPerFault() {
  const char* text = std::getenv("HCS_FAULT_SECONDS");
  const long seconds = text != nullptr ? std::strtol(text, nullptr, 10) : 2;
  return milliseconds(std::clamp(seconds, 1L, 600L) * 1000);
}

// The registry keeps its entries for the life of the process: a fresh key per test.
int32_t registerInterface(const std::string& uri) {
  static std::atomic<int32_t> nextKey{9500};
  const int32_t key = nextKey++;
  EXPECT_TRUE(calloutRegistry().insert(key, std::make_unique<OHTTP>(CUri(UCString(uri)), kTimeoutMs, 1)));
  return key;
}

// What one call came back with, as a table key: "score", the error text of a failed callout with its
// numbers blanked, or "WRONG ..." for anything a caller could not have been promised.
std::string outcome(int32_t status, const std::string& text) {
  static const std::regex error("<SCORE_RESULT><ERROR>HTTP Callout: (.+)</ERROR></SCORE_RESULT>");
  static const std::regex digits("[0-9]+");
  std::smatch match;
  if (status == 0 && text == kReply) return "score";
  if (status == -1 && std::regex_match(text, match, error))
    return std::regex_replace(match[1].str(), digits, "N");
  return "WRONG status " + std::to_string(status) + ": " + text.substr(0, 200);
}

const HttpTestAnswer kHealthy = HttpTestAnswer::ok(kReply);

HttpTestAnswer healthy(void (*change)(HttpTestAnswer&)) {
  HttpTestAnswer a = kHealthy;
  change(a);
  return a;
}

const std::string kTimedOut = "Operation timed out after N milliseconds with N bytes received";
const std::string kReset = "Recv failure: Connection reset by peer";
const std::string kEmptyReply = "Empty reply from server";

struct FaultCase {
  const char* name;
  enum class Mode { kRefused, kResetBeforeRequest, kAlternating, kEveryAnswer } mode;
  HttpTestAnswer answer;  // the faulty answer, alternating with healthy ones or given to every request
  // Outcomes (as prefixes) this fault may produce besides "score" and the two texts of a callout that never
  // got through ("Result message was returned empty", "Failed to receive message despite retries").
  std::vector<std::string> transportTexts;
};
using Mode = FaultCase::Mode;
using Fault = HttpTestAnswer::Fault;

// clang-format off
const FaultCase kFaults[] = {
    {"refused", Mode::kRefused, kHealthy, {}},
    {"reset_before_request", Mode::kResetBeforeRequest, kHealthy,
     {kReset, "Send failure: Connection reset by peer", "Send failure: Broken pipe", kEmptyReply}},
    {"reset_after_request", Mode::kAlternating, HttpTestAnswer::withFault(Fault::kResetAfterRequest),
     {kReset, kEmptyReply}},
    {"close_without_answer", Mode::kAlternating, HttpTestAnswer::withFault(Fault::kCloseWithoutAnswer),
     {kEmptyReply}},
    // Every answer is healthy: a kept connection found dead is re-sent on a new one, never a failure.
    {"close_after_answer_unsaid", Mode::kEveryAnswer,
     healthy([](HttpTestAnswer& a) { a.close = HttpTestAnswer::Close::kAfterAnswer; }), {}},
    {"status_503", Mode::kAlternating, HttpTestAnswer::withStatus(503, "Service Unavailable", "busy"), {}},
    {"garbage_status_line", Mode::kAlternating, HttpTestAnswer::withFault(Fault::kGarbageStatusLine),
     {"Received HTTP/N.N when not allowed"}},
    {"truncated_body", Mode::kAlternating, HttpTestAnswer::withFault(Fault::kTruncatedBody),
     {"transfer closed with N bytes remaining to read"}},
    // After every limit the client sets.
    {"late_answer", Mode::kAlternating,
     healthy([](HttpTestAnswer& a) { a.delay = 3 * milliseconds(kTimeoutMs); }), {kTimedOut}},
    // Bytes keep coming, the whole reply never in time.
    {"trickling_body", Mode::kAlternating,
     healthy([](HttpTestAnswer& a) { a.trickle = milliseconds(kTimeoutMs) / 10; }),
     {"Operation timed out after N milliseconds with N out of N bytes received"}},
};
// clang-format on

// The counts of one run, filled by every calling thread.
struct Tally {
  std::mutex mutex;
  std::map<std::string, long> outcomes;
  milliseconds longest{0};
  long calls = 0;

  void add(const std::string& key, milliseconds took) {
    std::lock_guard lock(mutex);
    ++outcomes[key];
    longest = std::max(longest, took);
    ++calls;
  }
  std::string describe() const {
    std::string all;
    for (const auto& [text, count] : outcomes) all += " " + text + ": " + std::to_string(count) + ";";
    return all;
  }
};

// `calls` per thread, or until `until` when calls is 0.
void hammer(int32_t key, Clock::time_point until, long calls, Tally& tally) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string request = "<REQ/>";
      const std::string type = "<ATTRIBUTE><ATTR_TYPE_ID>" + std::to_string(key) + "</ATTR_TYPE_ID><VALUE>";
      const std::string inbound = type + "thread " + std::to_string(t) + "</VALUE></ATTRIBUTE>";
      const std::string matched = type + "other</VALUE></ATTRIBUTE>";
      std::string buffer(4097, '\x7f');
      for (long i = 0; calls == 0 ? Clock::now() < until : i < calls; ++i) {
        const auto start = Clock::now();
        const int32_t status = scoreImpl(request.data(), static_cast<int32_t>(request.size()), inbound.data(),
                                         static_cast<int32_t>(inbound.size()), matched.data(),
                                         static_cast<int32_t>(matched.size()), buffer.data(), 4096);
        const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        tally.add(outcome(status, std::string(buffer.c_str())), took);
      }
    });
  }
  for (auto& t : threads) t.join();
}

// Names the case in gtest's messages instead of dumping its bytes.
void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.name; }

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrix, ConcurrentCallsReturnInTimeWithADocumentedResultAndTheInterfaceRecovers) {
  const FaultCase& fault = GetParam();
  const bool refused = fault.mode == Mode::kRefused;
  HttpTestServer server(!refused);
  server.setDefault(fault.mode == Mode::kEveryAnswer ? fault.answer : kHealthy);
  auto counter = std::make_shared<std::atomic<unsigned long>>(0);
  auto faulty = [counter] { return (*counter)++ % 2 == 0; };
  if (fault.mode == Mode::kResetBeforeRequest) server.setResetBeforeRequest(faulty);
  if (fault.mode == Mode::kAlternating) {
    server.setHandler(
        [faulty, answer = fault.answer](const HttpTestRequest&) { return faulty() ? answer : kHealthy; });
  }
  const int32_t key = registerInterface(server.uri("/score"));

  Tally tally;
  hammer(key, Clock::now() + secondsPerFault(), 0, tally);

  std::vector<std::string> allowed = fault.transportTexts;
  allowed.push_back("score");
  allowed.push_back("Result message was returned empty");
  allowed.push_back("Failed to receive message despite retries");
  // 300 ms is short: on a loaded machine (sanitizers, parallel tests) a healthy answer may miss it.
  allowed.push_back(kTimedOut);
  for (const auto& [text, count] : tally.outcomes) {
    // Named capture: clang 14 cannot capture a structured binding.
    const bool known = std::any_of(allowed.begin(), allowed.end(), [&outcome = text](const std::string& a) {
      return outcome.starts_with(a);
    });
    EXPECT_TRUE(known) << count << " call(s) came back with: " << text;
  }
  const milliseconds bound = callBound();
  std::printf("fault-matrix | %s | %ld calls |%s longest %lld ms of %lld\n", fault.name, tally.calls,
              tally.describe().c_str(), static_cast<long long>(tally.longest.count()),
              static_cast<long long>(bound.count()));
  std::fflush(stdout);
  EXPECT_GT(tally.calls, 0);
  EXPECT_LE(tally.longest, bound);
  if (!refused) {
    EXPECT_GT(tally.outcomes["score"], 0) << "no healthy answer got through";
  }

  // The fault ends: every connection the interface pooled meanwhile must serve again.
  server.setResetBeforeRequest(nullptr);
  server.setHandler(nullptr);
  server.setDefault(HttpTestAnswer::ok(kReply));
  server.listen();
  Tally healed;
  hammer(key, Clock::time_point(), 5, healed);
  EXPECT_EQ(healed.outcomes["score"], kThreads * 5) << "after the fault:" << healed.describe();
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// The production settings under the faults they are for. A row's settings go on the URI; its interface
// keeps the defined waits (10 s), so whatever ends a call early is the setting under test.
struct PolicyFault {
  const char* name;
  const char* query;
  HttpTestAnswer answer;  // given to every request
  std::string outcome;    // what every call must end with, numbers blanked
  milliseconds bound;     // the longest a call may take; every call makes exactly one request
};

void PrintTo(const PolicyFault& fault, std::ostream* out) { *out << fault.name; }

int32_t registerWithSettings(const std::string& uri, const std::string& typeName, CalloutMetrics* metrics) {
  static std::atomic<int32_t> nextKey{9700};
  const int32_t key = nextKey++;
  const CUri parsed{UCString(uri)};
  EXPECT_TRUE(calloutRegistry().insert(
      key, std::make_unique<OHTTP>(parsed, readCalloutPolicy(parsed, kCalloutTimeoutMs).policy, 1, typeName,
                                   metrics)));
  return key;
}

// clang-format off
const PolicyFault kPolicyFaults[] = {
    {"silent_with_deadline", "deadline=300", healthy([](HttpTestAnswer& a) { a.delay = milliseconds(1000); }),
     "deadline of N ms reached after N attempt", milliseconds(300 + 50)},
    {"status_500_retry_on_connect", "retryOn=connect",
     HttpTestAnswer::withStatus(500, "Internal Server Error", "busy"), "N Internal Server Error is not retried",
     callBound()},
};
// clang-format on

class PolicyFaultMatrix : public ::testing::TestWithParam<PolicyFault> {};

TEST_P(PolicyFaultMatrix, EveryCallEndsAsTheSettingSaysAndTheInterfaceRecovers) {
  const PolicyFault& fault = GetParam();
  HttpTestServer server;
  server.setDefault(fault.answer);
  const int32_t key = registerWithSettings(server.uri("/score?") + fault.query, fault.name, nullptr);

  Tally tally;
  hammer(key, Clock::now() + secondsPerFault(), 0, tally);
  std::printf("fault-matrix | %s | %ld calls, %zu requests |%s longest %lld ms of %lld\n", fault.name,
              tally.calls, server.requestCount(), tally.describe().c_str(),
              static_cast<long long>(tally.longest.count()), static_cast<long long>(fault.bound.count()));
  std::fflush(stdout);
  EXPECT_EQ(tally.outcomes[fault.outcome], tally.calls) << tally.describe();
  EXPECT_LE(tally.longest, fault.bound);
  EXPECT_TRUE(server.waitForRequests(static_cast<size_t>(tally.calls), milliseconds(2000)));
  EXPECT_EQ(server.requestCount(), static_cast<size_t>(tally.calls));

  server.setDefault(HttpTestAnswer::ok(kReply));
  Tally healed;
  hammer(key, Clock::time_point(), 5, healed);
  EXPECT_EQ(healed.outcomes["score"], kThreads * 5) << "after the fault:" << healed.describe();
}

INSTANTIATE_TEST_SUITE_P(Settings, PolicyFaultMatrix, ::testing::ValuesIn(kPolicyFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// A refused port behind breaker=5&breakerWait=2000, one calling thread so every count is exact: five
// failed calls with traffic, then calls refused at once without a connection attempt, one probe every
// 2 s; when the service is back the next probe closes the circuit. Opening and closing are logged once.
TEST(BreakerFaultMatrix, OpensAfterFiveFailedCallsProbesEveryWaitAndClosesWhenTheServiceIsBack) {
  test::CapturingDispatcher log;
  HttpTestServer server(false);
  server.setDefault(HttpTestAnswer::ok(kReply));
  static CalloutMetrics metrics(0, "REFUSED");
  const int32_t key =
      registerWithSettings(server.uri("/score?breaker=5&breakerWait=2000"), "REFUSED", &metrics);
  const milliseconds wait(2000);
  const auto run = std::max(secondsPerFault(), milliseconds(5000));
  const std::string record =
      "<ATTRIBUTE><ATTR_TYPE_ID>" + std::to_string(key) + "</ATTR_TYPE_ID></ATTRIBUTE>";
  std::string buffer(4097, '\x7f');
  auto call = [&] {
    const auto start = Clock::now();
    const int32_t status = scoreImpl("<R/>", 4, record.data(), static_cast<int32_t>(record.size()),
                                     record.data(), static_cast<int32_t>(record.size()), buffer.data(), 4096);
    const auto took = Clock::now() - start;
    return std::pair{outcome(status, buffer.c_str()), took};
  };

  std::vector<Clock::time_point> withTraffic;  // calls that were let through, by start time
  std::vector<double> refusedMicros;           // calls refused by the open circuit, each timed
  const auto until = Clock::now() + run;
  for (long i = 0; i < 2'000'000 && Clock::now() < until; ++i) {
    const auto start = Clock::now();
    const auto [text, took] = call();
    if (text.starts_with("circuit open after N failed calls; next try in N ms")) {
      refusedMicros.push_back(std::chrono::duration<double, std::micro>(took).count());
    } else {
      EXPECT_EQ(text, "Result message was returned empty");
      withTraffic.push_back(start);
    }
  }
  const auto connects = metrics.attempts(AttemptResult::kConnect);
  std::string probes;
  for (size_t i = 5; i < withTraffic.size(); ++i) {
    const auto gap = std::chrono::duration_cast<milliseconds>(withTraffic[i] - withTraffic[i - 1]);
    probes += " +" + std::to_string(gap.count()) + " ms";
    EXPECT_GE(gap, wait) << "probe " << i - 4;
    EXPECT_LE(gap, wait + milliseconds(1000)) << "probe " << i - 4;
  }
  std::sort(refusedMicros.begin(), refusedMicros.end());
  const size_t refused = refusedMicros.size();
  const auto at = [&](double p) {
    return refused == 0 ? 0.0 : refusedMicros[static_cast<size_t>(p * (refused - 1))];
  };
  std::printf(
      "fault-matrix | breaker_refused | %zu calls with traffic (%llu connection attempts), then %zu refused "
      "without one: p50 %.1f us, p99 %.1f us, longest %.1f us; probes after%s\n",
      withTraffic.size(), static_cast<unsigned long long>(connects), refused, at(0.5), at(0.99), at(1.0),
      probes.c_str());
  std::fflush(stdout);
  ASSERT_GE(withTraffic.size(), 5u + static_cast<size_t>(run / wait) - 1);
  EXPECT_LE(withTraffic.size(), 5u + static_cast<size_t>(run / wait));
  EXPECT_EQ(connects, withTraffic.size() * kAttempts) << "a refused call made a connection attempt";
  ASSERT_GT(refused, 0u);
  EXPECT_LT(at(0.5), 5000.0);  // generous, and the median (sanitizers, busy cores): the print is the figure

  server.listen();
  const auto back = Clock::now() + wait + milliseconds(1000);
  while (Clock::now() < back && call().first != "score") std::this_thread::sleep_for(milliseconds(10));
  EXPECT_EQ(call().first, "score");
  EXPECT_EQ(metrics.attempts(AttemptResult::kConnect), connects);
  std::vector<std::pair<uint32_t, std::string>> changes;
  for (const auto& entry : log.entries()) {
    if (entry.lines[0].find("circuit") != std::string::npos)
      changes.emplace_back(entry.level, entry.lines[0]);
  }
  const std::string subject =
      "circuit for ATTR_TYPE [REFUSED] " + server.uri("/score?breaker=5&breakerWait=2000");
  ASSERT_EQ(changes.size(), 2u);
  using Change = std::pair<uint32_t, std::string>;
  EXPECT_EQ(changes[0], Change(kLogWarning, "HTTP Callout " + subject +
                                                " opened after 5 failed calls: calls "
                                                "fail at once, one probe call every 2000 ms"));
  EXPECT_EQ(changes[1], Change(kLogNote, "HTTP Callout " + subject + " closed: the service answers again"));
}

}  // namespace
}  // namespace hcs
