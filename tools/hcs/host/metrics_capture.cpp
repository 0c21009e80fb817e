#include "host/metrics_capture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace hcs::host {

namespace {
constexpr char kVariable[] = "HTTPCALLOUT_METRICS";
constexpr std::string_view kSeries = "hcs_score_calls_total{";
constexpr std::string_view kOutcome = "outcome=\"";
}  // namespace

MetricsCapture::MetricsCapture() {
  if (const char* value = ::getenv(kVariable); value != nullptr && *value != '\0') {
    hadValue_ = true;
    previous_ = value;
    const std::string text(value);
    const size_t start = text.find("://");
    path_ = start == std::string::npos ? "" : text.substr(start + 3, text.find('?') - start - 3);
    if (path_.starts_with("./")) path_.erase(0, 2);
    return;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "hcs-metrics-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
  directory_ = pattern;
  path_ = directory_ + "/hcs.prom";
  // A long interval: the one write that matters is the last, when the plugin unloads.
  ::setenv(kVariable, ("file://" + path_ + "?interval=3600").c_str(), 1);
}

MetricsCapture::~MetricsCapture() {
  if (!directory_.empty()) {
    ::unsetenv(kVariable);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

std::map<std::string, long> MetricsCapture::outcomeCounts() const {
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
