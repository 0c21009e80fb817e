// The production settings of a callout: how the URI's query is read and the circuit breaker's states.
#include "transport/callout_settings.h"

#include <barrier>
#include <string>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "error/qrm_exception.h"
#include "metrics/callout_metrics.h"
#include "plugin/callout_registry.h"
#include "plugin/init_plugin.h"
#include "support/capturing_dispatcher.h"
#include "transport/circuit_breaker.h"
#include "transport/http_interface.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

using std::chrono::milliseconds;

struct PolicyCase {
  std::string query;
  std::string expected;  // the settings in force, or the refusal's text
  std::vector<std::string> unknown = {};
  std::vector<std::string> ignored = {};
};

void PrintTo(const PolicyCase& c, std::ostream* out) { *out << "?" << c.query; }

class CalloutSettingsQuery : public ::testing::TestWithParam<PolicyCase> {};

TEST_P(CalloutSettingsQuery, IsReadOrRefusedNamingTheParameter) {
  const PolicyCase& c = GetParam();
  // A query alone goes on a one-instance URI.
  const CUri uri(UCString(c.query.starts_with("http") ? c.query : "http://h/p?" + c.query));
  try {
    const CalloutSettingsReading reading = readCalloutSettings(uri, 10000);
    EXPECT_EQ(reading.settings.describe(), c.expected);
    EXPECT_EQ(reading.unknown, c.unknown);
    EXPECT_EQ(reading.ignored, c.ignored);
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(e.what(), c.expected);
  }
}

const std::string kDefaults =
    "connectTimeout=10000 timeout=10000 deadline=none retries=3 retryOn=all backoff=0 breaker=off "
    "breakerWait=5000 requestIdHeader=off";
const std::string kBad = "Bad HTTP Callout URI parameter ";
const std::string kUnknown = "Unknown HTTP Callout URI parameter ";

INSTANTIATE_TEST_SUITE_P(
    Table, CalloutSettingsQuery,
    ::testing::Values(
        PolicyCase{"", kDefaults},
        PolicyCase{"connectTimeout=500&timeout=2000&deadline=3000&retryOn=5xx,connect&backoff=50&breaker=5&"
                   "breakerWait=2000&requestIdHeader=X-Request-Id&retries=1",
                   "connectTimeout=500 timeout=2000 deadline=3000 retries=1 retryOn=connect,5xx backoff=50 "
                   "breaker=5 breakerWait=2000 requestIdHeader=X-Request-Id"},
        // Without a new setting a parameter far from every known name passes, as it always did, and so
        // does a "retries" that is not a number (initPlugin warns about both).
        PolicyCase{"colour=red&retries=x&timer=5", kDefaults, {"colour=red", "timer=5"}, {"retries=x"}},
        PolicyCase{"timeout=300&dead=300",
                   kUnknown + "[dead=300]; the known ones are retries, connectTimeout, "
                              "timeout, deadline, retryOn, backoff, breaker, breakerWait, requestIdHeader"},
        // A setting's name in another letter case, or within two edits, is refused with or without other
        // settings.
        PolicyCase{"deadlne=300", kUnknown + "[deadlne=300]; did you mean deadline?"},
        PolicyCase{"retries=1&deadlinems=300", kUnknown + "[deadlinems=300]; did you mean deadline?"},
        PolicyCase{"Timeout=5&timeout=300", kUnknown + "[Timeout=5]; did you mean timeout?"},
        PolicyCase{"retryes=1", kUnknown + "[retryes=1]; did you mean retries?"},  // the nearer of two
        // Beside a setting, "retries" must be a number.
        PolicyCase{"deadline=300&retries=x", kBad + "[retries=x]: a whole number of retries is expected"},
        PolicyCase{"backoff=5&retries=", kBad + "[retries=]: a whole number of retries is expected"},
        // The smallest wait.
        PolicyCase{"connectTimeout=1", "connectTimeout=1" + kDefaults.substr(kDefaults.find(' '))},
        PolicyCase{"deadline=3600001",
                   kBad + "[deadline=3600001]: a whole number of milliseconds from 1 to 3600000 is expected"},
        PolicyCase{"backoff=",
                   kBad + "[backoff=]: a whole number of milliseconds from 0 to 3600000 is expected"},
        PolicyCase{"breaker=-1",
                   kBad + "[breaker=-1]: a whole number of calls from 0 to 1000000 is expected"},
        PolicyCase{"retryOn=connect,,5xx",
                   kBad + "[retryOn=connect,,5xx]: \"\" is none of connect, tls, reset, timeout, "
                          "5xx, 4xx, other"},
        PolicyCase{"requestIdHeader=content-type",
                   kBad + "[requestIdHeader=content-type]: the callout sets this header itself"},
        PolicyCase{"requestIdHeader=X%20Id", kBad +
                                                 "[requestIdHeader=X Id]: a header name of 1 to 64 letters, "
                                                 "digits and !#$%&'*+-.^_`|~ is expected"},
        // Several instances: their balancing and ejection, which mean nothing with one.
        PolicyCase{"http://a:1,b/p?balance=roundRobin&ejectAfter=2&ejectFor=300",
                   "instances=a:1,b:80 " + kDefaults + " balance=roundRobin ejectAfter=2 ejectFor=300"},
        PolicyCase{"http://a,b/p",
                   "instances=a:80,b:80 " + kDefaults + " balance=failover ejectAfter=3 ejectFor=5000"},
        PolicyCase{"http://a,b/p?balance=random",
                   kBad + "[balance=random]: failover or roundRobin is expected"},
        PolicyCase{"http://a,b/p?ejectAfter=0",
                   kBad + "[ejectAfter=0]: a whole number of attempts from 1 to 1000 is expected"},
        PolicyCase{"balance=roundRobin",
                   kBad + "[balance=roundRobin]: only a URI of several instances uses it"}));

