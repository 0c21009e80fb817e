#include "support/score_load.h"

#include "support/host_calls.h"

namespace hcs::test {

ScoreLoad::ScoreLoad(const std::string& key, int threads) {
  for (int t = 0; t < threads; ++t) {
    threads_.emplace_back([this, key, t] {
      const std::string matched = attribute(key, "Jonathan Smith");
      for (long i = 0; !stop_; ++i) {
        const std::string inbound =
            attribute(key, "Jon Smith " + std::to_string(t) + "." + std::to_string(i));
        const std::string answer = callScore("<REQ/>", inbound, matched);
        if (!answer.starts_with("0|<SCORE_RESULT><SCORE>") && failed_++ < 10) {
          std::lock_guard lock(mutex_);
          failures_ += answer + "\n";
        }
        ++calls_;
      }
    });
  }
}

ScoreLoad::~ScoreLoad() { stop(); }

void ScoreLoad::stop() {
  stop_ = true;
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

bool ScoreLoad::waitForCalls(long more, std::chrono::milliseconds bound) const {
  const long target = calls_ + more;
  for (const auto until = std::chrono::steady_clock::now() + bound; calls_ < target;) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string ScoreLoad::failures() const {
  std::lock_guard lock(mutex_);
  return failures_;
}

}  // namespace hcs::test
