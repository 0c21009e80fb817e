#include "plugin/score.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "error/qrm_exception.h"
#include "metrics/callout_metrics.h"
#include "plugin/callout_registry.h"
#include "plugin/host_buffer.h"
#include "plugin/parsed_input.h"
#include "transport/call_loop.h"
#include "transport/callout.h"
#include "util/format.h"
#include "util/kept_buffer.h"
#include "util/numbers.h"
#include "util/record_scanner.h"
#include "util/ucstring.h"
#include "util/xml_document.h"

namespace hcs {

namespace {

const UCString kAttrTypeId("ATTR_TYPE_ID");
constexpr std::string_view kError = "<ERROR>";
const icu::UnicodeString kWrapperName(u"ATTRS_TO_SCORE");

// The working state of one call: status, the last error text recorded and how the call ended.
struct CallState {
  int32_t status = 0;
  std::string errorText;
  CallOutcome outcome = CallOutcome::kOk;

  template <class... Args>
  void record(std::string_view format, const Args&... args) {
    formatString(errorText, format, args...);
    status = -1;
  }
  // Records and names the outcome; a call whose attempts all failed stays kExhausted whatever text
  // replaces the "despite retries" one.
  template <class... Args>
  void fail(CallOutcome why, std::string_view format, const Args&... args) {
    record(format, args...);
    if (outcome != CallOutcome::kExhausted) outcome = why;
  }
};

CallOutcome outcomeOf(CalloutCall::Stop stop) {
  switch (stop) {
    case CalloutCall::Stop::kCircuitOpen:
      return CallOutcome::kCircuitOpen;
    case CalloutCall::Stop::kDeadline:
      return CallOutcome::kDeadline;
    case CalloutCall::Stop::kNotRetriedAnswer:
      return CallOutcome::kServiceError;
    default:
      return CallOutcome::kTransport;
  }
}

// The three host texts read by the record scanner: the outgoing document and both types, without
// parsing. Kept per thread, so a warm call allocates nothing for them; a huge document is let go at
// the next call.
struct ScannedInputs {
  std::string outgoing;
  std::string inboundType;
  std::string matchedType;

