#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/unistr.h>

#include "metrics/attempt_result.h"
#include "util/uri.h"

namespace hcs {

// The callouts initPlugin builds wait this long for a connection and for each reply, unless their
// settings say otherwise.
inline constexpr uint32_t kCalloutTimeoutMs = 10000;

// How a callout behaves: its waits, retries, deadline, back-off, circuit breaker and request id, all
// read from the query of its URI by one table of settings. Read once when the callout is built, then
// read-only. With no setting but `retries` in the URI it is exactly the defined behaviour: two waits of
// the interface's timeout, `retries` + 1 attempts one right after the other, every failure retried, and
// a failed exchange fails the call whatever came next.
struct CalloutSettings {
  static constexpr uint32_t kMaxMilliseconds = 3600000;  // one hour, for every setting in ms
  static constexpr uint32_t kMaxBreakerCalls = 1000000;
  static constexpr uint32_t kDefaultBreakerWaitMs = 5000;
  static constexpr int32_t kDefaultRetries = 3;
  // A larger "retries" value counts as this many, so attempts never overflow.
  static constexpr int32_t kMaxRetries = 100;
  static constexpr uint32_t kDefaultEjectAfter = 3;
  static constexpr uint32_t kMaxEjectAfter = 1000;
  static constexpr uint32_t kDefaultEjectForMs = 5000;

  uint32_t connectTimeoutMs = 0;      // connectTimeout: wait for a connection (0: libcurl's default)
  uint32_t replyTimeoutMs = 0;        // timeout: wait for each reply once the request was sent (0: none)
  uint32_t deadlineMs = 0;            // deadline: the whole call, all attempts together (0: none)
  int32_t retries = kDefaultRetries;  // retries: attempts after a failed one
  bool retriesCapped = false;         // the URI asked for more than kMaxRetries
  // retryOn: the failure classes that are retried (failureBit). Unless given, every class but tls: a
  // retry cannot mend a certificate.
  uint32_t retryOn = kAllFailures & ~failureBit(AttemptResult::kTls);
  bool retryOnGiven = false;
  uint32_t backoffMs = 0;     // backoff: base of the exponential back-off with full jitter
  uint32_t breakerCalls = 0;  // breaker: consecutive failed calls that open the circuit (0: off)
  uint32_t breakerWaitMs = kDefaultBreakerWaitMs;  // breakerWait: open time before one probe call
  std::string requestIdHeader;                     // requestIdHeader: header name, "" for none
  // An https URI: TLS with the certificate chain and the host name always verified, and these settings
  // (refused on an http URI, where they would mean nothing).
  bool tls = false;
  std::string caFile;    // caFile: PEM CA certificates to trust instead of the system's ("": those)
  std::string certFile;  // certFile, keyFile: the client certificate and its key, both or neither
  std::string keyFile;
  std::string pinnedPublicKey;  // pinnedPublicKey: "sha256//<base64>[;…]", "" for none
  bool tls13 = false;           // tlsMin=1.3; otherwise TLS 1.2 at least
  // The instances of the service, in the URI's order: one, or several listed "a:8080,b:8080". These
  // settings are for several (and refused with one):
  std::vector<UriInstance> instances;
  bool roundRobin = false;  // balance=roundRobin: each call starts at the next instance; else failover
  uint32_t ejectAfter = kDefaultEjectAfter;  // ejectAfter: failed attempts in a row that eject one
  uint32_t ejectForMs = kDefaultEjectForMs;  // ejectFor: how long at first (doubling while it fails)
  // Any setting but `retries` given in the URI: a call then ends as its last attempt did, so a retry
  // that succeeds makes the call succeed, and every parameter must be one we know.
  bool optedIn = false;

  // The defined behaviour with both waits `timeoutMs`.
  static CalloutSettings defaults(uint32_t timeoutMs);

  // "connectTimeout=10000 timeout=10000 deadline=none retries=3 retryOn=all backoff=0 breaker=off
  // breakerWait=5000 requestIdHeader=off": every setting as it is in force (the TLS ones for https,
  // the instances and their balancing when there are several).
  std::string describe() const;
};

// What a callout URI's query says about the settings.
struct CalloutSettingsReading {
  CalloutSettings settings;
  // Parameters that are no setting nor close to one's name (accepted when not opted in), "name=value".
  std::vector<std::string> unknown;
  // Parameters whose value is passed over: "retries=x" when x is not a number (3 is kept).
  std::vector<std::string> ignored;
};

// Reads the settings from the query of `uri` over the defaults of `timeoutMs`. Throws the "0000E"
// QRM_Exception whose text names the parameter and its value when a setting's value is bad, when a
// parameter is a setting's name in another letter case or within two edits of one (opted in or not),
// or when the URI opts in and also holds a parameter we do not know or a "retries" that is not a number.
CalloutSettingsReading readCalloutSettings(const CUri& uri, uint32_t timeoutMs);

// The defined reading of a URI's "retries": the number when every character of its value is a decimal
// digit (empty gives 0), capped at kMaxRetries (setting `capped`); kDefaultRetries otherwise or when
// absent.
int32_t readRetries(const CUri& uri, bool& capped);

// The edits between two parameter names, ASCII letter case ignored: insertions, deletions,
// substitutions and swaps of two neighbours (the optimal string alignment distance), so "deadlien" is
// one edit from "deadline". A name within two edits of a setting's is taken for that setting misspelt.
size_t parameterNameDistance(std::string_view a, std::string_view b);

// What initPlugin makes of an ATTR_URI value, and what `hcs check-config` shows of it.
struct CalloutUriReading {
  enum class Verdict {
    kAccepted,
    kMalformed,    // the text breaks the callout URI grammar; `why` names the rule
    kBadSettings,  // a parameter is refused; `why` is the refusal's text
  };
  Verdict verdict = Verdict::kAccepted;
  std::string why;
  CUri uri{icu::UnicodeString()};
  CalloutSettings settings;
  // What initPlugin logs about an accepted URI, each after "HTTP Callout URI [<uri>]: ".
  std::vector<std::string> warnings;
};

// The one reading of a callout URI: the grammar (calloutUriProblem), then the settings of its query.
// Never throws for what the text holds (the "0000E" record of a text that is not valid UTF-16 aside).
CalloutUriReading readCalloutUri(const icu::UnicodeString& text, uint32_t timeoutMs = kCalloutTimeoutMs);

}  // namespace hcs
