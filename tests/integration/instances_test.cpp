// Callouts to several instances of a service, on time that moves only when the test says: where each
// attempt goes, when an instance is ejected and when it is tried again, what the log and gauges say.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metrics/callout_metrics.h"
#include "support/capturing_dispatcher.h"
#include "support/fake_call_time.h"
#include "support/http_test_server.h"
#include "transport/call_loop.h"
#include "transport/callout.h"
#include "transport/callout_settings.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

using std::chrono::milliseconds;
using test::HttpTestAnswer;
using test::HttpTestServer;

// Three instances on loopback; instance `down` (if any) refuses connections until it listens.
class CalloutInstances : public ::testing::Test {
 protected:
  void start(int down = -1) {
    for (int i = 0; i < 3; ++i) servers_.push_back(std::make_unique<HttpTestServer>(i != down));
  }
  std::string uri(const std::string& query) const {
    std::string list;
    for (const auto& s : servers_)
      list += (list.empty() ? "" : ",") + std::string("127.0.0.1:") + std::to_string(s->port());
    return "http://" + list + "/score?" + query;
  }
  std::unique_ptr<Callout> callout(const std::string& query) {
    const CUri parsed{UCString(uri(query))};
    return std::make_unique<Callout>(parsed, readCalloutSettings(parsed, 10000).settings, "T", &metrics_,
                                     &time_);
  }
  bool call(const Callout& callout) {
    CalloutCall attempts(callout, time_.now());
    std::string reply;
    return attempts.run(std::string_view("<X/>"), reply) == CalloutCall::End::kDelivered;
  }
  std::vector<size_t> requests() const {
    std::vector<size_t> counts;
    for (const auto& s : servers_) counts.push_back(s->requestCount());
    return counts;
  }
  std::string ejected(int i) const {
    std::string text;
    const_cast<CalloutMetrics&>(metrics_).appendEjectedSeries(text);
    const std::string name = "127.0.0.1:" + std::to_string(servers_[i]->port());
    const size_t at = text.find(name);
    return at == std::string::npos ? "?" : text.substr(text.find("} ", at) + 2, 1);
  }

  std::vector<std::unique_ptr<HttpTestServer>> servers_;
  test::FakeCallTime time_;
  CalloutMetrics metrics_{1, "T"};
};

// A dead instance never fails a call: the retry goes to the next one. After three failed attempts it
// is skipped; once its time is up one call tries it (and fails: out for twice as long), and when it
// listens again the next try brings it back. Each change is logged once.
TEST_F(CalloutInstances, ADeadOneIsEjectedTriedAgainAfterItsTimeAndBackWhenItAnswers) {
  start(0);
  test::CapturingDispatcher log;
  const auto c = callout("retries=2&ejectAfter=3&ejectFor=1000");
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(call(*c)) << "call " << i;
  EXPECT_EQ(requests(), (std::vector<size_t>{0, 5, 0}));  // failover: the first that is up
  EXPECT_EQ(ejected(0), "1");
  time_.advance(milliseconds(1000));
  EXPECT_TRUE(call(*c));  // tries instance 0 once more, then goes on to 1
  EXPECT_EQ(requests(), (std::vector<size_t>{0, 6, 0}));
  time_.advance(milliseconds(1999));
  servers_[0]->listen();
  EXPECT_TRUE(call(*c));
  EXPECT_EQ(requests(), (std::vector<size_t>{0, 7, 0})) << "still out: twice as long after a failed try";
  time_.advance(milliseconds(1));
  EXPECT_TRUE(call(*c));
  EXPECT_EQ(requests(), (std::vector<size_t>{1, 7, 0}));
  EXPECT_EQ(ejected(0), "0");
  const auto lines = log.allLines();
  ASSERT_EQ(lines.size(), 2u + 4u) << ::testing::PrintToString(lines);  // and 4 refused connections
  std::vector<std::string> changes;
  for (const auto& line : lines) {
    if (line.find("instance") != std::string::npos) changes.push_back(line);
  }
  const std::string name = "127.0.0.1:" + std::to_string(servers_[0]->port());
  EXPECT_EQ(changes,
            (std::vector<std::string>{"HTTP Callout instance " + name + " of ATTR_TYPE [T] " +
                                          uri("retries=2&ejectAfter=3&ejectFor=1000") +
                                          " ejected after 3 failed attempts: skipped for 1000 ms",
                                      "HTTP Callout instance " + name + " of ATTR_TYPE [T] " +
                                          uri("retries=2&ejectAfter=3&ejectFor=1000") + " is back"}));
}

TEST_F(CalloutInstances, RoundRobinStartsEachCallAtTheNextInstance) {
  start();
  const auto c = callout("balance=roundRobin");
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(call(*c));
  EXPECT_EQ(requests(), (std::vector<size_t>{2, 2, 2}));
}

// A status the service answers with is a failed attempt too; a retry takes the next instance.
TEST_F(CalloutInstances, ARetryGoesToTheNextInstance) {
  start();
  servers_[0]->setDefault(HttpTestAnswer::withStatus(503, "Service Unavailable", ""));
  const auto c = callout("retries=1");
  EXPECT_TRUE(call(*c));
  EXPECT_EQ(requests(), (std::vector<size_t>{1, 1, 0}));
}

// With every instance ejected a call still tries the one whose ejection ends first.
TEST_F(CalloutInstances, WhenAllAreEjectedTheSoonestBackIsTried) {
  start();
  for (const auto& s : servers_) s->setDefault(HttpTestAnswer::withStatus(503, "Service Unavailable", ""));
  const auto c = callout("retries=0&ejectAfter=1&ejectFor=1000");
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(call(*c));
    time_.advance(milliseconds(10));
  }
  EXPECT_EQ(requests(), (std::vector<size_t>{1, 1, 1}));
  servers_[0]->setDefault(HttpTestAnswer::ok("<S/>"));
  EXPECT_TRUE(call(*c)) << "all three are out; the first one ejected comes back first";
  EXPECT_EQ(requests(), (std::vector<size_t>{2, 1, 1}));
}

}  // namespace
}  // namespace hcs
