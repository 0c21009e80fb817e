#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "metrics/callout_metrics.h"

namespace hcs {

// The environment variable that switches the metrics file on.
inline constexpr char kMetricsEnvironmentVariable[] = "HTTPCALLOUT_METRICS";

// Where and how often the metrics are written.
struct MetricsFileSetting {
  std::string path;
  std::chrono::seconds interval{10};
};

// Reads "file:///absolute/hcs.prom?interval=10" or "file://./relative/hcs.prom" (scheme in any letter
// case, %XX escapes decoded; interval in whole seconds from 1 to 86400, 10 when absent). Throws
// std::invalid_argument saying what is wrong; parameters other than interval are refused.
MetricsFileSetting parseMetricsSetting(std::string_view value);

// Writes a registry's exposition to a file every interval on a thread of its own, and once more when it
// is destroyed. Each write is atomic for readers: the text goes to a new file of an unpredictable name,
// "<path>.<16 hex digits>.tmp" in the same folder (a name node_exporter's textfile collector skips),
// which is then renamed over the file. A failed write is reported once on `errors` until a write
// succeeds again; the thread carries on.
//
// The registry must outlive the writer. The thread touches nothing but the registry and the file.
//
// The writer belongs to the process that made it. In a forked child, where its thread does not exist,
// it writes nothing (writeNow returns false) and its destructor neither waits for the thread nor
// releases what the thread may have held at the fork: that is left to the child's end.
class MetricsFileWriter {
 public:
  MetricsFileWriter(const MetricsRegistry& registry, MetricsFileSetting setting, std::FILE* errors = stderr);
  ~MetricsFileWriter();
  MetricsFileWriter(const MetricsFileWriter&) = delete;
  MetricsFileWriter& operator=(const MetricsFileWriter&) = delete;

  // One write now, on the calling thread; whether it succeeded.
  bool writeNow();

 private:
  struct Thread;
  void run();

  const MetricsRegistry& registry_;
  const MetricsFileSetting setting_;
  std::FILE* errors_;
  const uint64_t generation_;  // the fork generation of the process that made the writer
  std::unique_ptr<Thread> thread_;
};

// Reads HTTPCALLOUT_METRICS and, when it names a file, installs a process-wide registry (activeMetrics)
// and a writer over it until the process ends (or the library unloads), when the file is written a last
// time. Unset or blank: nothing is installed and no thread runs. Only the first call does anything.
// Never throws: a malformed value is reported once on stderr and metrics stay off. Meant to be called
// once while the library loads, before anything can count.
void installMetricsFromEnvironment();

}  // namespace hcs
