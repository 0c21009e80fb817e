#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

#include "transport/call_time.h"

namespace hcs::test {

// Time that stands still until the call loop pauses: a pause moves it on at once, by exactly the time
// asked for, and is remembered. Draws give `drawn` (all bits set by default: every back-off pause as
// long as its window allows), or throw std::bad_alloc when `failDraws` is set. Safe from any thread.
class FakeCallTime : public CallTime {
 public:
  Clock::time_point now() override {
    std::lock_guard lock(mutex_);
    return now_;
  }
  void sleepUntil(Clock::time_point until) override {
    std::lock_guard lock(mutex_);
    if (until <= now_) return;
    pauses_.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(until - now_));
    now_ = until;
  }
  uint64_t draw() override {
    if (failDraws) throw std::bad_alloc();
    return drawn;
  }

  void advance(Clock::duration by) {
    std::lock_guard lock(mutex_);
    now_ += by;
  }
  std::vector<std::chrono::milliseconds> pauses() const {
    std::lock_guard lock(mutex_);
    return pauses_;
  }

  uint64_t drawn = ~uint64_t{0};
  bool failDraws = false;

 private:
  mutable std::mutex mutex_;
  Clock::time_point now_ = Clock::now();
  std::vector<std::chrono::milliseconds> pauses_;
};

}  // namespace hcs::test
