#include "transport/callout.h"

#include <algorithm>

#include "error/qrm_exception.h"
#include "log/log_message.h"
#include "transport/http_interface.h"
#include "transport/output_interface.h"
#include "util/ucstring.h"

namespace hcs {

namespace {

AttemptResult statusClass(const std::string& status) {
  const char first = status.empty() ? '\0' : status.front();
  if (first == '5') return AttemptResult::k5xx;
  if (first == '4') return AttemptResult::k4xx;
  return AttemptResult::kOther;
}

AttemptResult failureClass(HttpFailure kind) {
  switch (kind) {
    case HttpFailure::kConnect:
      return AttemptResult::kConnect;
    case HttpFailure::kReset:
      return AttemptResult::kReset;
    case HttpFailure::kTimeout:
    case HttpFailure::kDeadline:
      return AttemptResult::kTimeout;
    default:
      return AttemptResult::kOther;
  }
}

uint32_t retryBit(AttemptResult result) {
  switch (result) {
    case AttemptResult::kConnect:
      return kRetryConnect;
    case AttemptResult::kReset:
      return kRetryReset;
    case AttemptResult::kTimeout:
      return kRetryTimeout;
    case AttemptResult::k5xx:
      return kRetry5xx;
    case AttemptResult::k4xx:
      return kRetry4xx;
    default:
      return kRetryOther;
  }
}

std::string_view className(AttemptResult result) { return attemptResultName(result); }

}  // namespace

std::string newRequestId(CallTime& time) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  id.reserve(32);
  for (int half = 0; half < 2; ++half) {
    uint64_t bits = time.draw();
    for (int i = 0; i < 16; ++i, bits >>= 4) id += kHex[bits & 0xF];
  }
  return id;
}

CalloutCall::CalloutCall(OInterface& target, Clock::time_point started)
    : target_(target),
      http_(target.asHttp()),
      metrics_(http_ != nullptr ? http_->metrics() : nullptr),
      breaker_(http_ != nullptr ? http_->breaker() : nullptr),
      time_(http_ != nullptr ? http_->callTime() : CallTime::real()),
      started_(started) {
  const bool needsClock =
      metrics_ != nullptr || breaker_ != nullptr || (http_ && http_->policy().deadlineMs > 0);
  if (started_ == Clock::time_point() && needsClock) started_ = time_.now();
  if (breaker_ == nullptr) return;
  admission_ = breaker_->admit(started_, stopText_);
  if (admission_ == CircuitBreaker::Admission::kRefused) stop_ = Stop::kCircuitOpen;
}

CalloutCall::~CalloutCall() {
  if (breaker_ != nullptr && !finished_) {
    breaker_->finish(admission_, CircuitBreaker::Result::kNothingSent, time_.now());
  }
}

void CalloutCall::logFailure(const QRM_Exception& failure) const {
  if (requestId_.empty()) {
    failure.log(kSeverityWarning, false, false);
  } else if (failure.entryCount() > 0) {
    failure.logText(kSeverityWarning, failure.entryTag(0),
                    failure.entry(0).narrowText() + " [request id " + requestId_ + "]");
  }
}

// Statuses and refused connections are logged as their records; every other failed attempt here, once.
void CalloutCall::logExchangeFailure(AttemptResult result, const std::string& why) const {
  if (requestId_.empty()) {
    logLine(kLogWarning, u"HTTP Callout attempt failed (%s): %s", className(result), why);
  } else {
    logLine(kLogWarning, u"HTTP Callout attempt failed (%s): %s [request id %s]", className(result), why,
            requestId_);
  }
}

// Full jitter: a random pause up to base × 2^(attempts made − 1), the doubling stopping at 1024 × base,
// and never past the deadline.
void CalloutCall::pause(int32_t attemptsMade, Clock::time_point deadline) {
  const uint64_t window = uint64_t{http_->policy().backoffMs} << std::min(attemptsMade - 1, 10);
  // The draw scaled onto [0, window]: all bits set give the whole window.
  const auto pauseFor = std::chrono::milliseconds(time_.draw() / (UINT64_MAX / (window + 1) + 1));
  const Clock::time_point now = time_.now();
  time_.sleepUntil(deadline - now > pauseFor ? now + pauseFor : deadline);
}

CalloutCall::End CalloutCall::stopWith(Stop stop, std::string text) {
  stop_ = stop;
  stopText_ = std::move(text);
  return End::kStopped;
}

