#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "util/fork_safety.h"

namespace hcs {

class CalloutMetrics;

// Stops calls from going to a service that keeps failing. Closed, every call goes out; after
// `threshold` failed calls in a row it opens, and calls fail at once without traffic; once `wait` has
// passed, exactly one call (the probe) goes out: its success closes the circuit, its failure keeps it
// open for another `wait`. Any call that succeeds closes it. A call that sent nothing counts neither
// way. Opening is logged once as a warning and closing once as a note, naming `subject`; the gauge in
// `metrics` follows the state.
//
// Thread-safety: every member may run on many threads at once. The state, the failure count, the probe
// time, the gauge and the log lines change together under one lock; a closed circuit with no failures
// counted costs one load per call and takes no lock.
class CircuitBreaker {
 public:
  using Clock = std::chrono::steady_clock;

  enum class Admission { kPass, kProbe, kRefused };
  // How an admitted call ended, as the circuit counts it.
  enum class Result {
    kSucceeded,    // the service answered (a 4xx included): it is up
    kFailed,       // the call's last attempt got no answer
    kNothingSent,  // no attempt was made (a deadline reached first, no message to send, an exception)
  };

  // `subject` names the circuit in the log ("ATTR_TYPE [NAME] http://…"); `metrics` (may be null)
  // gets the open state.
  CircuitBreaker(uint32_t threshold, std::chrono::milliseconds wait, std::string subject,
                 CalloutMetrics* metrics);

  // Whether a call starting at `now` may go out. When refused, `refusal` says why, for the call's error
  // text: "circuit open after 5 failed calls; next try in 4200 ms".
  Admission admit(Clock::time_point now, std::string& refusal);
  // The end of a call; one that sent nothing (a refused one among them) changes nothing unless it held
  // the probe. A probe always leaves the probing state: closed on success, open for another wait on
  // failure, open with the probe free for the next call when nothing was sent.
  void finish(Admission admission, Result result, Clock::time_point now);

  bool isOpen() const { return open_.load(std::memory_order_acquire); }
  uint32_t threshold() const { return threshold_; }

 private:
  enum class State { kClosed, kOpen, kProbing };

  void open(Clock::time_point now);  // with mutex_ held
  void close();                      // with mutex_ held

  const uint32_t threshold_;
  const std::chrono::milliseconds wait_;
  const std::string subject_;
  CalloutMetrics* const metrics_;

  std::mutex mutex_;
  ForkLock forkLock_{mutex_, ForkLockRank::kCircuit};
  State state_ = State::kClosed;
  uint32_t failures_ = 0;      // failed calls in a row while closed
  Clock::time_point probeAt_;  // when an open circuit lets its probe through
  // Read without the lock by the common call: state_ != kClosed, and failures_ != 0.
  std::atomic<bool> open_{false};
  std::atomic<bool> failing_{false};
};

}  // namespace hcs
