#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include <sys/types.h>

#include "support/http_test_server.h"

namespace hcs {
class CalloutMetrics;
}

namespace hcs::test {

// The calls a host makes, as the tests make them: the initPlugin document, callouts filed straight into
// the process-wide registry, score calls as text, and children that score on their own.

// An initPlugin document naming these five values.
std::string initDoc(const std::string& configFile, const std::string& type, const std::string& id,
                    const std::string& db = "");

// The reply a healthy test service gives.
inline constexpr char kReply[] = "<SCORE_RESULT><SCORE>0.93</SCORE></SCORE_RESULT>";

// Entries never leave the process-wide registry, so every test files its interface under a fresh key;
// the key as text. With settings, the URI's production settings are read as initPlugin reads them and
// the interface counts into `metrics` (may be null) under `typeName`.
std::string registerInterface(const std::string& uri, uint32_t timeoutMs = 10000);
std::string registerWithSettings(const std::string& uri, const std::string& typeName,
                                 CalloutMetrics* metrics);

// A record of attribute type `type` holding `value`.
std::string attribute(const std::string& type, const std::string& value,
                      const std::string& root = "ATTRIBUTE");

// One call as "status|answer". An `inboundLength` below 1 hands the inbound record over as a host may: 0 with
// a null pointer, or negative.
std::string callScore(const std::string& request, const std::string& inbound, const std::string& matched,
                      uint32_t maxResultSize = 4096, int32_t inboundLength = 1);

// A service that answers each request with the document it was sent, so every reply tells whose request
// it answers.
HttpTestAnswer echo(const HttpTestRequest& request);

// Scores `calls` pairs whose values start with `tag` against an echoing service; how many replies were not
// the call's own (at most 255, an exit status).
int scoreOwnValues(const std::string& key, const std::string& tag, int calls);

// Waits for `child` to end, at most `bound`; its exit status, or -1 when it had not ended (then killed).
int exitStatus(pid_t child, std::chrono::milliseconds bound);

}  // namespace hcs::test
