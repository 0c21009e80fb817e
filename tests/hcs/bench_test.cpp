// The parts of hcs bench: its latency figures, the clients of its baselines, and the bytes they post.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "../config/ini_fixture.h"
#include "bench/call_pattern.h"
#include "bench/curl_clients.h"
#include "bench/floor_client.h"
#include "bench/harness.h"
#include "bench/latency_histogram.h"
#include "bench/report.h"
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

// One post of each baseline's client, whichever it is.
std::function<bool(std::string_view)> clientOf(const std::string& kind, const std::string& url) {
  if (kind == "floor") {
    bench::HttpTarget target;
    bench::parseHttpTarget(url, target);
    auto client = std::make_shared<bench::FloorClient>(target);
    return [client](std::string_view body) { return client->post(body); };
  }
  if (kind == "curl-multi") {
    auto client = std::make_shared<bench::CurlMultiClient>(url);
    return [client](std::string_view body) { return client->post(body); };
  }
  auto client = std::make_shared<bench::CurlEasyClient>(url);
  return [client](std::string_view body) { return client->post(body); };
}

class BenchClient : public ::testing::TestWithParam<std::string> {};

// Each baseline must post what the plugin posts (the same head fields and body), keep its connection,
// and count a bad reply as a failure and then carry on with a new connection.
TEST_P(BenchClient, PostsThePluginsHeadOnAKeptConnectionAndCarriesOnAfterAFailure) {
  test::HttpTestServer server;
  server.enqueue(HttpTestAnswer::ok("<SCORE/>"), 2);
  server.enqueue(HttpTestAnswer::withFault(HttpTestAnswer::Fault::kGarbageStatusLine));
  server.enqueue(HttpTestAnswer::withStatus(500, "Internal Server Error", "busy"));
  server.setDefault(HttpTestAnswer::ok("<SCORE/>"));
  const auto post = clientOf(GetParam(), server.uri("/score"));
  const std::string body = "<ATTRS_TO_SCORE><R/></ATTRS_TO_SCORE>\n";
  std::string results;
  for (int i = 0; i < 5; ++i) results += post(body) ? "ok " : "failed ";
  EXPECT_EQ(results, "ok ok failed failed ok ");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 5u);
  for (const auto& request : requests) {
    std::vector<std::string> names;
    for (const auto& header : request.headers) names.push_back(header.first);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(request.requestLine + " " + testing::PrintToString(names),
              "POST /score HTTP/1.1 { \"Content-Length\", \"Content-Type\", \"Host\" }");
    EXPECT_EQ(request.header("Content-Type"), "text/xml; charset=UTF-8");
    EXPECT_EQ(request.body, body);
  }
  EXPECT_EQ(requests[1].connection, requests[0].connection);
  EXPECT_EQ(requests[2].connection, requests[0].connection);
  EXPECT_NE(requests[3].connection, requests[2].connection);  // the garbage reply ended the first
}

INSTANTIATE_TEST_SUITE_P(Baselines, BenchClient, ::testing::Values("floor", "curl-multi", "curl-easy"));

// The baselines post the pattern's wire documents: they must be what the plugin itself posts for the
// pattern's three documents, or the comparison is of different work.
TEST(BenchWireDocument, IsByteForByteWhatThePluginPostsForEachPattern) {
  test::HttpTestServer server;
  server.setDefault(HttpTestAnswer::ok("<SCORE_RESULT><SCORE>1</SCORE></SCORE_RESULT>"));
  test::TempDir dir;
  const std::string ini = dir.write("bench.ini", "[ATTR_URI]\nBENCH=" + server.uri("/score") + "\n");
  std::string error;
  const auto plugin = host::PluginLibrary::open(HCS_PLUGIN_PATH, error);
  ASSERT_NE(plugin, nullptr) << error;
  const std::string init = host::initDocument(ini, "BENCH", "BENCH", 1);
  char text[4097] = "";
  ASSERT_EQ(plugin->initPlugin(init.data(), static_cast<int32_t>(init.size()), text), 0) << text;
  for (const char* pattern : bench::kPatterns) {
    const auto calls = bench::callsOf(pattern);
    for (size_t i = 0; i < std::min<size_t>(calls.size(), 2); ++i) {
      const bench::CallDocuments& call = calls[i];
      ASSERT_EQ(plugin->score(call.request.data(), static_cast<int32_t>(call.request.size()),
                              call.inbound.data(), static_cast<int32_t>(call.inbound.size()),
                              call.matched.data(), static_cast<int32_t>(call.matched.size()), text, 4096),
                0)
          << text;
      EXPECT_EQ(server.requests().back().body, call.wire) << pattern << " " << i;
    }
  }
}

}  // namespace
}  // namespace hcs
