#include "transport/call_loop.h"

#include <algorithm>

#include "error/qrm_exception.h"
#include "log/log_message.h"
#include "transport/callout.h"
#include "transport/output_interface.h"
#include "util/ucstring.h"

namespace hcs {

namespace {

// The record a refused connection was in the defined interface, logged as such.
QRM_Exception connectionRecord(const CHttpException& e) {
  return QRM_Exception("", UCString(std::string_view(e.why())), 0, kSeverityCritical);
}

}  // namespace

void newRequestId(CallTime& time, char (&id)[32]) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int half = 0; half < 2; ++half) {
    uint64_t bits = time.draw();
    for (int i = 0; i < 16; ++i, bits >>= 4) id[half * 16 + i] = kHex[bits & 0xF];
  }
}

CalloutCall::CalloutCall(const Callout& callout, Clock::time_point started)
    : callout_(callout),
      settings_(callout.settings()),
      metrics_(callout.metrics()),
      breaker_(callout.breaker()),
      time_(callout.time()),
      started_(started) {
  if (breaker_ == nullptr) return;
  admission_ = breaker_->admit(started_, stopText_);
}

CalloutCall::~CalloutCall() {
  if (breaker_ != nullptr && !finished_) {
    breaker_->finish(admission_, CircuitBreaker::Result::kNothingSent, time_.now());
  }
}

void CalloutCall::logRecord(const QRM_Exception& failure) const {
  if (requestIdLength_ == 0) {
    failure.log(kSeverityWarning, false, false);
  } else if (failure.entryCount() > 0) {
    failure.logText(kSeverityWarning, failure.entryTag(0),
                    failure.entry(0).narrowText() + " [request id " + std::string(requestId()) + "]");
  }
}

// Statuses and refused connections are logged as their records; every other failed attempt here, once.
void CalloutCall::logExchangeFailure(AttemptResult result, const std::string& why) const {
  if (requestIdLength_ == 0) {
    logLine(kLogWarning, u"HTTP Callout attempt failed (%s): %s", attemptResultName(result), why);
  } else {
    logLine(kLogWarning, u"HTTP Callout attempt failed (%s): %s [request id %s]", attemptResultName(result),
            why, requestId());
  }
}

// Full jitter: a random pause up to base × 2^(attempts made − 1), the doubling stopping at 1024 × base,
// and never past the deadline.
void CalloutCall::pause(int32_t attemptsMade) {
  const uint64_t window = uint64_t{settings_.backoffMs} << std::min(attemptsMade - 1, 10);
  // The draw scaled onto [0, window]: all bits set give the whole window.
  const auto pauseFor = std::chrono::milliseconds(time_.draw() / (UINT64_MAX / (window + 1) + 1));
  const Clock::time_point now = time_.now();
  time_.sleepUntil(deadline_ - now > pauseFor ? now + pauseFor : deadline_);
}

CalloutCall::End CalloutCall::stopWith(Stop stop, std::string text) {
  stop_ = stop;
  stopText_ = std::move(text);
  return End::kStopped;
}

template <class Post>
AttemptResult CalloutCall::attempt(const Post& post, CalloutTransport& transport, std::string& reply) {
  lastAnswered_ = false;
  lastCutByDeadline_ = false;
  try {
    icu::UnicodeString status;
    HttpPostLimits limits;
    if (deadline_ != Clock::time_point::max()) {
      // The transport counts on the real clock: what is left of the deadline on the callout's time,
      // read first, so that on the real clock the transport's deadline is never the earlier one.
      const Clock::time_point callNow = time_.now();
      limits.deadline = deadline_ + (Clock::now() - callNow);
    }
    limits.extraHeader = idHeader_;
    const long code = post(transport, status, reply, limits);
    if (code >= 200 && code < 300) return AttemptResult::kOk;
    lastFailure_ = toStdString(status);
    lastAnswered_ = true;
    logRecord(sendFailure(status));
    return statusClass(code);
  } catch (const CHttpConnectException& e) {
    // Nothing was sent: logged as the defined interface's record of a failed connection.
    lastCutByDeadline_ = e.deadlineCut();
    lastFailure_ = e.why();
    logRecord(connectionRecord(e));
    return e.failure();
  } catch (const CHttpException& e) {
    lastCutByDeadline_ = e.deadlineCut();
    lastExchangeFailure_ = e.why();
    lastFailure_ = e.why();
    logExchangeFailure(e.failure(), e.why());
    return e.failure();
  } catch (const QRM_Exception& e) {
    // A text that cannot be sent (not valid UTF-16): nothing went out.
    lastFailure_ = e.what();
    logRecord(e);
    return AttemptResult::kOther;
  }
}

