// Three instances of the reference service behind nginx, scored through by host threads while the fleet
// changes under them: a rolling restart, a reload of nginx, connections nginx closes when idle. Each
// row prints a line "fleet | ..." for the record.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "metrics/callout_metrics.h"
#include "support/hcs_fleet.h"
#include "support/host_calls.h"
#include "support/nginx_balancer.h"
#include "support/score_load.h"

namespace hcs {
namespace {

using std::chrono::milliseconds;
using test::HcsFleet;
using test::NginxBalancer;

// What a host behind a balancer is advised to set: a refused connection, a broken one and a 5xx from
// the balancer are tried again, twice, after a short random pause.
constexpr char kCallout[] = "/score?retries=2&retryOn=connect,reset,5xx&backoff=20";

// "ok 1200, reset 3" : the attempts of every result that occurred.
std::string attempts(const CalloutMetrics& metrics) {
  std::string text;
  for (size_t r = 0; r < static_cast<size_t>(AttemptResult::kCount); ++r) {
    const auto result = static_cast<AttemptResult>(r);
    if (metrics.attempts(result) == 0) continue;
    text += (text.empty() ? "" : ", ") + std::string(attemptResultName(result)) + " " +
            std::to_string(metrics.attempts(result));
  }
  return text;
}

uint64_t failedAttempts(const CalloutMetrics& metrics) {
  uint64_t failed = 0;
  for (size_t r = 1; r < static_cast<size_t>(AttemptResult::kCount); ++r)
    failed += metrics.attempts(static_cast<AttemptResult>(r));
  return failed;
}

class NginxFleet : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NginxBalancer::available()) GTEST_SKIP() << "nginx is not installed (bash scripts/setup-deps.sh)";
  }
};

TEST_F(NginxFleet, RollingRestartAndReloadFailNoCall) {
  HcsFleet fleet(HCS_TOOL_PATH);
  NginxBalancer nginx(fleet.addresses(), {});
  // Outlives the callout table, which keeps every interface to the end.
  static CalloutMetrics& metrics = *new CalloutMetrics(0, "FLEET");
  test::ScoreLoad load(test::registerWithSettings(nginx.uri(kCallout), "FLEET", &metrics), 4);
  for (const std::string& instance : fleet.addresses())
    ASSERT_TRUE(nginx.waitUntilServes(instance, milliseconds(10000))) << instance << " never served";

  // The next instance goes down only once nginx sends requests to the one that came back, as an
  // operator's rolling restart waits for each instance's health.
  const auto restarts = fleet.rollingRestart(milliseconds(2000), [&](const test::HcsInstance& instance) {
    EXPECT_TRUE(nginx.waitUntilServes(instance.address(), milliseconds(10000)))
        << instance.address() << " served nothing after its restart";
  });
  const milliseconds reload = nginx.reload();
  EXPECT_TRUE(load.waitForCalls(200, milliseconds(10000))) << "the calls stopped after the reload";
  load.stop();
  // nginx first: the instances then end without waiting for its idle connections.
  nginx.stop();
  fleet.stopAll();

  const NginxBalancer::Tally& tally = nginx.tally();
  std::string perInstance, restartTimes;
  for (size_t i = 0; i < fleet.size(); ++i) {
    const std::string address = fleet[i].address();
    perInstance += " " + address + " " + std::to_string(tally.answeredBy(address)) + " (it counted " +
                   std::to_string(fleet[i].served()) + ");";
    EXPECT_GT(tally.answeredBy(address), 0) << address;
  }
  for (const auto& restart : restarts) {
    restartTimes += " " + std::to_string(restart.took.count()) + " ms (closed " +
                    std::to_string(restart.closing.count()) + ", back " +
                    std::to_string(restart.returning.count()) + ")";
  }
  std::printf(
      "fleet | rolling_restart_and_reload | %ld calls, %ld failed, %llu retries | attempts: %s | served "
      "per instance:%s nginx passed %ld on to another instance, answered %ld with an error | each restart "
      "took%s, the reload %lld ms\n",
      load.calls(), load.failed(), static_cast<unsigned long long>(failedAttempts(metrics)),
      attempts(metrics).c_str(), perInstance.c_str(), tally.passedOn, tally.failed, restartTimes.c_str(),
      static_cast<long long>(reload.count()));
  std::fflush(stdout);
  EXPECT_EQ(load.failed(), 0) << load.failures();
}

// nginx closes a client connection idle for 1 s; a call 1.1 s later finds its kept connection closed.
// libcurl sends such a request again on a new connection, which is no failed attempt.
TEST_F(NginxFleet, ConnectionsTheBalancerClosesWhenIdleCostNoRetry) {
  HcsFleet fleet(HCS_TOOL_PATH);
  NginxBalancer nginx(fleet.addresses(), {.idleClientSeconds = 1});
  static CalloutMetrics& metrics = *new CalloutMetrics(0, "IDLE");
  const std::string key = test::registerWithSettings(nginx.uri(kCallout), "IDLE", &metrics);
  constexpr int kThreads = 4, kRounds = 6;
  constexpr milliseconds kSpacing(1100);
  std::atomic<int> failed{0};
  long firstRoundConnections = 0;
  for (int round = 0; round < kRounds; ++round) {
    if (round > 0) std::this_thread::sleep_for(kSpacing);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        const std::string record = test::attribute(key, "value " + std::to_string(t));
        const std::string answer = test::callScore("<REQ/>", record, record);
        if (!answer.starts_with("0|<SCORE_RESULT><SCORE>")) {
          ++failed;
          ADD_FAILURE() << "round " << round << ": " << answer;
        }
      });
    }
    for (auto& thread : threads) thread.join();
    if (round == 0) firstRoundConnections = nginx.tally().newConnections;
  }

  const NginxBalancer::Tally& tally = nginx.tally();
  std::printf(
      "fleet | idle_close_1s | %d calls in rounds %lld ms apart, %d failed, %llu retries | attempts: %s | "
      "%ld of the requests came on a new connection\n",
      kThreads * kRounds, static_cast<long long>(kSpacing.count()), failed.load(),
      static_cast<unsigned long long>(failedAttempts(metrics)), attempts(metrics).c_str(),
      tally.newConnections);
  std::fflush(stdout);
  EXPECT_EQ(failedAttempts(metrics), 0u) << attempts(metrics);
  EXPECT_EQ(metrics.attempts(AttemptResult::kOk), static_cast<uint64_t>(kThreads * kRounds));
  // The rows above are only worth something when nginx did close connections between the rounds.
  EXPECT_GT(tally.newConnections, firstRoundConnections) << "nginx closed no idle connection";
}

}  // namespace
}  // namespace hcs
