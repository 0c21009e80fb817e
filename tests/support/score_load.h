#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hcs::test {

// Host threads that score on one callout (a key of registerInterface or registerWithSettings) back to
// back until stopped, as a busy host does. A call counts as failed unless it returns 0 with a score.
class ScoreLoad {
 public:
  ScoreLoad(const std::string& key, int threads);
  ~ScoreLoad();
  ScoreLoad(const ScoreLoad&) = delete;
  ScoreLoad& operator=(const ScoreLoad&) = delete;

  // Lets every thread finish its call and joins them.
  void stop();
  // Waits at most `bound` until `more` calls have ended after this one began.
  bool waitForCalls(long more, std::chrono::milliseconds bound) const;

  long calls() const { return calls_; }
  long failed() const { return failed_; }
  // The answers of the first failed calls, one a line.
  std::string failures() const;

 private:
  std::atomic<bool> stop_{false};
  std::atomic<long> calls_{0};
  std::atomic<long> failed_{0};
  mutable std::mutex mutex_;
  std::string failures_;
  std::vector<std::thread> threads_;
};

}  // namespace hcs::test
