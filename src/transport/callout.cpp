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

Callout::Callout(const CalloutSettings& settings, const std::string& subject, CalloutMetrics* metrics,
                 CallTime* time)
    : settings_(settings),
      metrics_(metrics),
      time_(time),
      instances_(
          std::make_unique<InstanceSet>(InstanceSet::Options{settings.roundRobin, settings.ejectAfter,
                                                             std::chrono::milliseconds(settings.ejectForMs)},
                                        subject, metrics)) {
  if (settings_.breakerCalls > 0) {
    breaker_ = std::make_unique<CircuitBreaker>(
        settings_.breakerCalls, std::chrono::milliseconds(settings_.breakerWaitMs), subject, metrics);
  }
}

Callout::Callout(const CUri& uri, const CalloutSettings& settings, const std::string& typeName,
                 CalloutMetrics* metrics, CallTime* time)
    : Callout(settings, "ATTR_TYPE [" + typeName + "] " + toUtf8(uri.text), metrics, time) {
  if (settings.instances.size() <= 1) {
    // A plain URI: the interface made from it, as the defined one is.
    const std::string name = toUtf8(uri.host) + ":" + std::to_string(httpPort(uri));
    instances_->add(name, std::make_unique<OHTTP>(uri, settings.connectTimeoutMs, settings.replyTimeoutMs, 1,
                                                  metrics, tlsOptions(settings)));
    return;
  }
  for (const UriInstance& instance : settings.instances) {
    instances_->add(instance.host + ":" + std::to_string(instance.port),
                    std::make_unique<OHTTP>(uri, instance.host, instance.port, settings.connectTimeoutMs,
                                            settings.replyTimeoutMs, metrics, tlsOptions(settings)));
  }
}

Callout::Callout(std::unique_ptr<CalloutTransport> transport, const CalloutSettings& settings,
                 const std::string& subject, CalloutMetrics* metrics, CallTime* time)
    : Callout(settings, subject, metrics, time) {
  instances_->add("in-process", std::move(transport));
}

}  // namespace hcs
