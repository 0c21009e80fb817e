// What the metrics add to one score call: the counting that score, the attempt loop and the connection
// pool do when HTTPCALLOUT_METRICS is set, on one type's block shared by every calling thread.
#include <benchmark/benchmark.h>

#include <chrono>

#include "metrics/callout_metrics.h"

namespace hcs {
namespace {

CalloutMetrics& sharedBlock() {
  static CalloutMetrics block(1, "BENCH");
  return block;
}

// One successful call: lend and return a kept connection, one attempt, the call and its duration (the
// clock read at the end; the one at the start serves the deadline as well, and is counted here too).
void BM_MetricsPerScoreCall(benchmark::State& state) {
  CalloutMetrics& metrics = sharedBlock();
  for (auto _ : state) {
    const auto started = std::chrono::steady_clock::now();
    metrics.addBusy(1);
    metrics.addIdle(-1);
    metrics.countAttempt(AttemptResult::kOk);
    metrics.addBusy(-1);
    metrics.addIdle(1);
    metrics.countCall(CallOutcome::kOk, std::chrono::steady_clock::now() - started);
  }
  benchmark::DoNotOptimize(metrics.calls(CallOutcome::kOk));
}
BENCHMARK(BM_MetricsPerScoreCall)->ThreadRange(1, 2)->UseRealTime();

// The writer's side, for scale: the text of one type, as written every interval.
void BM_MetricsExposition(benchmark::State& state) {
  MetricsRegistry registry;
  registry.forType(1, "BENCH")->countCall(CallOutcome::kOk, std::chrono::microseconds(250));
  for (auto _ : state) benchmark::DoNotOptimize(registry.exposition());
}
BENCHMARK(BM_MetricsExposition);

}  // namespace
}  // namespace hcs
