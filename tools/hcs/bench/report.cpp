#include "bench/report.h"

#include <cmath>

namespace hcs::bench {
namespace {

constexpr std::string_view kBaselines[] = {kFloor, kCurlMulti, kCurlEasy};

// Why the plugin differs from each baseline, said once where the ratios are.
std::string_view ratioMeaning(std::string_view baseline) {
  if (baseline == kFloor) return "libcurl's own cost, mostly";
  if (baseline == kCurlMulti) return "what the plugin adds to libcurl";
  return "";
}

std::string threadList(const BenchReport& report) {
  std::string list;
  for (const CountRun& run : report.runs) {
    if (!list.empty()) list += ',';
    list += std::to_string(run.threads);
  }
  return list;
}

void printHeading(std::FILE* out, const BenchReport& report) {
  const std::string service = report.service == "echo"              ? "echo service in a child process"
                              : report.service == "reference"       ? "reference service in this process"
                              : report.service != "reference-child" ? "service"
                              : report.tls ? "reference service over TLS in a child process"
                                           : "reference service in a child process";
  const bool sweep = report.runs.size() > 1;
  const int threads = report.runs.empty() ? 0 : report.runs.front().threads;
  const std::string counts = sweep          ? "threads " + threadList(report)
                             : threads == 1 ? "1 thread"
                                            : std::to_string(threads) + " threads";
  std::fprintf(out, "hcs bench: %s %s; pattern %s; %s; %ld calls per side%s in %d rounds\n", service.c_str(),
               report.url.c_str(), report.pattern.c_str(), counts.c_str(), report.callsPerSide,
               sweep ? " per thread count" : "", report.rounds);
  for (const std::string& note : report.notes) std::fprintf(out, "%s\n", note.c_str());
}

std::string microsOrDash(double micros, const char* format = "%.2f") {
  if (micros < 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, format, micros);
  return text;
}

void printFooter(std::FILE* out, const BenchReport& report) {
  std::fprintf(out, "plugin RSS: %ld KiB after its first calls, %ld KiB at the end (%+ld KiB)\n",
               report.rssStartKiB, report.rssEndKiB, report.rssEndKiB - report.rssStartKiB);
  std::string line = "plugin metrics:";
  for (const auto& [outcome, count] : report.outcomes) {
    if (count > 0) line += " " + outcome + " " + std::to_string(count) + ",";
  }
  if (line.back() == ',') line.pop_back();
  std::fprintf(out, "%s\n", report.outcomes.empty() ? "plugin metrics: none written" : line.c_str());
}

std::string allocationLine(const BenchReport& report, const CountRun& run) {
  const SideTotals* plugin = run.side(kPlugin);
  if (plugin == nullptr) return "";
  if (!report.allocationsCounted) return "allocations per score call: not counted in this build (sanitizer)";
  const SideTotals* multi = run.side(kCurlMulti);
  char text[200];
  std::snprintf(text, sizeof text, "allocations per score call: %.2f in the plugin's own code",
                plugin->ownAllocationsPerCall());
  std::string line = text;
  // OpenSSL is set up while hcs loads, before it could be given counting memory functions: its
  // allocations count as the caller's own, and the curl-multi side, which allocates nothing itself,
  // shows how many they are.
  if (report.tls) {
    line += " and OpenSSL";
    if (multi != nullptr) {
      std::snprintf(text, sizeof text, " (%.2f on the curl-multi side: OpenSSL's alone)",
                    multi->ownAllocationsPerCall());
      line += text;
    }
  }
  if (!report.curlAllocationsApart) return line + " (libcurl's included: they could not be told apart)";
  std::snprintf(text, sizeof text, ", %.2f in libcurl", plugin->curlAllocationsPerCall());
  line += text;
  if (multi != nullptr) {
    std::snprintf(text, sizeof text, " (%.2f on the curl-multi side)", multi->curlAllocationsPerCall());
    line += text;
  }
  return line;
}

void printOneCount(std::FILE* out, const BenchReport& report, const CountRun& run) {
  std::fprintf(out, "%-11s %9s %12s %16s %8s %8s %9s %7s\n", "side", "calls/s", "cpu us/call",
               "service us/call", "p50 us", "p99 us", "p99.9 us", "failed");
  for (const SideRun& side : run.sides) {
    const SideTotals& t = side.totals;
    std::fprintf(out, "%-11s %9.0f %12.2f %16s %8.1f %8.1f %9.1f %7ld  %s\n", side.name.c_str(),
                 t.callsPerSecond(), t.cpuMicrosPerCall(), microsOrDash(t.serviceMicrosPerCall()).c_str(),
                 t.latency.percentile(0.50) / 1e3, t.latency.percentile(0.99) / 1e3,
                 t.latency.percentile(0.999) / 1e3, t.failed, std::string(sideMeaning(side.name)).c_str());
  }
  const SideTotals* plugin = run.side(kPlugin);
  for (const std::string_view baseline : kBaselines) {
    const SideTotals* other = run.side(baseline);
    if (plugin == nullptr || other == nullptr) continue;
    const std::string_view why = ratioMeaning(baseline);
    std::fprintf(out, "plugin/%-10s %.2f of its calls/s, %+.2f us cpu per call%s%s\n",
                 std::string(baseline).c_str(), plugin->callsPerSecond() / other->callsPerSecond(),
                 plugin->cpuMicrosPerCall() - other->cpuMicrosPerCall(), why.empty() ? "" : ": ",
                 std::string(why).c_str());
  }
  const std::string allocations = allocationLine(report, run);
  if (!allocations.empty()) std::fprintf(out, "%s\n", allocations.c_str());
}

// "a/b" of the plugin's and curl-multi's figure, "a" when only the plugin ran.
std::string pair(const SideTotals* plugin, const SideTotals* multi, double (*figure)(const SideTotals&),
                 const char* format) {
  const std::string first = plugin ? microsOrDash(figure(*plugin), format) : "-";
  return multi ? first + "/" + microsOrDash(figure(*multi), format) : first;
}

std::string rate(const SideTotals* side) { return side ? microsOrDash(side->callsPerSecond(), "%.0f") : "-"; }

void printSweep(std::FILE* out, const BenchReport& report) {
  std::fprintf(out, "%7s %9s %12s %11s %9s %8s %13s %13s %7s %6s\n", "threads", "floor/s", "curl-multi/s",
               "curl-easy/s", "plugin/s", "p/multi", "cpu us p/m", "p99 us p/m", "allocs", "failed");
  for (const CountRun& run : report.runs) {
    const SideTotals* plugin = run.side(kPlugin);
    const SideTotals* multi = run.side(kCurlMulti);
    long failed = 0;
    for (const SideRun& side : run.sides) failed += side.totals.failed;
    const std::string ratio =
        plugin && multi ? microsOrDash(plugin->callsPerSecond() / multi->callsPerSecond(), "%.2f") : "-";
    const std::string allocations =
        plugin && report.allocationsCounted ? microsOrDash(plugin->ownAllocationsPerCall(), "%.2f") : "-";
    std::fprintf(
        out, "%7d %9s %12s %11s %9s %8s %13s %13s %7s %6ld\n", run.threads, rate(run.side(kFloor)).c_str(),
        rate(multi).c_str(), rate(run.side(kCurlEasy)).c_str(), rate(plugin).c_str(), ratio.c_str(),
        pair(
            plugin, multi, [](const SideTotals& t) { return t.cpuMicrosPerCall(); }, "%.1f")
            .c_str(),
        pair(
            plugin, multi, [](const SideTotals& t) { return t.latency.percentile(0.99) / 1e3; }, "%.0f")
            .c_str(),
        allocations.c_str(), failed);
  }
  std::fprintf(out,
               "p/m: the plugin's figure, then curl-multi's; cpu: the calling threads' per call; allocs: the "
               "plugin's own per score call%s\n",
               report.tls ? ", OpenSSL's included" : "");
}

void jsonNumber(std::FILE* out, const char* name, double value, bool last = false) {
  if (std::isfinite(value)) {
    std::fprintf(out, "\"%s\": %.6g%s", name, value, last ? "" : ", ");
  } else {
    std::fprintf(out, "\"%s\": null%s", name, last ? "" : ", ");
  }
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void printJsonSide(std::FILE* out, const BenchReport& report, const SideRun& side) {
  const SideTotals& t = side.totals;
  std::fprintf(out, "{\"name\": %s, \"meaning\": %s, \"calls\": %ld, \"failed\": %ld, ",
               jsonString(side.name).c_str(), jsonString(sideMeaning(side.name)).c_str(), t.calls, t.failed);
  jsonNumber(out, "seconds", t.seconds);
  jsonNumber(out, "calls_per_second", t.callsPerSecond());
  jsonNumber(out, "cpu_us_per_call", t.cpuMicrosPerCall());
  if (t.serviceNanos >= 0) jsonNumber(out, "service_cpu_us_per_call", t.serviceMicrosPerCall());
  if (report.allocationsCounted) {
    jsonNumber(out, "own_allocations_per_call", t.ownAllocationsPerCall());
    if (report.curlAllocationsApart) jsonNumber(out, "curl_allocations_per_call", t.curlAllocationsPerCall());
  }
  jsonNumber(out, "p50_us", t.latency.percentile(0.50) / 1e3);
  jsonNumber(out, "p99_us", t.latency.percentile(0.99) / 1e3);
  jsonNumber(out, "p99_9_us", t.latency.percentile(0.999) / 1e3, true);
  std::fprintf(out, "}");
}

}  // namespace

std::string_view sideMeaning(std::string_view side) {
  if (side == kFloor) return "a bare blocking socket: the kernel's cost of an exchange";
  if (side == kCurlMulti) return "libcurl driven as the plugin drives it (a multi handle)";
  if (side == kCurlEasy) return "libcurl's curl_easy_perform";
  if (side == kPlugin) return "score() through the plugin's exports, as a host calls it";
  return "";
}

const SideTotals* CountRun::side(std::string_view name) const {
  for (const SideRun& run : sides) {
    if (run.name == name) return &run.totals;
  }
  return nullptr;
}

void printText(std::FILE* out, const BenchReport& report) {
  printHeading(out, report);
  if (report.runs.size() == 1) {
    printOneCount(out, report, report.runs.front());
  } else {
    printSweep(out, report);
  }
  printFooter(out, report);
}

void printJson(std::FILE* out, const BenchReport& report) {
  std::fprintf(out,
               "{\"url\": %s, \"service\": %s, \"pattern\": %s, \"calls_per_side\": %ld, \"rounds\": %d, ",
               jsonString(report.url).c_str(), jsonString(report.service).c_str(),
               jsonString(report.pattern).c_str(), report.callsPerSide, report.rounds);
  std::fprintf(out, "\"tls\": %s, \"notes\": [", report.tls ? "true" : "false");
  for (size_t n = 0; n < report.notes.size(); ++n)
    std::fprintf(out, "%s%s", n == 0 ? "" : ", ", jsonString(report.notes[n]).c_str());
  std::fprintf(out, "],\n \"allocations_counted\": %s, \"curl_allocations_apart\": %s,\n \"runs\": [",
               report.allocationsCounted ? "true" : "false", report.curlAllocationsApart ? "true" : "false");
  for (size_t r = 0; r < report.runs.size(); ++r) {
    const CountRun& run = report.runs[r];
    std::fprintf(out, "%s\n  {\"threads\": %d, \"sides\": [", r == 0 ? "" : ",", run.threads);
    for (size_t s = 0; s < run.sides.size(); ++s) {
      std::fprintf(out, "%s\n   ", s == 0 ? "" : ",");
      printJsonSide(out, report, run.sides[s]);
    }
    std::fprintf(out, "],\n   \"plugin_ratio\": {");
    const SideTotals* plugin = run.side(kPlugin);
    bool first = true;
    for (const std::string_view baseline : kBaselines) {
      const SideTotals* other = run.side(baseline);
      if (plugin == nullptr || other == nullptr) continue;
      std::fprintf(out, "%s%s: {", first ? "" : ", ", jsonString(baseline).c_str());
      jsonNumber(out, "calls_per_second", plugin->callsPerSecond() / other->callsPerSecond());
      jsonNumber(out, "added_cpu_us_per_call", plugin->cpuMicrosPerCall() - other->cpuMicrosPerCall(), true);
      std::fprintf(out, "}");
      first = false;
    }
    std::fprintf(out, "}}");
  }
  std::fprintf(out, "],\n \"plugin_rss_kib\": {\"start\": %ld, \"end\": %ld},\n \"plugin_outcomes\": {",
               report.rssStartKiB, report.rssEndKiB);
  bool first = true;
  for (const auto& [outcome, count] : report.outcomes) {
    std::fprintf(out, "%s%s: %ld", first ? "" : ", ", jsonString(outcome).c_str(), count);
    first = false;
  }
  std::fprintf(out, "}}\n");
}

}  // namespace hcs::bench
