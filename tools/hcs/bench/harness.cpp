#include "bench/harness.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <latch>
#include <thread>
#include <vector>

#include <time.h>

#include "bench/alloc_count.h"

namespace hcs::bench {
namespace {

using Clock = std::chrono::steady_clock;

long long threadCpuNanos() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// What one thread did, gathered after it ends.
struct ThreadTotals {
  long failed = 0;
  long long cpuNanos = 0;
  AllocationCount allocations;
  LatencyHistogram latency;
  Clock::time_point end;  // of its last timed call, before its client is closed
};

bool callSafely(const Caller& call) {
  try {
    return call();
  } catch (const std::exception&) {
    return false;
  }
}

void timedCalls(const Caller& call, long calls, ThreadTotals& totals) {
  const AllocationCount allocationsBefore = threadAllocations();
  const long long cpuStart = threadCpuNanos();
  for (long i = 0; i < calls; ++i) {
    const Clock::time_point start = Clock::now();
    const bool ok = callSafely(call);
    totals.latency.record(static_cast<uint64_t>((Clock::now() - start).count()));
    if (!ok) ++totals.failed;
  }
  totals.cpuNanos = threadCpuNanos() - cpuStart;
  const AllocationCount allocationsAfter = threadAllocations();
  totals.allocations.own = allocationsAfter.own - allocationsBefore.own;
  totals.allocations.curl = allocationsAfter.curl - allocationsBefore.curl;
}

}  // namespace

double SideTotals::median(std::vector<double> values) {
  if (values.empty()) return 0;
  const size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
  if (values.size() % 2 == 1) return values[middle];
  const double upper = values[middle];
  return (*std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle)) + upper) /
         2;
}

bool runTimed(int threads, long callsPerThread, const CallerFactory& make,
              const std::function<long long()>& serviceCpuNanos, SideTotals& totals,
              const std::function<void()>& warm) {
  std::vector<ThreadTotals> perThread(static_cast<size_t>(threads));
  std::vector<std::thread> workers;
  // Waits block rather than spin: a thread waiting for the others must not take their CPU.
  std::latch warmed(threads);
  std::latch go(1);
  std::atomic<bool> cold{false};
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      ThreadTotals& mine = perThread[static_cast<size_t>(t)];
      Caller call;
      try {
        call = make();
      } catch (const std::exception&) {
      }
      if (!call || !callSafely(call)) cold = true;
      warmed.count_down();
      go.wait();
      if (!cold) timedCalls(call, callsPerThread, mine);
      mine.end = Clock::now();
    });
  }
  warmed.wait();
  if (warm && !cold) warm();
  const long long serviceBefore = serviceCpuNanos ? serviceCpuNanos() : -1;
  const Clock::time_point start = Clock::now();
  go.count_down();
  for (std::thread& worker : workers) worker.join();
  if (cold) return false;
  const long long serviceAfter = serviceCpuNanos ? serviceCpuNanos() : -1;
  const auto calls = static_cast<double>(callsPerThread) * threads;
  long long cpuNanos = 0;
  Clock::time_point end = start;
  for (const ThreadTotals& thread : perThread) {
    end = std::max(end, thread.end);
    totals.failed += thread.failed;
    cpuNanos += thread.cpuNanos;
    totals.ownAllocations += thread.allocations.own;
    totals.curlAllocations += thread.allocations.curl;
    totals.latency.merge(thread.latency);
  }
  const double seconds = std::chrono::duration<double>(end - start).count();
  totals.calls += callsPerThread * threads;
  totals.seconds += seconds;
  totals.cpuNanos += cpuNanos;
  totals.roundRates.push_back(seconds > 0 ? calls / seconds : 0);
  totals.roundCpuMicros.push_back(static_cast<double>(cpuNanos) / 1e3 / calls);
  if (serviceBefore >= 0 && serviceAfter >= 0) {
    totals.serviceNanos = (totals.serviceNanos < 0 ? 0 : totals.serviceNanos) + serviceAfter - serviceBefore;
    totals.roundServiceMicros.push_back(static_cast<double>(serviceAfter - serviceBefore) / 1e3 / calls);
  }
  return true;
}

}  // namespace hcs::bench
