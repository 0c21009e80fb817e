#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bench/harness.h"

namespace hcs::bench {

// The names of the sides, and what each one is.
inline constexpr std::string_view kFloor = "floor";
inline constexpr std::string_view kCurlMulti = "curl-multi";
inline constexpr std::string_view kCurlEasy = "curl-easy";
inline constexpr std::string_view kPlugin = "plugin";
std::string_view sideMeaning(std::string_view side);

struct SideRun {
  std::string name;
  SideTotals totals;
};

// Every side at one thread count.
struct CountRun {
  int threads = 1;
  std::vector<SideRun> sides;

  // nullptr when the side did not run.
  const SideTotals* side(std::string_view name) const;
};

struct BenchReport {
  std::string url;
  std::string service;  // "echo", "reference" (in this process), "reference-child" or "given"
  bool tls = false;
  std::vector<std::string> notes;  // how the run differs from the usual one, a line each
  std::string pattern;
  long callsPerSide = 0;  // at each thread count
  int rounds = 0;
  bool allocationsCounted = false;
  bool curlAllocationsApart = false;
  std::vector<CountRun> runs;
  long rssStartKiB = 0;  // once the plugin's first calls were made
  long rssEndKiB = 0;
  std::map<std::string, long> outcomes;  // the plugin's own counts, from its metrics file
};

// One thread count: a table of the sides, the plugin against each baseline, allocations, memory and
// the plugin's outcome counts, in at most 12 lines and the notes. Several: one line per thread count instead.
void printText(std::FILE* out, const BenchReport& report);
// The same figures as one JSON object.
void printJson(std::FILE* out, const BenchReport& report);

}  // namespace hcs::bench
