#pragma once

#include <unicode/unistr.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "metrics/callout_metrics.h"
#include "transport/call_time.h"
#include "transport/circuit_breaker.h"

namespace hcs {

class OInterface;
class OHTTP;

// One score call's way to the service through one interface: the circuit breaker's admission, then up
// to retries + 1 attempts under the interface's policy (deadline, back-off, retryOn, request id), each
// counted in the interface's metrics. For an interface without production settings (or one that is no
// OHTTP) this is exactly the defined loop: sendOrThrow one attempt after the other, non-2xx answers and
// failed connections logged as warnings, every failure retried.
//
// One object per call, used by the calling thread only.
class CalloutCall {
 public:
  using Clock = std::chrono::steady_clock;

  enum class End { kDelivered, kExhausted, kStopped };
  enum class Stop {
    kNone,
    kCircuitOpen,        // refused by the circuit; nothing was sent
    kDeadline,           // the deadline ended the call
    kNotRetriedAnswer,   // the service answered with a status retryOn leaves out
    kNotRetriedFailure,  // a transport failure retryOn leaves out
  };

  // The call began at `started` (its deadline counts from there); asks the circuit, if any. An empty
  // `started` means the caller did not read the clock: it is read here when the interface has metrics,
  // a deadline or a circuit, and not at all otherwise.
  CalloutCall(OInterface& target, Clock::time_point started);
  // A call the circuit let through that never finished its attempts (never run, or left by an
  // exception) counts as one that sent nothing: a probe is handed on.
  ~CalloutCall();
  CalloutCall(const CalloutCall&) = delete;
  CalloutCall& operator=(const CalloutCall&) = delete;

  // False when the circuit is open: the call must fail with stopText() and send nothing.
  bool admitted() const { return admission_ != CircuitBreaker::Admission::kRefused; }

  // Runs the attempts; `reply` holds the last reply body. Call once, and only when admitted.
  End run(const icu::UnicodeString& message, icu::UnicodeString& reply);
  // The same with the message as UTF-8 and the reply as 8-bit text, each attempt by OHTTP::sendUtf8:
  // `reply` ends as toStdString of what the other run would leave in its reply.
  End run(std::string_view message, std::string& reply);

  Stop stop() const { return stop_; }
  // Why the call stopped early, as the error text after "HTTP Callout: " ("deadline of 300 ms reached
  // after 2 attempts", "404 Not Found is not retried", "circuit open after 5 failed calls; …").
  const std::string& stopText() const { return stopText_; }
  // The transport's text of the last exchange that failed after the request went out; "" when none,
  // and "" when the policy opts in and a later attempt was delivered (the call ends as that one did).
  const std::string& lastExchangeFailure() const { return lastExchangeFailure_; }
  // The request id sent with every attempt; "" when the policy sends none.
  const std::string& requestId() const { return requestId_; }
  // The interface's counters, or nullptr.
  CalloutMetrics* metrics() const { return metrics_; }
  // When the call began, as given or read at construction; empty when nothing needed it.
  Clock::time_point started() const { return started_; }

 private:
  // `send(status, limits)` makes one attempt's send.
  template <class Send>
  End runAttempts(const Send& send);
  template <class Send>
  AttemptResult attempt(const Send& send);
  void logFailure(const class QRM_Exception& failure) const;
  void logExchangeFailure(AttemptResult result, const std::string& why) const;
  void pause(int32_t attemptsMade, Clock::time_point deadline);
  End stopWith(Stop stop, std::string text);

  OInterface& target_;
  OHTTP* http_;
  CalloutMetrics* metrics_;
  CircuitBreaker* breaker_;
  CallTime& time_;
  Clock::time_point started_;
  CircuitBreaker::Admission admission_ = CircuitBreaker::Admission::kPass;
  bool finished_ = false;      // the circuit was told how the call ended
  bool lastAnswered_ = false;  // the last failed attempt got an answer (a status) from the service
  Stop stop_ = Stop::kNone;
  std::string stopText_;
  std::string lastExchangeFailure_;
  std::string lastFailure_;  // the last failed attempt's text (status or transport text)
  std::string requestId_;
  std::string idHeader_;
  Clock::time_point deadline_ = Clock::time_point::max();
};

// A random 128-bit id as 32 lower-case hex digits, from two draws of `time`.
std::string newRequestId(CallTime& time = CallTime::real());

}  // namespace hcs
