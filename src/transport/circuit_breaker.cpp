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
  int state = state_.load(std::memory_order_acquire);
  if (state == kClosed) return Admission::kPass;
  const Clock::time_point probeAt{Clock::duration(probeAt_.load(std::memory_order_acquire))};
  if (state == kOpen && now >= probeAt) {
    if (state_.compare_exchange_strong(state, kProbing, std::memory_order_acq_rel)) return Admission::kProbe;
  }
  refusal = "circuit open after " + std::to_string(threshold_) + " failed calls; ";
  if (state == kProbing || state == kClosed) {
    refusal += "a probe call is under way";
  } else {
    const auto left = state == kOpening ? wait_ : std::chrono::ceil<std::chrono::milliseconds>(probeAt - now);
    refusal += "next try in " + std::to_string(std::max<int64_t>(left.count(), 0)) + " ms";
  }
  return Admission::kRefused;
}

void CircuitBreaker::finish(Admission admission, bool failed, Clock::time_point now) {
  if (!failed) {
    if (failures_.load(std::memory_order_relaxed) != 0) failures_.store(0, std::memory_order_relaxed);
    if (state_.load(std::memory_order_acquire) != kClosed) close();
    return;
  }
  if (admission == Admission::kProbe) {
    // Still down: another full wait before the next probe; the circuit stays open, nothing to log.
    probeAt_.store((now + wait_).time_since_epoch().count(), std::memory_order_release);
    int probing = kProbing;
    if (state_.compare_exchange_strong(probing, kOpen, std::memory_order_acq_rel)) return;
  }
  if (failures_.fetch_add(1, std::memory_order_relaxed) + 1 >= threshold_) open(now);
}

void CircuitBreaker::abandon(Admission admission) {
  if (admission != Admission::kProbe) return;
  int probing = kProbing;
  state_.compare_exchange_strong(probing, kOpen, std::memory_order_acq_rel);
}

void CircuitBreaker::open(Clock::time_point now) {
  int closed = kClosed;
  if (!state_.compare_exchange_strong(closed, kOpening, std::memory_order_acq_rel)) return;
  // The probe time is in place before anyone can see the circuit open.
  probeAt_.store((now + wait_).time_since_epoch().count(), std::memory_order_release);
  state_.store(kOpen, std::memory_order_release);
  if (metrics_ != nullptr) metrics_->setCircuitOpen(true);
  logLine(kLogWarning,
          u"HTTP Callout circuit for %s opened after %u failed calls: calls fail at once, one probe call "
          u"every %lld ms",
          subject_, threshold_, static_cast<long long>(wait_.count()));
}

void CircuitBreaker::close() {
  int state = state_.load(std::memory_order_acquire);
  do {
    // One that is still opening finishes opening: the failure that opened it is the newer news.
    if (state == kClosed || state == kOpening) return;
  } while (!state_.compare_exchange_weak(state, kClosed, std::memory_order_acq_rel));
  failures_.store(0, std::memory_order_relaxed);
  if (metrics_ != nullptr) metrics_->setCircuitOpen(false);
  logLine(kLogNote, u"HTTP Callout circuit for %s closed: the service answers again", subject_);
}

}  // namespace hcs
