// Three instances of the reference service named in one callout URI, scored through by host threads
// while the fleet changes under them: a rolling restart, and an instance killed for good. What each
// instance did is read from the metrics file's text. Each row prints a line "fleet | ..." for the record.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "metrics/callout_metrics.h"
#include "support/hcs_fleet.h"
#include "support/host_calls.h"
#include "support/score_load.h"

namespace hcs {
namespace {

using std::chrono::milliseconds;

constexpr char kCallout[] = "/score?balance=roundRobin&retries=2&retryOn=connect,reset,5xx&backoff=20";

bool waitFor(const std::function<bool()>& condition, milliseconds bound) {
  for (const auto until = std::chrono::steady_clock::now() + bound; !condition();) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return true;
}

class InstanceListFleet : public ::testing::Test {
 protected:
  // The callout's counters, under `typeId` and `type` in the metrics file.
  CalloutMetrics* counters(int32_t typeId, const std::string& type) {
    type_ = "type_id=\"" + std::to_string(typeId) + "\",type=\"" + type + "\"";
    return registry().forType(typeId, type);
  }

  // One instance's number in the metrics file: `family` with the labels that follow the instance's.
  long sample(const std::string& family, const std::string& address, const std::string& labels = "") const {
    const std::string series = family + "{" + type_ + ",instance=\"" + address + "\"" + labels + "} ";
    const std::string text = registry().exposition();
    const size_t at = text.find("\n" + series);
    return at == std::string::npos ? -1 : std::atol(text.c_str() + at + 1 + series.size());
  }
  long attempts(const std::string& address, const char* result) const {
    return sample("hcs_attempts_total", address, ",result=\"" + std::string(result) + "\"");
  }
  // "ok 20512, connect 3" for the results an instance had.
  std::string attemptsText(const std::string& address) const {
    std::string text;
    for (const char* result : {"ok", "connect", "reset", "timeout", "5xx", "other"}) {
      if (const long n = attempts(address, result); n > 0)
        text += (text.empty() ? "" : ", ") + std::string(result) + " " + std::to_string(n);
    }
    return text;
  }
  long failedAttempts() const {
    long failed = 0;
    for (const std::string& address : fleet_.addresses()) {
      for (const char* result : {"connect", "reset", "timeout", "5xx", "4xx", "other"})
        failed += std::max(attempts(address, result), 0L);
    }
    return failed;
  }
  bool servesAgain(const std::string& address, milliseconds bound) const {
    const long before = attempts(address, "ok");
    return waitFor([&] { return attempts(address, "ok") > before; }, bound);
  }

  // The blocks outlive the callout table, which keeps every interface to the end.
  static MetricsRegistry& registry() {
    static MetricsRegistry& registry = *new MetricsRegistry;
    return registry;
  }

  test::HcsFleet fleet_{HCS_TOOL_PATH};
  std::string type_;
};

// A restarted instance is ejected while it is down and comes back once its ejection (5 s) is over.
TEST_F(InstanceListFleet, RollingRestartFailsNoCall) {
  CalloutMetrics* metrics = counters(22001, "LIST");
  test::ScoreLoad load(test::registerWithSettings(fleet_.uri(kCallout), "LIST", metrics), 4);
  for (const std::string& address : fleet_.addresses())
    ASSERT_TRUE(servesAgain(address, milliseconds(10000))) << address << " never served";

  const auto restarts = fleet_.rollingRestart(milliseconds(2000), [&](const test::HcsInstance& instance) {
    EXPECT_TRUE(servesAgain(instance.address(), milliseconds(20000)))
        << instance.address() << " served nothing after its restart";
  });
  load.stop();

  std::string perInstance, restartTimes;
  for (size_t i = 0; i < fleet_.size(); ++i) {
    const std::string address = fleet_[i].address();
    perInstance += " " + address + " " + attemptsText(address) + ";";
    EXPECT_GT(attempts(address, "ok"), 0) << address;
  }
  for (const auto& restart : restarts) {
    restartTimes += " " + std::to_string(restart.took.count()) + " ms (closed " +
                    std::to_string(restart.closing.count()) + ", back " +
                    std::to_string(restart.returning.count()) + ")";
  }
  std::printf(
      "fleet | instance_list_rolling_restart | %ld calls, %ld failed, %ld retries | attempts per "
      "instance:%s each restart took%s\n",
      load.calls(), load.failed(), failedAttempts(), perInstance.c_str(), restartTimes.c_str());
  std::fflush(stdout);
  EXPECT_EQ(load.failed(), 0) << load.failures();
}

TEST_F(InstanceListFleet, AnInstanceKilledForGoodIsEjectedAndFailsNoCall) {
  CalloutMetrics* metrics = counters(22002, "KILLED");
  test::ScoreLoad load(test::registerWithSettings(fleet_.uri(kCallout), "KILLED", metrics), 4);
  for (const std::string& address : fleet_.addresses())
    ASSERT_TRUE(servesAgain(address, milliseconds(10000))) << address << " never served";
  EXPECT_EQ(sample("hcs_instance_ejected", fleet_[1].address()), 0);

  const std::string dead = fleet_[1].address();
  fleet_[1].kill();
  EXPECT_TRUE(waitFor([&] { return sample("hcs_instance_ejected", dead) == 1; }, milliseconds(10000)))
      << "never ejected";
  EXPECT_TRUE(load.waitForCalls(2000, milliseconds(10000)));
  load.stop();

  std::printf(
      "fleet | instance_list_one_killed | %ld calls, %ld failed, %ld retries | the killed one: %s, "
      "ejected %ld | the others: %s; %s\n",
      load.calls(), load.failed(), failedAttempts(), attemptsText(dead).c_str(),
      sample("hcs_instance_ejected", dead), attemptsText(fleet_[0].address()).c_str(),
      attemptsText(fleet_[2].address()).c_str());
  std::fflush(stdout);
  EXPECT_EQ(load.failed(), 0) << load.failures();
  EXPECT_EQ(sample("hcs_instance_ejected", dead), 1);
}

}  // namespace
}  // namespace hcs
