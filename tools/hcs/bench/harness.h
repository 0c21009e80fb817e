#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "bench/latency_histogram.h"

namespace hcs::bench {

// One caller of one thread: each call is one exchange, true when it succeeded.
using Caller = std::function<bool()>;
// Makes a caller; runs on the thread that will use it, so a client it makes is that thread's own.
using CallerFactory = std::function<Caller()>;

// What the timed calls of one side added up to, over every round. Rates and CPU per call are the
// median of the rounds' own figures: a round that another process on the machine slowed down moves
// it less than it moves a sum.
struct SideTotals {
  long calls = 0;
  long failed = 0;
  double seconds = 0;           // elapsed, from the first timed call to the last one's end
  long long cpuNanos = 0;       // the calling threads' CPU time
  long long serviceNanos = -1;  // the service's CPU time while the side ran; -1 when not known
  uint64_t ownAllocations = 0;  // heap allocations on the calling threads, libcurl's own aside
  uint64_t curlAllocations = 0;
  LatencyHistogram latency;
  // Per round: calls/s, and the calling threads' and the service's CPU microseconds per call.
  std::vector<double> roundRates, roundCpuMicros, roundServiceMicros;

  double callsPerSecond() const { return median(roundRates); }
  double cpuMicrosPerCall() const { return median(roundCpuMicros); }
  // -1 when not known.
  double serviceMicrosPerCall() const { return roundServiceMicros.empty() ? -1 : median(roundServiceMicros); }
  double ownAllocationsPerCall() const { return perCall(static_cast<double>(ownAllocations)); }
  double curlAllocationsPerCall() const { return perCall(static_cast<double>(curlAllocations)); }

 private:
  static double median(std::vector<double> values);
  double perCall(double value) const { return calls > 0 ? value / static_cast<double>(calls) : 0; }
};

// Runs `threads` threads of `callsPerThread` timed calls each, every thread with a caller of its own
// from `make` and one untimed call first (to connect and fill caches), and adds what they did to
// `totals`. `serviceCpuNanos` (may be empty) reads the service's CPU time so far, before the timed
// calls start and after they end. A caller that throws counts as a failed call. When a factory throws
// or a first call fails, no timed call is made, nothing is added and the result is false: a service
// that cannot answer one call is not measured. `warm` (may be empty) runs once every first call is
// made, right before the timed calls.
bool runTimed(int threads, long callsPerThread, const CallerFactory& make,
              const std::function<long long()>& serviceCpuNanos, SideTotals& totals,
              const std::function<void()>& warm = {});

}  // namespace hcs::bench
