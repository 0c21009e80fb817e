#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace hcs {

// How one HTTP attempt of a callout ended: kOk, or the class of its failure. The classes are what a
// callout's `retryOn` setting names and what hcs_attempts_total counts, by the same names; a failure
// keeps its class from the socket that saw it to the metrics.
enum class AttemptResult : uint8_t {
  kOk,
  kConnect,  // no connection could be made (resolve, refuse, connect wait); nothing was sent
  kTls,      // the TLS handshake failed: verification, a pin that does not match, no common version
  kReset,    // the connection broke before a whole answer: reset, closed without one, cut short
  kTimeout,  // no whole reply within the reply wait, or the call's deadline came first
  k5xx,
  k4xx,
  kOther,  // a malformed reply, a body over the cap, another status, a text that cannot be sent
  kCount
};

// "ok", "connect", "tls", "reset", "timeout", "5xx", "4xx", "other".
std::string_view attemptResultName(AttemptResult result);
// The failure class of that name; kOk is no failure class.
std::optional<AttemptResult> failureClassNamed(std::string_view name);

// The class of an answer with status `code` that is not 2xx.
AttemptResult statusClass(long code);

// One bit per failure class, for sets of them (retryOn).
constexpr uint32_t failureBit(AttemptResult result) {
  return result == AttemptResult::kOk ? 0u : 1u << (static_cast<unsigned>(result) - 1);
}
inline constexpr uint32_t kAllFailures = (1u << (static_cast<unsigned>(AttemptResult::kCount) - 1)) - 1;

}  // namespace hcs
