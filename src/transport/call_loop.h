#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include <unicode/unistr.h>

#include "metrics/callout_metrics.h"
#include "transport/call_time.h"
#include "transport/circuit_breaker.h"

namespace hcs {

class Callout;
class CalloutTransport;
class QRM_Exception;
struct CalloutSettings;

// One score call's way to the service through one callout: the circuit's admission, then up to
// retries + 1 attempts under the callout's settings (deadline, back-off, retryOn, request id), each
// counted in its metrics. Without settings beyond `retries` this is exactly the defined loop: one
// attempt after the other, non-2xx answers and failed connections logged as warnings (their records),
// every failure retried.
//
// One object per call, used by the calling thread only; the callout must outlive it.
class CalloutCall {
 public:
  using Clock = std::chrono::steady_clock;

  enum class End { kDelivered, kExhausted, kStopped };
  enum class Stop {
    kNone,
    kDeadline,           // the deadline ended the call
    kNotRetriedAnswer,   // the service answered with a status retryOn leaves out
    kNotRetriedFailure,  // a transport failure retryOn leaves out
  };

  // The call began at `started` (its deadline counts from there, on the callout's time); asks the
  // circuit, if any.
  CalloutCall(const Callout& callout, Clock::time_point started);
  // A call the circuit let through that never finished its attempts (never run, or left by an
  // exception) counts as one that sent nothing: a probe is handed on.
  ~CalloutCall();
  CalloutCall(const CalloutCall&) = delete;
  CalloutCall& operator=(const CalloutCall&) = delete;

  // False when the circuit is open: the call must fail with stopText() and send nothing.
  bool admitted() const { return admission_ != CircuitBreaker::Admission::kRefused; }

  // Runs the attempts with the message as UTF-8; `reply` holds the last reply as 8-bit text. Call
  // once, and only when admitted.
  End run(std::string_view message, std::string& reply);
  // The same with a UTF-16 message, which each attempt converts (a text that is no valid UTF-16 fails
  // every attempt with the conversion's record, as it always has).
  End run(const icu::UnicodeString& message, std::string& reply);

  Stop stop() const { return stop_; }
  // Why the call stopped early, as the error text after "HTTP Callout: " ("deadline of 300 ms reached
  // after 2 attempts", "404 Not Found is not retried", "circuit open after 5 failed calls; …").
  const std::string& stopText() const { return stopText_; }
  // The transport's text of the last exchange that failed after the request went out; "" when none,
  // and "" when the settings opt in and a later attempt was delivered (the call ends as that one did).
  const std::string& lastExchangeFailure() const { return lastExchangeFailure_; }
  // The request id sent with every attempt; "" when the settings send none.
  std::string_view requestId() const { return {requestId_, requestIdLength_}; }
  // The callout's counters, or nullptr.
  CalloutMetrics* metrics() const { return metrics_; }

 private:
  // `post(transport, status, reply, limits)` makes one attempt's post and returns the status code.
  template <class Post>
  End runAttempts(const Post& post, std::string& reply);
  template <class Post>
  AttemptResult attempt(const Post& post, CalloutTransport& transport, std::string& reply);
  void logRecord(const QRM_Exception& failure) const;
  void logExchangeFailure(AttemptResult result, const std::string& why) const;
  void pause(int32_t attemptsMade);
  End stopWith(Stop stop, std::string text);
  // Draws this call's request id and makes its header.
  void startRequestId();
  std::string deadlineText(int32_t made) const;
  // Tells the circuit, if any, how the call ended.
  void finishCircuit(int32_t made, End end, AttemptResult last);

  const Callout& callout_;
  const CalloutSettings& settings_;
  CalloutMetrics* metrics_;
  CircuitBreaker* breaker_;
  CallTime& time_;
  Clock::time_point started_;
  CircuitBreaker::Admission admission_ = CircuitBreaker::Admission::kPass;
  bool finished_ = false;           // the circuit was told how the call ended
  bool lastAnswered_ = false;       // the last failed attempt got an answer (a status) from the service
  bool lastCutByDeadline_ = false;  // the transport ended the last attempt at the deadline
  Stop stop_ = Stop::kNone;
  std::string stopText_;
  std::string lastExchangeFailure_;
  std::string lastFailure_;  // the last failed attempt's text (status or transport text)
  char requestId_[32];
  size_t requestIdLength_ = 0;
  std::string_view idHeader_;  // "Name: id", this thread's, valid for the call
  Clock::time_point deadline_ = Clock::time_point::max();
};

// A random 128-bit id as 32 lower-case hex digits into `id`, from two draws of `time`.
void newRequestId(CallTime& time, char (&id)[32]);

}  // namespace hcs
