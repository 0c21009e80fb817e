// What the metrics add to one score call: the counting that score, the attempt loop and the connection
// pool do when HTTPCALLOUT_METRICS is set, on one type's block shared by every calling thread.
#include <chrono>

#include <benchmark/benchmark.h>

#include "metrics/callout_metrics.h"

namespace hcs {
namespace {

CalloutMetrics& sharedBlock() {
  static CalloutMetrics block(1, "BENCH");
  return block;
}

// Isolates the counting of one successful call: the two clock reads of its duration (without metrics
// score reads none), one attempt, the call. Connections are read from the pool when the file is written, not
// counted per call.
void BM_MetricsPerScoreCall(benchmark::State& state) {
  CalloutMetrics& metrics = sharedBlock();
  for (auto _ : state) {
    const auto started = std::chrono::steady_clock::now();
    metrics.countAttempt(AttemptResult::kOk);
    metrics.countCall(CallOutcome::kOk, std::chrono::steady_clock::now() - started);
  }
  benchmark::DoNotOptimize(metrics.calls(CallOutcome::kOk));
}
BENCHMARK(BM_MetricsPerScoreCall)->ThreadRange(1, 2)->UseRealTime();

// Isolates the clock read, to tell its share from the counting's.
void BM_SteadyClockRead(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(std::chrono::steady_clock::now());
}
BENCHMARK(BM_SteadyClockRead);

// Isolates the writer's side, for scale: the text of one type, as written every interval.
void BM_MetricsExposition(benchmark::State& state) {
  MetricsRegistry registry;
  registry.forType(1, "BENCH")->countCall(CallOutcome::kOk, std::chrono::microseconds(250));
  for (auto _ : state) benchmark::DoNotOptimize(registry.exposition());
}
BENCHMARK(BM_MetricsExposition);

}  // namespace
}  // namespace hcs
