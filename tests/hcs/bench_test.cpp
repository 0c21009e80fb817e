// The parts of hcs bench that run in process: its latency figures, harness, targets and report.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "bench/call_pattern.h"
#include "bench/curl_clients.h"
#include "bench/floor_client.h"
#include "bench/harness.h"
#include "bench/latency_histogram.h"
#include "bench/report.h"
#include "bench/service_url.h"
#include "config/ini_fixture.h"
#include "host/pairs.h"
#include "host/plugin_library.h"
#include "support/http_test_server.h"

namespace hcs {
namespace {

using bench::LatencyHistogram;
using test::HttpTestAnswer;

TEST(LatencyHistogram, PercentilesLieWithinABucketOfTheTrueValue) {
  LatencyHistogram lower, upper, none;
  for (uint64_t ns = 1; ns <= 100000; ++ns) (ns <= 50000 ? lower : upper).record(ns);
  LatencyHistogram all;
  all.merge(lower);
  all.merge(upper);
  ASSERT_EQ(all.count(), 100000u);
  const std::pair<double, double> cases[] = {{0.5, 50000}, {0.99, 99000}, {0.999, 99900}, {1.0, 100000}};
  for (const auto& [p, expected] : cases) EXPECT_NEAR(all.percentile(p), expected, expected / 128) << p;

  LatencyHistogram small;  // exact below 128 ns
  for (const uint64_t ns : {3, 3, 3, 9}) small.record(ns);
  EXPECT_EQ(small.percentile(0.75), 3);
  EXPECT_EQ(small.percentile(1.0), 9);
  EXPECT_EQ(none.percentile(0.5), 0);
  LatencyHistogram huge;  // past the last bucket: counted there, not lost or misplaced
  huge.record(uint64_t{1} << 50);
  EXPECT_NEAR(huge.percentile(1.0), 2.2e12, 0.01e12);
}

// Every thread makes its calls with a caller of its own after one untimed call; a side that cannot make
// its first call is not measured at all; rates and CPU are the median of the rounds.
TEST(BenchHarnessThreads, CountsEveryTimedCallOnceAndMeasuresNothingWhenAFirstCallFails) {
  std::atomic<int> callers{0}, calls{0};
  const bench::CallerFactory everyThirdFails = [&] {
    ++callers;
    return [&, n = 0]() mutable {
      ++calls;
      if (n++ == 0) return true;  // the untimed first call
      if (n % 3 == 0) throw std::runtime_error("counts as failed");
      return n % 3 != 1;
    };
  };
  bench::SideTotals totals;
  int warm = 0;  // once per run, when every thread has made its first call and none a timed one
  const auto countWarm = [&] { warm += calls.load() == 3 ? 1 : 100; };
  ASSERT_TRUE(bench::runTimed(3, 6, everyThirdFails, {}, totals, countWarm));
  const auto serviceCpu = [] { return 100LL; };
  ASSERT_TRUE(bench::runTimed(3, 6, everyThirdFails, serviceCpu, totals));
  EXPECT_EQ(warm, 1);
  EXPECT_EQ(callers.load(), 6);
  EXPECT_EQ(calls.load(), 6 * 7);
  EXPECT_EQ(totals.calls, 36);
  EXPECT_EQ(totals.failed, 24);
  EXPECT_EQ(totals.latency.count(), 36u);
  EXPECT_EQ(totals.roundRates.size(), 2u);
  EXPECT_EQ(totals.serviceMicrosPerCall(), 0);  // read, but it did not move

  bench::SideTotals untouched;
  const bench::CallerFactory firstFails = [] { return [] { return false; }; };
  EXPECT_FALSE(bench::runTimed(2, 5, firstFails, {}, untouched, countWarm));
  EXPECT_EQ(warm, 1);
  const bench::CallerFactory noClient = []() -> bench::Caller { throw std::runtime_error("no client"); };
  EXPECT_FALSE(bench::runTimed(2, 5, noClient, {}, untouched));
  EXPECT_EQ(untouched.calls, 0);
  EXPECT_EQ(untouched.serviceMicrosPerCall(), -1);

  untouched.roundRates = {30, 10, 20};
  untouched.roundCpuMicros = {4, 1, 3, 2};
  EXPECT_EQ(untouched.callsPerSecond(), 20);
  EXPECT_EQ(untouched.cpuMicrosPerCall(), 2.5);
}

TEST(HttpTarget, ReadsHostPortAndTargetOrRefusesTheUrl) {
  const std::pair<std::string, std::string> cases[] = {
      {"http://127.0.0.1:8080/score?x=1", "127.0.0.1|8080|/score?x=1"},
      {"HTTP://host", "host|80|/"},
      {"http://host:/x", "refused"},
      {"http://host:70000/", "refused"},
      {"http://host:8o/", "refused"},
      {"https://host/", "refused"},
      {"http://user@host/", "refused"},
      {"http://[::1]:80/", "refused"}};
  for (const auto& [url, expected] : cases) {
    bench::HttpTarget target;
    const bool read = bench::parseHttpTarget(url, target);
    EXPECT_EQ(read ? target.host + "|" + std::to_string(target.port) + "|" + target.target : "refused",
              expected)
        << url;
  }
}

// The baselines must post where the plugin posts (the plugin sends no query), reading the URI as
// initPlugin does: what it refuses, the benchmark refuses with its text.
TEST(ServiceUrl, DropsTheQueryAndRefusesWhatThePluginRefuses) {
  const std::pair<std::string, std::string> cases[] = {
      {"http://h:8080/score?retries=1", "http://h:8080/score plain"},
      {"HTTPS://h/s?tlsMin=1.3", "HTTPS://h/s tls 1.3"},
      {"http://h/s?caFile=x", "refused: Bad HTTP Callout URI parameter [caFile=x]"},
      {"https://h/s?tlsMin=1.4", "refused: Bad HTTP Callout URI parameter [tlsMin=1.4]"}};
  for (const auto& [uri, expected] : cases) {
    bench::ServiceUrl read;
    std::string why;
    const std::string got = !bench::readServiceUrl(uri, read, why) ? "refused: " + why
                            : read.settings.tls ? read.url + (read.settings.tls13 ? " tls 1.3" : " tls 1.2")
                                                : read.url + " plain";
    EXPECT_EQ(got.substr(0, expected.size()), expected) << uri << ": " << why;
  }
}

// What printText writes for `report`.
std::string text(const bench::BenchReport& report) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = ::open_memstream(&buffer, &size);
  bench::printText(out, report);
  std::fclose(out);
  std::string written(buffer, size);
  std::free(buffer);
  return written;
}

// A user reads the default output at a glance: at most 12 lines, each side named with what it is, the
// plugin against each baseline. A sweep gives one line per thread count instead.
TEST(BenchReport, FitsTwelveLinesAndSaysWhichSideIsWhich) {
  bench::BenchReport report;
  report.url = "http://127.0.0.1:1/score";
  report.service = "echo";
  report.allocationsCounted = report.curlAllocationsApart = true;
  report.outcomes = {{"ok", 10}, {"transport", 0}};
  bench::CountRun run;
  double cpu = 3;
  for (const std::string_view side : {bench::kFloor, bench::kCurlMulti, bench::kCurlEasy, bench::kPlugin}) {
    bench::SideRun sideRun{std::string(side), {}};
    sideRun.totals.calls = 10;
    sideRun.totals.roundRates = {1000 / cpu};
    sideRun.totals.roundCpuMicros = {cpu++};
    sideRun.totals.latency.record(20000);
    run.sides.push_back(sideRun);
  }
  report.runs = {run};
  const std::string one = text(report);
  EXPECT_LE(std::count(one.begin(), one.end(), '\n'), 12) << one;
  for (const std::string_view side : {bench::kFloor, bench::kCurlMulti, bench::kCurlEasy, bench::kPlugin})
    EXPECT_NE(one.find(std::string(side) + " "), std::string::npos) << side << "\n" << one;
  EXPECT_NE(one.find(std::string(bench::sideMeaning(bench::kFloor))), std::string::npos) << one;
  EXPECT_NE(one.find("plugin/curl-multi 0.67 of its calls/s, +2.00 us cpu per call"), std::string::npos)
      << one;
  EXPECT_NE(one.find("plugin metrics: ok 10\n"), std::string::npos) << one;

  report.runs = {run, run, run};
  report.runs[1].threads = 4;
  report.runs[2].threads = 16;
  const std::string sweep = text(report);
  EXPECT_NE(sweep.find("threads 1,4,16;"), std::string::npos) << sweep;
  EXPECT_NE(sweep.find("\n     16 "), std::string::npos) << sweep;
}

}  // namespace
}  // namespace hcs
