#include "transport/callout_policy.h"

#include <algorithm>
#include <string_view>

#include "error/qrm_exception.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {

namespace {

constexpr std::string_view kKnown =
    "retries, connectTimeout, timeout, deadline, retryOn, backoff, breaker, breakerWait, requestIdHeader";

struct RetryName {
  std::string_view name;
  uint32_t bit;
};
constexpr RetryName kRetryNames[] = {{"connect", kRetryConnect}, {"reset", kRetryReset},
                                     {"timeout", kRetryTimeout}, {"5xx", kRetry5xx},
                                     {"4xx", kRetry4xx},         {"other", kRetryOther}};

[[noreturn]] void refuse(const std::string& text) {
  throw QRM_Exception("", UCString(text), 0, kSeverityCritical);
}

[[noreturn]] void badValue(const std::string& name, const std::string& value, std::string_view expected) {
  refuse("Bad HTTP Callout URI parameter [" + name + "=" + value + "]: " + std::string(expected));
}

// A plain decimal from `low` to `high`; anything else is refused, naming the parameter.
uint32_t number(const std::string& name, const std::string& value, uint32_t low, uint32_t high,
                std::string_view what) {
  uint64_t n = 0;
  bool ok = !value.empty() && value.size() <= 10;
  for (const char c : value) {
    ok = ok && c >= '0' && c <= '9';
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (!ok || n < low || n > high) {
    badValue(name, value,
             "a whole number " + std::string(what) + " from " + std::to_string(low) + " to " +
                 std::to_string(high) + " is expected");
  }
  return static_cast<uint32_t>(n);
}

uint32_t milliseconds(const std::string& name, const std::string& value, uint32_t low) {
  return number(name, value, low, CalloutPolicy::kMaxMilliseconds, "of milliseconds");
}

uint32_t retryClasses(const std::string& value) {
  uint32_t bits = 0;
  size_t start = 0;
  while (start <= value.size()) {
    const size_t comma = std::min(value.find(',', start), value.size());
    const std::string_view item = std::string_view(value).substr(start, comma - start);
    const auto* known = std::find_if(std::begin(kRetryNames), std::end(kRetryNames),
                                     [&](const RetryName& r) { return r.name == item; });
    if (known == std::end(kRetryNames)) {
      // Appended rather than "\"" + std::string(item): g++ 12 at -O3 warns falsely (-Wrestrict) on that.
      std::string why = "\"";
      why.append(item).append("\" is none of connect, reset, timeout, 5xx, 4xx, other");
      badValue("retryOn", value, why);
    }
    bits |= known->bit;
    start = comma + 1;
  }
  return bits;
}

bool isTokenChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::string headerName(const std::string& value) {
  std::string lower = value;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  static constexpr std::string_view kOurs[] = {
      "host", "content-type", "content-length", "expect", "transfer-encoding", "connection", "accept"};
  const bool token =
      !value.empty() && value.size() <= 64 && std::all_of(value.begin(), value.end(), isTokenChar);
  if (!token)
    badValue("requestIdHeader", value,
             "a header name of 1 to 64 letters, digits and !#$%&'*+-.^_`|~ is expected");
  if (std::find(std::begin(kOurs), std::end(kOurs), lower) != std::end(kOurs)) {
    badValue("requestIdHeader", value, "the callout sets this header itself");
  }
  return value;
}

}  // namespace

CalloutPolicy CalloutPolicy::defaults(uint32_t timeoutMs) {
  CalloutPolicy policy;
  policy.connectTimeoutMs = timeoutMs;
  policy.replyTimeoutMs = timeoutMs;
  return policy;
}

std::string CalloutPolicy::describe(int32_t retries) const {
  std::string retryText;
  if (retryOn == kRetryAll) {
    retryText = "all";
  } else {
    for (const RetryName& r : kRetryNames) {
      if ((retryOn & r.bit) == 0) continue;
      if (!retryText.empty()) retryText += ",";
      retryText += r.name;
    }
  }
  const auto off = [](uint32_t v) { return v == 0 ? std::string("off") : std::to_string(v); };
  return "connectTimeout=" + std::to_string(connectTimeoutMs) + " timeout=" + std::to_string(replyTimeoutMs) +
         " deadline=" + (deadlineMs == 0 ? std::string("none") : std::to_string(deadlineMs)) +
         " retries=" + std::to_string(retries) + " retryOn=" + retryText +
         " backoff=" + std::to_string(backoffMs) + " breaker=" + off(breakerCalls) +
         " breakerWait=" + std::to_string(breakerWaitMs) +
         " requestIdHeader=" + (requestIdHeader.empty() ? std::string("off") : requestIdHeader);
}

CalloutPolicyReading readCalloutPolicy(const CUri& uri, uint32_t timeoutMs) {
  CalloutPolicyReading reading;
  CalloutPolicy& p = reading.policy;
  p = CalloutPolicy::defaults(timeoutMs);
  for (const auto& [nameText, valueText] : uri.params) {
    const std::string name = toUtf8(nameText);
    const std::string value = toUtf8(valueText);
    bool setting = true;
    if (name == "connectTimeout") {
      p.connectTimeoutMs = milliseconds(name, value, 1);
    } else if (name == "timeout") {
      p.replyTimeoutMs = milliseconds(name, value, 1);
    } else if (name == "deadline") {
      p.deadlineMs = milliseconds(name, value, 1);
    } else if (name == "retryOn") {
      p.retryOn = retryClasses(value);
      p.retryOnGiven = true;
    } else if (name == "backoff") {
      p.backoffMs = milliseconds(name, value, 0);
    } else if (name == "breaker") {
      p.breakerCalls = number(name, value, 0, CalloutPolicy::kMaxBreakerCalls, "of calls");
    } else if (name == "breakerWait") {
      p.breakerWaitMs = milliseconds(name, value, 1);
    } else if (name == "requestIdHeader") {
      p.requestIdHeader = headerName(value);
    } else {
      setting = false;
      if (name != "retries") reading.unknown.push_back(name + "=" + value);
    }
    reading.optedIn = reading.optedIn || setting;
  }
  // Opting in turns on strict checking: a misspelt setting next to real ones must not pass unnoticed.
  if (reading.optedIn && !reading.unknown.empty()) {
    refuse("Unknown HTTP Callout URI parameter [" + reading.unknown.front() + "]; the known ones are " +
           std::string(kKnown));
  }
  p.optedIn = reading.optedIn;
  return reading;
}

}  // namespace hcs