template <class Send>
AttemptResult CalloutCall::attempt(const Send& send) {
  lastAnswered_ = false;
  try {
    icu::UnicodeString status;
    HttpPostLimits limits;
    // The transport counts on the real clock; a fake one runs with it, offset by the pauses it skipped.
    limits.deadline = deadline_ == Clock::time_point::max() || &time_ == &CallTime::real()
                          ? deadline_
                          : deadline_ + (Clock::now() - time_.now());
    limits.extraHeader = idHeader_;
    const int32_t result = send(status, limits);
    if (result == 0) return AttemptResult::kOk;
    lastFailure_ = toStdString(status);
    lastAnswered_ = true;
    logFailure(sendFailure(status));
    return statusClass(lastFailure_);
  } catch (const QRM_Exception& e) {
    // A failed connection: nothing was sent.
    lastFailure_ = e.what();
    logFailure(e);
    return AttemptResult::kConnect;
  } catch (const CHttpException& e) {
    lastExchangeFailure_ = e.why();
    lastFailure_ = e.why();
    const AttemptResult result = failureClass(e.kind());
    logExchangeFailure(result, e.why());
    return result;
  }
}

CalloutCall::End CalloutCall::run(const icu::UnicodeString& message, icu::UnicodeString& reply) {
  return runAttempts([&](icu::UnicodeString& status, const HttpPostLimits& limits) {
    return http_ != nullptr ? http_->send(message, status, &reply, limits)
                            : target_.send(nullptr, message, status, &reply);
  });
}

CalloutCall::End CalloutCall::run(std::string_view message, std::string& reply) {
  return runAttempts([&](icu::UnicodeString& status, const HttpPostLimits& limits) {
    if (http_ != nullptr) return http_->sendUtf8(message, status, &reply, limits);
    // Another kind of interface speaks UTF-16 only; the message came from valid UTF-16, so the
    // conversion back is exact.
    reply.clear();
    icu::UnicodeString unicodeReply;
    const int32_t result = target_.send(nullptr, UCString(message), status, &unicodeReply);
    reply = toStdString(unicodeReply);
    return result;
  });
}

template <class Send>
CalloutCall::End CalloutCall::runAttempts(const Send& send) {
  const CalloutPolicy* policy = http_ != nullptr ? &http_->policy() : nullptr;
  const int32_t attempts = (http_ != nullptr ? http_->retries() : OHTTP::kDefaultRetries) + 1;
  if (policy != nullptr && policy->deadlineMs > 0)
    deadline_ = started_ + std::chrono::milliseconds(policy->deadlineMs);
  if (policy != nullptr && !policy->requestIdHeader.empty()) {
    requestId_ = newRequestId(time_);
    idHeader_ = policy->requestIdHeader + ": " + requestId_;
  }
  const auto deadlineText = [&](int32_t made) {
    return "deadline of " + std::to_string(policy->deadlineMs) + " ms reached after " + std::to_string(made) +
           (made == 1 ? " attempt" : " attempts");
  };

  // Without a deadline the clock is not read: the defined loop costs nothing extra.
  const bool bounded = deadline_ != Clock::time_point::max();
  const auto pastDeadline = [&] { return bounded && time_.now() >= deadline_; };

  End end = End::kExhausted;
  AttemptResult last = AttemptResult::kOk;
  int32_t made = 0;
  while (made < attempts) {
    if (made > 0 && policy != nullptr && policy->backoffMs > 0) pause(made, deadline_);
    if (pastDeadline()) {
      end = stopWith(Stop::kDeadline, deadlineText(made));
      break;
    }
    ++made;
    last = attempt(send);
    if (metrics_ != nullptr) metrics_->countAttempt(last);
    if (last == AttemptResult::kOk) {
      end = End::kDelivered;
      break;
    }
    if (pastDeadline()) {
      end = stopWith(Stop::kDeadline, deadlineText(made));
      break;
    }
    if (policy != nullptr && policy->retryOnGiven && (policy->retryOn & retryBit(last)) == 0) {
      end = lastAnswered_
                ? stopWith(Stop::kNotRetriedAnswer, lastFailure_ + " is not retried")
                : stopWith(Stop::kNotRetriedFailure,
                           std::string(className(last)) + " failure is not retried: " + lastFailure_);
      break;
    }
  }
  if (end == End::kDelivered && policy != nullptr && policy->optedIn) lastExchangeFailure_.clear();
  // A service that answers, even with a 4xx, is up: only calls that got no answer count against it, and
  // a call that sent nothing tells nothing about the service.
  if (breaker_ != nullptr) {
    using Result = CircuitBreaker::Result;
    const Result result = made == 0                                               ? Result::kNothingSent
                          : end == End::kDelivered || last == AttemptResult::k4xx ? Result::kSucceeded
                                                                                  : Result::kFailed;
    breaker_->finish(admission_, result, time_.now());
    finished_ = true;
  }
  return end;
}

}  // namespace hcs
