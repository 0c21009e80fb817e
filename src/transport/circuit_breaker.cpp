#include "transport/circuit_breaker.h"

#include <algorithm>

#include "log/log_message.h"
#include "metrics/callout_metrics.h"

namespace hcs {

CircuitBreaker::CircuitBreaker(uint32_t threshold, std::chrono::milliseconds wait, std::string subject,
                               CalloutMetrics* metrics)
    : threshold_(std::max<uint32_t>(threshold, 1)),
      wait_(wait),
      subject_(std::move(subject)),
      metrics_(metrics) {}

CircuitBreaker::Admission CircuitBreaker::admit(Clock::time_point now, std::string& refusal) {
  if (!open_.load(std::memory_order_acquire)) return Admission::kPass;
  std::lock_guard lock(mutex_);
  if (state_ == State::kClosed) return Admission::kPass;
  if (state_ == State::kOpen && now >= probeAt_) {
    state_ = State::kProbing;
    return Admission::kProbe;
  }
  refusal = "circuit open after " + std::to_string(threshold_) + " failed calls; ";
  if (state_ == State::kProbing) {
    refusal += "a probe call is under way";
  } else {
    // Open and not yet time to probe: at least 1 ms is left.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(probeAt_ - now);
    refusal += "next try in " + std::to_string(left.count()) + " ms";
  }
  return Admission::kRefused;
}

void CircuitBreaker::finish(Admission admission, Result result, Clock::time_point now) {
  // A call that sent nothing (a refused one among them) tells nothing, unless it held the probe.
  if (result == Result::kNothingSent && admission != Admission::kProbe) return;
  // The common call: closed, nothing failing, and it went well.
  if (result == Result::kSucceeded && !open_.load(std::memory_order_acquire) &&
      !failing_.load(std::memory_order_acquire)) {
    return;
  }
  std::lock_guard lock(mutex_);
  const bool probe = admission == Admission::kProbe && state_ == State::kProbing;
  switch (result) {
    case Result::kSucceeded:
      failures_ = 0;
      failing_.store(false, std::memory_order_release);
      if (state_ != State::kClosed) close();
      break;
    case Result::kFailed:
      if (probe) {
        // Still down: another full wait before the next probe; it stays open, nothing to log.
        state_ = State::kOpen;
        probeAt_ = now + wait_;
      } else if (state_ == State::kClosed) {
        failing_.store(true, std::memory_order_release);
        if (++failures_ >= threshold_) open(now);
      }
      break;
    case Result::kNothingSent:
      if (probe) state_ = State::kOpen;  // the next call may probe at once
      break;
  }
}

void CircuitBreaker::open(Clock::time_point now) {
  state_ = State::kOpen;
  probeAt_ = now + wait_;
  open_.store(true, std::memory_order_release);
  if (metrics_ != nullptr) metrics_->setCircuitOpen(true);
  logLine(kLogWarning,
          u"HTTP Callout circuit for %s opened after %u failed calls: calls fail at once, one probe call "
          u"every %lld ms",
          subject_, threshold_, static_cast<long long>(wait_.count()));
}

void CircuitBreaker::close() {
  state_ = State::kClosed;
  open_.store(false, std::memory_order_release);
  if (metrics_ != nullptr) metrics_->setCircuitOpen(false);
  logLine(kLogNote, u"HTTP Callout circuit for %s closed: the service answers again", subject_);
}

}  // namespace hcs
