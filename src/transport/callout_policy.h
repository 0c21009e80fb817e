#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hcs {

class CUri;

// The callouts initPlugin builds wait this long for a connection and for each reply, unless their
// settings say otherwise.
inline constexpr uint32_t kCalloutTimeoutMs = 10000;

// The failure classes `retryOn` names; one bit each.
enum RetryClass : uint32_t {
  kRetryConnect = 1,  // no connection could be made
  kRetryReset = 2,    // the connection broke before a whole answer came
  kRetryTimeout = 4,  // no whole reply within the reply wait
  kRetry5xx = 8,
  kRetry4xx = 16,
  kRetryOther = 32,  // a malformed reply, any other status, anything else
  kRetryAll = 63,
};

// How an HTTP callout behaves in production: its waits, retries, deadline, back-off, circuit breaker
// and request id. Read once from the callout URI's query when the interface is built, then read-only.
// With none of the settings below in the URI it is exactly the defined behaviour: two waits of the
// interface's timeout, `retries` + 1 attempts one right after the other, every failure retried.
struct CalloutPolicy {
  static constexpr uint32_t kMaxMilliseconds = 3600000;  // one hour, for every setting in ms
  static constexpr uint32_t kMaxBreakerCalls = 1000000;
  static constexpr uint32_t kDefaultBreakerWaitMs = 5000;

  uint32_t connectTimeoutMs = 0;  // connectTimeout: wait for a connection (0: libcurl's default)
  uint32_t replyTimeoutMs = 0;    // timeout: wait for each reply once the request was sent (0: none)
  uint32_t deadlineMs = 0;        // deadline: the whole call, all attempts together (0: none)
  uint32_t retryOn = kRetryAll;   // retryOn: the failure classes that are retried
  bool retryOnGiven = false;      // a failure retryOn leaves out then ends the call with its own text
  uint32_t backoffMs = 0;         // backoff: base of the exponential back-off with full jitter
  uint32_t breakerCalls = 0;      // breaker: consecutive failed calls that open the circuit (0: off)
  uint32_t breakerWaitMs = kDefaultBreakerWaitMs;  // breakerWait: open time before one probe call
  std::string requestIdHeader;                     // requestIdHeader: header name, "" for none
  // Any setting above given in the URI: a call then ends as its last attempt did, so a retry that
  // succeeds makes the call succeed. Without, a failed exchange fails the call whatever came next.
  bool optedIn = false;

  // The defined behaviour with both waits `timeoutMs`.
  static CalloutPolicy defaults(uint32_t timeoutMs);

  // "connectTimeout=10000 timeout=10000 deadline=none retries=3 retryOn=all backoff=0 breaker=off
  // breakerWait=5000 requestIdHeader=off": every setting as it is in force.
  std::string describe(int32_t retries) const;
};

// What a callout URI's query says about the policy.
struct CalloutPolicyReading {
  CalloutPolicy policy;
  // Whether the URI uses any of the settings above: then every parameter must be one we know.
  bool optedIn = false;
  // Parameters that are neither "retries" nor one of the settings, nor close to one (accepted when not
  // opted in).
  std::vector<std::string> unknown;
  // Parameters whose value is passed over: "retries=x" when x is not a number (3 is kept; refused when
  // opted in).
  std::vector<std::string> ignored;
};

// Reads the settings from the query of `uri` over the defaults of `timeoutMs`. Throws the "0000E"
// QRM_Exception whose text names the parameter and its value when a setting's value is bad, when a
// parameter is a setting's name in another letter case or within two edits of one (opted in or not),
// or when the URI opts in and also holds a parameter we do not know or a "retries" that is not a number.
CalloutPolicyReading readCalloutPolicy(const CUri& uri, uint32_t timeoutMs);

// The edits between two parameter names, ASCII letter case ignored: insertions, deletions,
// substitutions and swaps of two neighbours (the optimal string alignment distance), so "deadlien" is
// one edit from "deadline". A name within two edits of a setting's is taken for that setting misspelt.
size_t parameterNameDistance(std::string_view a, std::string_view b);

}  // namespace hcs