  // False when any text is outside what the scanner handles; the parser reads them then.
  bool scan(const char* request, int32_t requestLength, const char* inbound, int32_t inboundLength,
            const char* matched, int32_t matchedLength) {
    const auto bytes = [](const char* text, int32_t length) {
      return text == nullptr || length <= 0 ? std::string_view()
                                            : std::string_view(text, static_cast<size_t>(length));
    };
    keepSmall(outgoing);  // the last one may have been huge
    return buildOutgoing(bytes(request, requestLength), bytes(inbound, inboundLength),
                         bytes(matched, matchedLength), outgoing, inboundType, matchedType);
  }
};

// Records the parse error of an input that did not parse, naming it.
bool readable(const char* name, const CXmlDocument& doc, CallState& call) {
  if (doc.getRoot() != nullptr) return true;
  call.record("%s document is not well-formed XML: %s", name, doc.error.what());
  return false;
}

// Records how the attempts ended. Non-2xx answers and refused connections are only logged; a failed
// exchange fails the call even when a later attempt gets through.
void recordEnd(const CalloutCall& attempts, CalloutCall::End end, CallState& call) {
  if (!attempts.lastExchangeFailure().empty()) {
    call.fail(CallOutcome::kTransport, "HTTP Callout: %s", attempts.lastExchangeFailure());
  }
  if (end == CalloutCall::End::kExhausted) {
    call.fail(CallOutcome::kExhausted, "HTTP Callout: Failed to receive message despite retries");
  } else if (end == CalloutCall::End::kStopped) {
    call.fail(outcomeOf(attempts.stop()), "HTTP Callout: %s", attempts.stopText());
  }
}

// Posts the outgoing document, given as UTF-8, with up to retries + 1 attempts; `reply` gets the last
// reply as 8-bit text.
void post(CalloutCall& attempts, std::string_view outgoing, std::string& reply, CallState& call) {
  recordEnd(attempts, attempts.run(outgoing, reply), call);
}

// Wraps the three documents (or takes the scanner's document, already UTF-8) and posts them with up to
// retries + 1 attempts. Returns false when a document could not be read or carried (then nothing was
// sent and the error is recorded).
bool callout(CalloutCall& attempts, const char* request, int32_t requestLength, const std::string* scanned,
             const CXmlDocument* inboundDoc, const CXmlDocument* matchedDoc, std::string& reply,
             CallState& call) {
  if (scanned != nullptr) {
    post(attempts, *scanned, reply, call);  // well-formed UTF-8 already: nothing to check or convert
    return true;
  }
  thread_local ParsedInput lastRequest(nullptr);
  std::unique_ptr<CXmlDocument> uncachedRequest;
  const CXmlDocument& requestDoc = lastRequest.get(request, requestLength, uncachedRequest);
  if (!readable("request", requestDoc, call)) return false;

  // The three roots copied under a new ATTRS_TO_SCORE element, written without building it, and
  // well-formed on its own (entity references expanded).
  icu::UnicodeString outgoingText;
  static constexpr const char* kNames[] = {"request", "inbound", "matched"};
  const int32_t uncarried = toXmlWrapped(
      kWrapperName, {requestDoc.getRoot(), inboundDoc->getRoot(), matchedDoc->getRoot()}, outgoingText);
  if (uncarried >= 0) {
    call.record(
        "%s document holds characters only XML 1.1 allows, which the XML 1.0 document sent to the "
        "service cannot carry",
        kNames[uncarried]);
    return false;
  }

  thread_local std::string outgoing;
  if (toUtf8(outgoingText, outgoing)) {
    post(attempts, outgoing, reply, call);
    keepSmall(outgoing);
  } else {
    // Text that is no valid UTF-16 fails each attempt in the transport's conversion, as it always has.
    recordEnd(attempts, attempts.run(outgoingText, reply), call);
  }
  return true;
}

// Counts the call into its type's block: the callout's, or the registry's for calls that found none.
void countCall(CalloutMetrics* metrics, const icu::UnicodeString& inboundType, CallOutcome outcome,
               std::chrono::steady_clock::time_point started) {
  if (metrics == nullptr) {
    MetricsRegistry* registry = activeMetrics();
    if (registry == nullptr) return;
    metrics = registry->forUnconfiguredType(parseInt(inboundType));
  }
  metrics->countCall(outcome, std::chrono::steady_clock::now() - started);
}

}  // namespace

int32_t scoreRequest(const char* request, int32_t requestLength, const char* inbound, int32_t inboundLength,
                     const char* matched, int32_t matchedLength, char* resultBuffer, uint32_t maxResultSize) {
  // A call's deadline and its duration in the metrics both count from here, before any record is read.
  const auto started = std::chrono::steady_clock::now();
  CallState call;

  // Common records need no parser; the others are parsed, and the parser's way is the reference.
  thread_local ScannedInputs scanned;
  const bool fast = scanned.scan(request, requestLength, inbound, inboundLength, matched, matchedLength);
  thread_local ParsedInput lastInbound(u"ATTR1>");
  std::unique_ptr<CXmlDocument> uncachedInbound;
  std::unique_ptr<CXmlDocument> matchedDoc;
  const CXmlDocument* inboundDoc = nullptr;
  icu::UnicodeString inboundType;
  icu::UnicodeString matchedType;
  if (fast) {
    inboundType = UCString(scanned.inboundType);
    matchedType = UCString(scanned.matchedType);
  } else {
    inboundDoc = &lastInbound.get(inbound, inboundLength, uncachedInbound);
    UCString matchedText = recordText(matched, matchedLength, u"ATTR2>");
    matchedDoc = std::make_unique<CXmlDocument>(matchedText);
    inboundType = inboundDoc->getValue(inboundDoc->getRoot(), kAttrTypeId, UCString(), true);
    matchedType = matchedDoc->getValue(matchedDoc->getRoot(), kAttrTypeId, UCString(), true);
  }
  if (inboundType != matchedType) {
    call.fail(CallOutcome::kMismatch, "mismatched attribute types. inbound[%S] matched[%S]", inboundType,
              matchedType);
  }

  // The reply as the host gets it (8-bit text); kept from call to call on this thread.
  thread_local std::string reply;
  reply.clear();
  const Callout* found = nullptr;
  CalloutMetrics* metrics = nullptr;
  if (!fast && (!readable("inbound", *inboundDoc, call) || !readable("matched", *matchedDoc, call))) {
    call.outcome = CallOutcome::kBadInput;  // nothing to send
  } else if ((found = calloutRegistry().find(parseInt(inboundType))) == nullptr) {
    call.fail(CallOutcome::kUnconfigured, "ATTR_TYPE_ID [%S] does not have a URI configured.", inboundType);
  } else {
    CalloutCall attempts(*found, started);
    metrics = attempts.metrics();
    if (!attempts.admitted()) {
      // An open circuit: fails at once, before any document is built.
      call.fail(CallOutcome::kCircuitOpen, "HTTP Callout: %s", attempts.stopText());
    } else if (!callout(attempts, request, requestLength, fast ? &scanned.outgoing : nullptr, inboundDoc,
                        matchedDoc.get(), reply, call)) {
      call.outcome = CallOutcome::kBadInput;
    } else if (attempts.stop() == CalloutCall::Stop::kNone) {
      if (reply.empty()) call.fail(CallOutcome::kEmpty, "HTTP Callout: Result message was returned empty");
      if (reply.size() > maxResultSize) {
        call.fail(CallOutcome::kTooLarge, "return document size exceeds maximum allowed size");
      }
    }
  }

  const bool errorDocument = call.status == -1;
  // A reply that reports an error of its own is handed back as it came, but the call still failed.
  if (reply.find(kError) != std::string::npos) {
    if (!errorDocument) call.outcome = CallOutcome::kServiceError;
    call.status = -1;
  }
  countCall(metrics, inboundType, call.outcome, started);
  if (errorDocument) {
    writeScoreError(resultBuffer, maxResultSize, call.errorText);
  } else if (resultBuffer != nullptr) {
    std::memcpy(resultBuffer, reply.data(), reply.size());
    resultBuffer[reply.size()] = '\0';
  }
  keepSmall(reply);
  return call.status;
}

}  // namespace hcs