TEST(ParameterNameDistance, CountsInsertionsDeletionsSubstitutionsAndSwapsOfNeighboursInAnyCase) {
  const std::tuple<const char*, const char*, size_t> cases[] = {
      {"DEADLINE", "deadline", 0}, {"deadlne", "deadline", 1},
      {"xtimeout", "timeout", 1},  {"deadlime", "deadline", 1},
      {"edadline", "deadline", 1}, {"deadlien", "deadline", 1},
      {"timer", "timeout", 3},     {"", "retries", 7},
      {"retries", "", 7},          {"reqeustIdHeadre", "requestIdHeader", 2}};
  for (const auto& [a, b, distance] : cases)
    EXPECT_EQ(parameterNameDistance(a, b), distance) << a << " " << b;
}

using Admission = CircuitBreaker::Admission;
using Clock = CircuitBreaker::Clock;

using Result = CircuitBreaker::Result;

std::string gauge(const CalloutMetrics& metrics) {
  std::string exposition;
  metrics.appendCircuitSeries(exposition);
  return exposition.substr(exposition.size() - 2, 1);
}

// Time is the breaker's argument: every step happens at a moment the test chooses.
TEST(CircuitBreaker, OpensAtTheThresholdProbesOnceAfterTheWaitAndLogsEachChangeOnce) {
  test::CapturingDispatcher log;
  CalloutMetrics metrics(1, "T");
  CircuitBreaker breaker(3, milliseconds(100), "ATTR_TYPE [T] http://h/", &metrics);
  const Clock::time_point t0 = Clock::now();
  const auto at = [&](int ms) { return t0 + milliseconds(ms); };
  std::string why;
  const auto call = [&](int ms, Result result) {
    const Admission admission = breaker.admit(at(ms), why);
    breaker.finish(admission, result, at(ms));
    return admission;
  };
  // A success starts the count again, and a call that sent nothing counts neither way.
  call(0, Result::kFailed);
  call(0, Result::kFailed);
  call(0, Result::kSucceeded);
  call(0, Result::kFailed);
  call(0, Result::kFailed);
  call(0, Result::kNothingSent);
  EXPECT_EQ(breaker.admit(at(0), why), Admission::kPass);
  EXPECT_EQ(gauge(metrics), "0");
  EXPECT_EQ(call(0, Result::kFailed), Admission::kPass);  // the third in a row opens it
  EXPECT_TRUE(breaker.isOpen());
  EXPECT_EQ(gauge(metrics), "1");
  EXPECT_EQ(breaker.admit(at(40), why), Admission::kRefused);
  EXPECT_EQ(why, "circuit open after 3 failed calls; next try in 60 ms");
  call(50, Result::kFailed);  // admitted while closed, ended while open: changes nothing
  EXPECT_EQ(breaker.admit(at(99), why), Admission::kRefused);
  EXPECT_EQ(breaker.admit(at(100), why), Admission::kProbe);
  breaker.finish(Admission::kPass, Result::kFailed, at(100));  // let through before it opened: no probe
  EXPECT_EQ(breaker.admit(at(100), why), Admission::kRefused);
  EXPECT_EQ(why, "circuit open after 3 failed calls; a probe call is under way");
  breaker.finish(Admission::kProbe, Result::kFailed, at(110));  // still down: another full wait
  EXPECT_EQ(breaker.admit(at(209), why), Admission::kRefused);
  EXPECT_EQ(why, "circuit open after 3 failed calls; next try in 1 ms");
  EXPECT_EQ(call(210, Result::kNothingSent), Admission::kProbe);  // the next call probes instead
  EXPECT_EQ(breaker.admit(at(210), why), Admission::kProbe);
  EXPECT_EQ(gauge(metrics), "1");
  breaker.finish(Admission::kProbe, Result::kSucceeded, at(210));
  EXPECT_FALSE(breaker.isOpen());
  EXPECT_EQ(gauge(metrics), "0");
  call(220, Result::kSucceeded);  // closed already: nothing more to log
  EXPECT_EQ(call(220, Result::kFailed), Admission::kPass);
  EXPECT_FALSE(breaker.isOpen()) << "the count starts anew after closing";
  call(230, Result::kFailed);
  call(230, Result::kFailed);
  EXPECT_TRUE(breaker.isOpen()) << "and opens again at the threshold";

  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].level, kLogWarning);
  EXPECT_EQ(entries[0].lines[0],
            "HTTP Callout circuit for ATTR_TYPE [T] http://h/ opened after 3 failed calls: "
            "calls fail at once, one probe call every 100 ms");
  EXPECT_EQ(entries[1].level, kLogNote);
  EXPECT_EQ(entries[1].lines[0],
            "HTTP Callout circuit for ATTR_TYPE [T] http://h/ closed: the service answers again");
  EXPECT_EQ(entries[2].level, kLogWarning);
}

