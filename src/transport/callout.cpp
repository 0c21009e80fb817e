#include "transport/callout.h"

#include <chrono>

#include "util/ucstring.h"

namespace hcs {

namespace {

std::optional<TlsOptions> tlsOptions(const CalloutSettings& s) {
  if (!s.tls) return std::nullopt;
  return TlsOptions{s.caFile, s.certFile, s.keyFile, s.pinnedPublicKey, s.tls13};
}

}  // namespace

Callout::Callout(const CUri& uri, const CalloutSettings& settings, const std::string& typeName,
                 CalloutMetrics* metrics, CallTime* time)
    : Callout(std::make_unique<OHTTP>(uri, settings.connectTimeoutMs, settings.replyTimeoutMs, 1, metrics,
                                      tlsOptions(settings)),
              settings, "ATTR_TYPE [" + typeName + "] " + toUtf8(uri.text), metrics, time) {}

Callout::Callout(std::unique_ptr<CalloutTransport> transport, const CalloutSettings& settings,
                 const std::string& subject, CalloutMetrics* metrics, CallTime* time)
    : settings_(settings), metrics_(metrics), time_(time), transport_(std::move(transport)) {
  if (settings_.breakerCalls > 0) {
    breaker_ = std::make_unique<CircuitBreaker>(
        settings_.breakerCalls, std::chrono::milliseconds(settings_.breakerWaitMs), subject, metrics);
  }
}

}  // namespace hcs
