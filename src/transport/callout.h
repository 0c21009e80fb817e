#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transport/call_time.h"
#include "transport/callout_settings.h"
#include "transport/circuit_breaker.h"
#include "transport/http_interface.h"
#include "transport/instance_set.h"

namespace hcs {

class CalloutMetrics;

// The callout of one attribute type, as initPlugin files it: its settings, the instances of the service
// with the transport each posts through (an HTTP interface with its own connection pool), its circuit
// (with a breaker setting), its counters and the time its calls count by. Built once, then shared
// read-only by every score call of the type; the pools, the instances' state and the circuit
// synchronise themselves.
class Callout {
 public:
  // An HTTP callout for `uri` (HTTP/1.1, the settings' two waits), one interface per instance. With a
  // breaker setting it has a circuit, logged under `typeName` and the URI. `metrics` (may be null; must
  // outlive the callout) counts its calls, attempts, connections, circuit and instances; `time` (may be
  // null: the real one; must outlive it) is what its calls count their deadlines, pauses and draws by.
  // Throws as OHTTP's constructor does.
  Callout(const CUri& uri, const CalloutSettings& settings, const std::string& typeName = "",
          CalloutMetrics* metrics = nullptr, CallTime* time = nullptr);
  // One instance over another transport (a test's, a fuzzer's); `subject` names the circuit in the log.
  Callout(std::unique_ptr<CalloutTransport> transport, const CalloutSettings& settings,
          const std::string& subject = "", CalloutMetrics* metrics = nullptr, CallTime* time = nullptr);

  const CalloutSettings& settings() const { return settings_; }
  InstanceSet& instances() const { return *instances_; }
  // The first instance's transport (the only one of a plain URI).
  CalloutTransport& transport() const { return instances_->transport(0); }
  // nullptr without a breaker setting.
  CircuitBreaker* breaker() const { return breaker_.get(); }
  CalloutMetrics* metrics() const { return metrics_; }
  CallTime& time() const { return time_ != nullptr ? *time_ : CallTime::real(); }

 private:
  Callout(const CalloutSettings& settings, const std::string& subject, CalloutMetrics* metrics,
          CallTime* time);

  const CalloutSettings settings_;
  CalloutMetrics* const metrics_;
  CallTime* const time_;
  std::unique_ptr<InstanceSet> instances_;
  std::unique_ptr<CircuitBreaker> breaker_;
};

}  // namespace hcs