// Many threads admit and finish calls against a service that fails and comes back, with the time
// moving on from call to call: never two probes at once, a refusal only while open, and in the end
// the gauge and the log lines agree with the state.
TEST(CircuitBreakerThreads, OneProbeAtATimeAndTheGaugeAndLogFollowTheState) {
  test::CapturingDispatcher log;
  CalloutMetrics metrics(1, "T");
  CircuitBreaker breaker(2, milliseconds(5), "T", &metrics);
  const Clock::time_point t0 = Clock::now();
  std::atomic<int64_t> clock{0};  // ms
  std::atomic<int> probesOut{0};
  std::atomic<int> overlaps{0};
  constexpr int kThreads = 8;
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      std::string why;
      for (int i = 0; i < 2000; ++i) {
        const auto now = t0 + milliseconds(clock.fetch_add(i % 3 == 0 ? 1 : 0));
        const Admission admission = breaker.admit(now, why);
        if (admission == Admission::kProbe && probesOut.fetch_add(1) != 0) ++overlaps;
        // The service is down for a while, then up for a while.
        const bool up = (now - t0) / milliseconds(1) % 400 >= 200;
        const Result result = (i + t) % 7 == 0 ? Result::kNothingSent
                              : up             ? Result::kSucceeded
                                               : Result::kFailed;
        if (admission == Admission::kProbe) probesOut.fetch_sub(1);
        breaker.finish(admission, result, now);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(gauge(metrics), breaker.isOpen() ? "1" : "0");
  const auto entries = log.entries();
  ASSERT_FALSE(entries.empty());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].level, i % 2 == 0 ? kLogWarning : kLogNote) << "line " << i << " out of step";
  }
  EXPECT_EQ(entries.size() % 2 == 1, breaker.isOpen());
}

TEST(CalloutSettingInit, ABadValueOrAMisspeltSettingIsRefusedAParameterFarFromAllIsWarnedAbout) {
  test::TempDir dir;
  const auto init = [&](const std::string& uri, const std::string& id) {
    const std::string doc = "<I><CONFIG_FILE>" + dir.write("c.ini", "[ATTR_URI]\nN=" + uri + "\n") +
                            "</CONFIG_FILE><ATTR_TYPE>N</ATTR_TYPE><ATTR_TYPE_ID>" + id +
                            "</ATTR_TYPE_ID></I>";
    std::string text(1024, '\0');
    const int32_t result = initializePlugin(doc.data(), static_cast<int32_t>(doc.size()), text.data());
    return std::pair{result, std::string(text.c_str())};
  };
  EXPECT_EQ(init("http://h/s?breaker=x", "15190"),
            std::pair(-1, "<ERROR>" + kBad +
                              "[breaker=x]: a whole number of calls from 0 to 1000000 is expected</ERROR>"));
  EXPECT_EQ(calloutRegistry().find(15190), nullptr);
  EXPECT_EQ(init("http://h/s?deadlne=300", "15192"),
            std::pair(-1, "<ERROR>" + kUnknown + "[deadlne=300]; did you mean deadline?</ERROR>"));
  EXPECT_EQ(calloutRegistry().find(15192), nullptr);
  test::CapturingDispatcher log;
  EXPECT_EQ(init("http://h/s?colour=red&retries=x", "15191").first, 0);
  EXPECT_EQ(
      log.allLines(),
      (std::vector<std::string>{
          "HTTP Callout URI [http://h/s?colour=red&retries=x]: parameter [colour=red] is not known and is "
          "ignored",
          "HTTP Callout URI [http://h/s?colour=red&retries=x]: parameter [retries=x] is not a number and "
          "is ignored"}));
}

}  // namespace
}  // namespace hcs
