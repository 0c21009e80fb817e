#include "host/metrics_capture.h"

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace hcs::host {

namespace {
constexpr char kVariable[] = "HTTPCALLOUT_METRICS";
constexpr std::string_view kSeries = "hcs_score_calls_total{";
constexpr std::string_view kOutcome = "outcome=\"";
}  // namespace

MetricsCapture::MetricsCapture() {
  if (const char* value = ::getenv(kVariable); value != nullptr && *value != '\0') {
    const std::string text(value);
    const size_t start = text.find("://");
    path_ = start == std::string::npos ? "" : text.substr(start + 3, text.find('?') - start - 3);
    if (path_.starts_with("./")) path_.erase(0, 2);
    const size_t interval = text.find("interval=");
    intervalSeconds_ = interval == std::string::npos ? 10 : std::atol(text.c_str() + interval + 9);
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
  ::setenv(kVariable, ("file://" + path_ + "?interval=1").c_str(), 1);
}

std::map<std::string, long> MetricsCapture::outcomeCounts() const {
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
    counts[line.substr(from, end - from)] += std::strtol(line.c_str() + end + 3, nullptr, 10);
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
