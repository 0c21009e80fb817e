#pragma once

#include <cstdio>
#include <map>
#include <string>

namespace hcs::host {

// The plugin's own count of how score calls ended, read from the metrics file it writes. Made before the
// plugin is loaded: points HTTPCALLOUT_METRICS at a temporary file unless the environment already names
// one (then that file is read). The plugin writes the file a last time when it unloads, so read it after
// the plugin is closed, and from calls made on threads that have ended (a thread that called into the
// plugin keeps it loaded until the thread exits). Restores the environment on destruction.
class MetricsCapture {
 public:
  MetricsCapture();
  ~MetricsCapture();
  MetricsCapture(const MetricsCapture&) = delete;
  MetricsCapture& operator=(const MetricsCapture&) = delete;

  const std::string& path() const { return path_; }
  // Calls by outcome label, summed over attribute types; empty when the file is missing.
  std::map<std::string, long> outcomeCounts() const;

 private:
  std::string path_;
  std::string directory_;  // ours to remove, "" when the file is the user's
  bool hadValue_ = false;
  std::string previous_;
};

// Calls by outcome as read from a metrics text: the hcs_score_calls_total series summed over types.
std::map<std::string, long> outcomeCountsFromText(const std::string& text);

// "plugin metrics: ok 19998, transport 2" (outcomes with a count above 0), or a note that none came.
void printOutcomeCounts(std::FILE* out, const std::map<std::string, long>& counts);

}  // namespace hcs::host
