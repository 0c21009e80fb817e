#include "transport/callout_policy.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "error/qrm_exception.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {

namespace {

constexpr std::string_view kKnownNames[] = {"retries",  "connectTimeout", "timeout",
                                            "deadline", "retryOn",        "backoff",
                                            "breaker",  "breakerWait",    "requestIdHeader"};

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

char lowered(char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); }

// The setting `name` is most likely a misspelling of: the same name in another letter case or one within
// two edits; "" when there is none. Such a parameter is never meant as anything else, so it is refused
// even on a URI that uses no setting.
std::string_view nearSetting(const std::string& name) {
  std::string_view nearest;
  size_t distance = 3;
  for (const std::string_view known : kKnownNames) {
    // Names three or more letters apart in length are three or more edits apart.
    if (name.size() + 2 < known.size() || known.size() + 2 < name.size()) continue;
    const size_t d = parameterNameDistance(name, known);
    if (d < distance) {
      nearest = known;
      distance = d;
    }
  }
  return nearest;
}

// The defined reading of "retries": every character a decimal digit, or none at all.
bool isRetriesNumber(const icu::UnicodeString& value) {
  for (int32_t i = 0; i < value.length(); ++i) {
    if (!u_isdigit(value.charAt(i))) return false;
  }
  return true;
}

}  // namespace

size_t parameterNameDistance(std::string_view a, std::string_view b) {
  // Three rows of the table: the one before the previous is what a swap goes back to.
  std::vector<size_t> before(b.size() + 1), previous(b.size() + 1), row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const bool same = lowered(a[i - 1]) == lowered(b[j - 1]);
      row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && lowered(a[i - 1]) == lowered(b[j - 2]) &&
          lowered(a[i - 2]) == lowered(b[j - 1])) {
        row[j] = std::min(row[j], before[j - 2] + 1);
      }
    }
    std::swap(before, previous);
    std::swap(previous, row);
  }
  return previous[b.size()];
}

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
  std::string nearMiss;  // the first parameter close to a setting's name, as "name=value"
  std::string_view meant;
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
    } else if (name == "retries") {
      setting = false;
      if (!isRetriesNumber(valueText)) reading.ignored.push_back(name + "=" + value);
    } else {
      setting = false;
      const std::string_view near = nearSetting(name);
      if (near.empty()) {
        reading.unknown.push_back(name + "=" + value);
      } else if (nearMiss.empty()) {
        nearMiss = name + "=" + value;
        meant = near;
      }
    }
    reading.optedIn = reading.optedIn || setting;
  }
  if (!nearMiss.empty()) {
    refuse("Unknown HTTP Callout URI parameter [" + nearMiss + "]; did you mean " + std::string(meant) + "?");
  }
  // Opting in turns on strict checking: nothing the URI says may pass unnoticed.
  if (reading.optedIn && !reading.unknown.empty()) {
    std::string known;
    for (const std::string_view name : kKnownNames) known.append(known.empty() ? "" : ", ").append(name);
    refuse("Unknown HTTP Callout URI parameter [" + reading.unknown.front() + "]; the known ones are " +
           known);
  }
  // The defined reading passes over a "retries" that is not a number, and takes an empty one as 0.
  icu::UnicodeString retries;
  if (reading.optedIn && uri.findParam(u"retries", retries) &&
      (retries.isEmpty() || !isRetriesNumber(retries))) {
    badValue("retries", toUtf8(retries), "a whole number of retries is expected");
  }
  p.optedIn = reading.optedIn;
  return reading;
}

}  // namespace hcs
