#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace hcs {

class CalloutMetrics;

// Stops calls from going to a service that keeps failing. Closed, every call goes out; after
// `threshold` failed calls in a row it opens, and calls fail at once without traffic; once `wait` has
// passed, exactly one call (the probe) goes out: its success closes the circuit, its failure keeps it
// open for another `wait`. Any call that succeeds closes it. Opening is logged once as a warning and
// closing once as a note, naming `subject`.
//
// Thread-safety: every member may run on many threads at once; the state is a few atomics, so a closed
// circuit costs a load per call.
class CircuitBreaker {
 public:
  using Clock = std::chrono::steady_clock;

  enum class Admission { kPass, kProbe, kRefused };

  // `subject` names the circuit in the log ("ATTR_TYPE [NAME] http://…"); `metrics` (may be null)
  // gets the open state.
  CircuitBreaker(uint32_t threshold, std::chrono::milliseconds wait, std::string subject,
                 CalloutMetrics* metrics);

  // Whether a call starting at `now` may go out. When refused, `refusal` says why, for the call's error
  // text: "circuit open after 5 failed calls; next try in 4200 ms".
  Admission admit(Clock::time_point now, std::string& refusal);
  // The end of an admitted call.
  void finish(Admission admission, bool failed, Clock::time_point now);
  // A probe that never went out (nothing to send): the next call may probe instead.
  void abandon(Admission admission);

  bool isOpen() const { return state_.load(std::memory_order_acquire) != kClosed; }
  uint32_t threshold() const { return threshold_; }

 private:
  enum State : int { kClosed, kOpening, kOpen, kProbing };

  void open(Clock::time_point now);
  void close();

  const uint32_t threshold_;
  const std::chrono::milliseconds wait_;
  const std::string subject_;
  CalloutMetrics* const metrics_;
  std::atomic<int> state_{kClosed};
  std::atomic<uint32_t> failures_{0};
  std::atomic<Clock::rep> probeAt_{0};  // when an open circuit lets its probe through
};

}  // namespace hcs
