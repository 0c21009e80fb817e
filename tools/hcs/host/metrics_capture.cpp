#include "host/metrics_capture.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include <stdlib.h>

#include "metrics/metrics_file.h"
#include "util/numbers.h"
#include "util/uri.h"

namespace hcs::host {

namespace {
constexpr std::string_view kSeries = "hcs_score_calls_total{";
constexpr std::string_view kOutcome = "outcome=\"";

// `path` as the plugin's parser reads it back: "%", "?", "#", blanks and control bytes escaped.
std::string uriPath(const std::string& path) {
  return percentEncoded(
      path, [](unsigned char c) { return c <= ' ' || c == 0x7F || c == '%' || c == '?' || c == '#'; });
}
}  // namespace

MetricsCapture::MetricsCapture() : MetricsCapture(::getenv(kMetricsEnvironmentVariable)) {}

MetricsCapture::MetricsCapture(const char* setting) {
  if (setting != nullptr && *setting != '\0') {
    try {
      const MetricsFileSetting file = parseMetricsSetting(setting);
      path_ = file.path;
      intervalSeconds_ = static_cast<long>(file.interval.count());
    } catch (const std::invalid_argument&) {
      // The plugin says why on stderr when it loads, and writes nothing.
    }
    return;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "hcs-metrics-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
  directory_ = pattern;
  path_ = directory_ + "/hcs.prom";
  // Removed at exit, after the plugin's last write: made before the plugin is loaded, this static ends
  // after the plugin's own.
  static struct Folder {
    std::string path;
    ~Folder() {
      std::error_code ignored;
      if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
  } folder;
  folder.path = directory_;
  ::setenv(kMetricsEnvironmentVariable, ("file://" + uriPath(path_) + "?interval=1").c_str(), 1);
}

std::map<std::string, long> MetricsCapture::outcomeCounts() const {
  if (path_.empty()) return {};
  // Gone now, the file comes back with the next write, which counts every call made before this one.
  std::filesystem::remove(path_);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(intervalSeconds_ + 1);
  while (!std::filesystem::exists(path_) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::ifstream file(path_);
  std::stringstream text;
  text << file.rdbuf();
  return outcomeCountsFromText(text.str());
}

std::map<std::string, long> outcomeCountsFromText(const std::string& text) {
  std::map<std::string, long> counts;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.starts_with(kSeries)) continue;
    const size_t label = line.rfind(kOutcome);
    const size_t end = label == std::string::npos ? label : line.find("\"} ", label + kOutcome.size());
    if (end == std::string::npos) continue;
    const size_t from = label + kOutcome.size();
    const std::string_view value = std::string_view(line).substr(end + 3);
    counts[line.substr(from, end - from)] += readStrict(value.substr(0, value.find(' ')), StrictRule{}).value;
  }
  return counts;
}

void printOutcomeCounts(std::FILE* out, const std::map<std::string, long>& counts) {
  if (counts.empty()) {
    std::fprintf(out, "plugin metrics: none written\n");
    return;
  }
  std::string line = "plugin metrics:";
  for (const auto& [outcome, count] : counts) {
    if (count > 0) line += " " + outcome + " " + std::to_string(count) + ",";
  }
  if (line.back() == ',') line.pop_back();
  std::fprintf(out, "%s\n", line.c_str());
}

}  // namespace hcs::host
