#include "metrics/attempt_result.h"

#include <iterator>

namespace hcs {

namespace {

constexpr std::string_view kNames[] = {"ok", "connect", "tls", "reset", "timeout", "5xx", "4xx", "other"};
static_assert(std::size(kNames) == static_cast<size_t>(AttemptResult::kCount));

}  // namespace

std::string_view attemptResultName(AttemptResult result) { return kNames[static_cast<size_t>(result)]; }

std::optional<AttemptResult> failureClassNamed(std::string_view name) {
  for (size_t i = 1; i < std::size(kNames); ++i) {
    if (kNames[i] == name) return static_cast<AttemptResult>(i);
  }
  return std::nullopt;
}

AttemptResult statusClass(long code) {
  if (code >= 500 && code < 600) return AttemptResult::k5xx;
  if (code >= 400 && code < 500) return AttemptResult::k4xx;
  return AttemptResult::kOther;
}

}  // namespace hcs