CalloutCall::End CalloutCall::run(std::string_view message, std::string& reply) {
  return runAttempts(
      [&](CalloutTransport& transport, icu::UnicodeString& status, std::string& answer,
          const HttpPostLimits& limits) { return transport.post(message, status, answer, limits); },
      reply);
}

CalloutCall::End CalloutCall::run(const icu::UnicodeString& message, std::string& reply) {
  return runAttempts(
      [&](CalloutTransport& transport, icu::UnicodeString& status, std::string& answer,
          const HttpPostLimits& limits) {
        answer.clear();
        return transport.post(toUtf8(message), status, answer, limits);
      },
      reply);
}

void CalloutCall::startRequestId() {
  newRequestId(time_, requestId_);
  requestIdLength_ = sizeof requestId_;
  // Kept from call to call on this thread: the header costs no allocation once it has a place.
  thread_local std::string header;
  header.assign(settings_.requestIdHeader).append(": ").append(requestId_, requestIdLength_);
  idHeader_ = header;
}

std::string CalloutCall::deadlineText(int32_t made) const {
  return "deadline of " + std::to_string(settings_.deadlineMs) + " ms reached after " + std::to_string(made) +
         (made == 1 ? " attempt" : " attempts");
}

// A service that answers, even with a 4xx, is up: only calls that got no answer count against it, and
// a call that sent nothing tells nothing about the service.
void CalloutCall::finishCircuit(int32_t made, End end, AttemptResult last) {
  if (breaker_ == nullptr) return;
  using Result = CircuitBreaker::Result;
  const Result result = made == 0                                               ? Result::kNothingSent
                        : end == End::kDelivered || last == AttemptResult::k4xx ? Result::kSucceeded
                                                                                : Result::kFailed;
  breaker_->finish(admission_, result, time_.now());
  finished_ = true;
}

template <class Post>
CalloutCall::End CalloutCall::runAttempts(const Post& post, std::string& reply) {
  const int32_t attempts = settings_.retries + 1;
  if (settings_.deadlineMs > 0) deadline_ = started_ + std::chrono::milliseconds(settings_.deadlineMs);
  if (!settings_.requestIdHeader.empty()) startRequestId();
  // Without a deadline the clock is not read: the defined loop costs nothing extra.
  const bool bounded = deadline_ != Clock::time_point::max();
  const auto pastDeadline = [&] { return bounded && time_.now() >= deadline_; };

  InstanceSet& instances = callout_.instances();
  // The instances' state counts by the clock; a single instance has none.
  const bool several = instances.size() > 1;
  const auto now = [&] { return several ? time_.now() : Clock::time_point(); };
  End end = End::kExhausted;
  AttemptResult last = AttemptResult::kOk;
  int32_t made = 0;
  size_t instance = 0;
  while (made < attempts) {
    if (made > 0 && settings_.backoffMs > 0) pause(made);
    if (pastDeadline()) {
      end = stopWith(Stop::kDeadline, deadlineText(made));
      break;
    }
    // A retry goes to another instance, where there are several.
    instance = made == 0 ? instances.first(now()) : instances.next(instance, now());
    ++made;
    last = attempt(post, instances.transport(instance), reply);
    instances.ended(instance, last, now());
    if (last == AttemptResult::kOk) {
      end = End::kDelivered;
      break;
    }
    // The transport's word that the deadline cut the attempt stands whatever the clock reads now.
    if (lastCutByDeadline_ || pastDeadline()) {
      end = stopWith(Stop::kDeadline, deadlineText(made));
      break;
    }
    if ((settings_.retryOn & failureBit(last)) == 0) {
      end = lastAnswered_
                ? stopWith(Stop::kNotRetriedAnswer, lastFailure_ + " is not retried")
                : stopWith(Stop::kNotRetriedFailure,
                           std::string(attemptResultName(last)) + " failure is not retried: " + lastFailure_);
      break;
    }
  }
  if (end == End::kDelivered && settings_.optedIn) lastExchangeFailure_.clear();
  finishCircuit(made, end, last);
  return end;
}

}  // namespace hcs
