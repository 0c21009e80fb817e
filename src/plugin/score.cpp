#include "plugin/score.h"

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>

#include "metrics/callout_metrics.h"
#include "plugin/callout_registry.h"
#include "plugin/host_buffer.h"
#include "plugin/outgoing_document.h"
#include "transport/call_loop.h"
#include "transport/callout.h"
#include "util/format.h"
#include "util/kept_buffer.h"
#include "util/numbers.h"

namespace hcs {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kError = "<ERROR>";

// This thread's buffers and caches, kept from call to call so that a warm call allocates nothing.
struct ThreadBuffers {
  OutgoingBuffers outgoing;
  std::string reply;  // the reply as the host gets it (8-bit text)
};

ThreadBuffers& thisThread() {
  thread_local ThreadBuffers buffers;
  return buffers;
}

CallOutcome outcomeOf(CalloutCall::Stop stop) {
  switch (stop) {
    case CalloutCall::Stop::kDeadline:
      return CallOutcome::kDeadline;
    case CalloutCall::Stop::kNotRetriedAnswer:
      return CallOutcome::kServiceError;
    default:
      return CallOutcome::kTransport;
  }
}

// One score call: its document, the status, the last error text recorded, how the call ended and the
// reply. Each step may record an error, replacing the text of an earlier one, so the error document
// carries the last failure in the order of the steps.
class ScoreCall {
 public:
  // The deadline and the duration in the metrics count from here, before any record is read.
  ScoreCall(const ScoreTexts& texts, ThreadBuffers& buffers)
      : started_(Clock::now()), reply_(buffers.reply), document_(texts, buffers.outgoing) {}

  int32_t run(char* resultBuffer, uint32_t maxResultSize) {
    const icu::UnicodeString& inboundType = document_.inboundType();
    if (inboundType != document_.matchedType()) {
      fail(CallOutcome::kMismatch, "mismatched attribute types. inbound[%S] matched[%S]", inboundType,
           document_.matchedType());
    }
    reply_.clear();
    const Callout* found = nullptr;
    if (const DocumentProblem problem = document_.unreadableRecord()) {
      recordProblem(problem);
    } else if ((found = calloutRegistry().find(parseInt(inboundType))) == nullptr) {
      fail(CallOutcome::kUnconfigured, "ATTR_TYPE_ID [%S] does not have a URI configured.", inboundType);
    } else {
      callService(*found, maxResultSize);
    }
    return answer(resultBuffer, maxResultSize);
  }

 private:
  template <class... Args>
  void record(std::string_view format, const Args&... args) {
    formatString(errorText_, format, args...);
    status_ = -1;
  }
  // Records and names the outcome; a call whose attempts all failed stays kExhausted whatever text
  // replaces the "despite retries" one.
  template <class... Args>
  void fail(CallOutcome why, std::string_view format, const Args&... args) {
    record(format, args...);
    if (outcome_ != CallOutcome::kExhausted) outcome_ = why;
  }

  // A text that cannot go into the document: nothing is sent.
  void recordProblem(const DocumentProblem& problem) {
    if (problem.parseError != nullptr) {
      record("%s document is not well-formed XML: %s", problem.record, problem.parseError->what());
    } else {
      record(
          "%s document holds characters only XML 1.1 allows, which the XML 1.0 document sent to the "
          "service cannot carry",
          problem.record);
    }
    outcome_ = CallOutcome::kBadInput;
  }

  void callService(const Callout& callout, uint32_t maxResultSize) {
    CalloutCall attempts(callout, started_);
    metrics_ = attempts.metrics();
    if (!attempts.admitted()) {
      // An open circuit: fails at once, before any document is built.
      fail(CallOutcome::kCircuitOpen, "HTTP Callout: %s", attempts.stopText());
    } else if (const DocumentProblem problem = document_.build()) {
      recordProblem(problem);
    } else {
      post(attempts);
      if (attempts.stop() != CalloutCall::Stop::kNone) return;
      if (reply_.empty()) fail(CallOutcome::kEmpty, "HTTP Callout: Result message was returned empty");
      if (reply_.size() > maxResultSize) {
        fail(CallOutcome::kTooLarge, "return document size exceeds maximum allowed size");
      }
    }
  }

  // Posts the document with up to retries + 1 attempts and records how they ended. Non-2xx answers
  // and refused connections are only logged; a failed exchange fails the call even when a later
  // attempt gets through.
  void post(CalloutCall& attempts) {
    const icu::UnicodeString* unconverted = document_.unconverted();
    const CalloutCall::End end =
        unconverted != nullptr ? attempts.run(*unconverted, reply_) : attempts.run(document_.utf8(), reply_);
    if (!attempts.lastExchangeFailure().empty()) {
      fail(CallOutcome::kTransport, "HTTP Callout: %s", attempts.lastExchangeFailure());
    }
    if (end == CalloutCall::End::kExhausted) {
      fail(CallOutcome::kExhausted, "HTTP Callout: Failed to receive message despite retries");
    } else if (end == CalloutCall::End::kStopped) {
      fail(outcomeOf(attempts.stop()), "HTTP Callout: %s", attempts.stopText());
    }
  }

  // Counts the call and writes the reply, or the error document, into the host's buffer.
  int32_t answer(char* resultBuffer, uint32_t maxResultSize) {
    const bool errorDocument = status_ == -1;
    // A reply that reports an error of its own is handed back as it came, but the call still failed.
    if (reply_.find(kError) != std::string::npos) {
      if (!errorDocument) outcome_ = CallOutcome::kServiceError;
      status_ = -1;
    }
    countCall();
    if (errorDocument) {
      writeScoreError(resultBuffer, maxResultSize, errorText_);
    } else if (resultBuffer != nullptr) {
      std::memcpy(resultBuffer, reply_.data(), reply_.size());
      resultBuffer[reply_.size()] = '\0';
    }
    keepSmall(reply_);
    return status_;
  }

  // Into the callout's counters, or the registry's for calls that found no callout.
  void countCall() const {
    CalloutMetrics* metrics = metrics_;
    if (metrics == nullptr) {
      MetricsRegistry* registry = activeMetrics();
      if (registry == nullptr) return;
      metrics = registry->forUnconfiguredType(parseInt(document_.inboundType()));
    }
    metrics->countCall(outcome_, Clock::now() - started_);
  }

  const Clock::time_point started_;
  std::string& reply_;
  OutgoingDocument document_;
  int32_t status_ = 0;
  std::string errorText_;
  CallOutcome outcome_ = CallOutcome::kOk;
  CalloutMetrics* metrics_ = nullptr;
};

}  // namespace

int32_t scoreRequest(const char* request, int32_t requestLength, const char* inbound, int32_t inboundLength,
                     const char* matched, int32_t matchedLength, char* resultBuffer, uint32_t maxResultSize) {
  ScoreCall call(
      {hostText(request, requestLength), hostText(inbound, inboundLength), hostText(matched, matchedLength)},
      thisThread());
  return call.run(resultBuffer, maxResultSize);
}

}  // namespace hcs
