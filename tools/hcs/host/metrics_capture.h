#pragma once

#include <cstdio>
#include <map>
#include <string>

namespace hcs::host {

// The plugin's own count of how score calls ended, read from the metrics file it writes. Made before the
// plugin is loaded: points HTTPCALLOUT_METRICS at a temporary file written every second, unless the
// environment already names one (then that file is read, as the plugin reads the setting; a setting
// the plugin refuses means no file). The plugin stays loaded until the process ends, so the counts of
// all calls made are those of the first write after the last call: outcomeCounts waits for it. A
// temporary file is removed when the process exits, after the plugin's last write.
class MetricsCapture {
 public:
  MetricsCapture();
  // With `setting` the value of HTTPCALLOUT_METRICS (nullptr or empty: unset, so a temporary file).
  explicit MetricsCapture(const char* setting);
  MetricsCapture(const MetricsCapture&) = delete;
  MetricsCapture& operator=(const MetricsCapture&) = delete;

  // The file the plugin writes; "" when it writes none.
  const std::string& path() const { return path_; }
  long intervalSeconds() const { return intervalSeconds_; }
  // Calls by outcome label, summed over attribute types, from the first write after this call (at most
  // the interval plus a second later); empty when none comes or no file is written.
  std::map<std::string, long> outcomeCounts() const;

 private:
  std::string path_;
  std::string directory_;  // ours, "" when the file is the user's
  long intervalSeconds_ = 1;
};

// Calls by outcome as read from a metrics text: the hcs_score_calls_total series summed over types.
std::map<std::string, long> outcomeCountsFromText(const std::string& text);

// "plugin metrics: ok 19998, transport 2" (outcomes with a count above 0), or a note that none came.
void printOutcomeCounts(std::FILE* out, const std::map<std::string, long>& counts);

}  // namespace hcs::host
