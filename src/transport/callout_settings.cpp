#include "transport/callout_settings.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <vector>

#include <unicode/uchar.h>

#include "error/qrm_exception.h"
#include "transport/tls_files.h"
#include "util/numbers.h"
#include "util/ucstring.h"

namespace hcs {

namespace {

[[noreturn]] void refuse(const std::string& text) {
  throw QRM_Exception("", UCString(text), 0, kSeverityCritical);
}

[[noreturn]] void badValue(std::string_view name, const std::string& value, std::string_view expected) {
  refuse("Bad HTTP Callout URI parameter [" + std::string(name) + "=" + value +
         "]: " + std::string(expected));
}

// A plain decimal from `low` to `high`; anything else is refused, naming the parameter.
uint32_t number(std::string_view name, const std::string& value, uint32_t low, uint32_t high,
                std::string_view what) {
  const StrictNumber n = readStrict(value, {.low = low, .high = high, .maxDigits = 10});
  if (!n) {
    badValue(name, value,
             "a whole number " + std::string(what) + " from " + std::to_string(low) + " to " +
                 std::to_string(high) + " is expected");
  }
  return static_cast<uint32_t>(n.value);
}

uint32_t milliseconds(std::string_view name, const std::string& value, uint32_t low) {
  return number(name, value, low, CalloutSettings::kMaxMilliseconds, "of milliseconds");
}

std::string failureClassList(uint32_t bits, std::string_view separator) {
  std::string list;
  for (auto r = static_cast<unsigned>(AttemptResult::kConnect);
       r < static_cast<unsigned>(AttemptResult::kCount); ++r) {
    const auto result = static_cast<AttemptResult>(r);
    if ((bits & failureBit(result)) == 0) continue;
    if (!list.empty()) list += separator;
    list += attemptResultName(result);
  }
  return list;
}

uint32_t retryClasses(const std::string& value) {
  uint32_t bits = 0;
  size_t start = 0;
  while (start <= value.size()) {
    const size_t comma = std::min(value.find(',', start), value.size());
    const std::string_view item = std::string_view(value).substr(start, comma - start);
    const auto known = failureClassNamed(item);
    if (!known) {
      // Appended rather than "\"" + std::string(item): g++ 12 at -O3 warns falsely (-Wrestrict) on that.
      std::string why = "\"";
      why.append(item).append("\" is none of ").append(failureClassList(kAllFailures, ", "));
      badValue("retryOn", value, why);
    }
    bits |= failureBit(*known);
    start = comma + 1;
  }
  return bits;
}

bool isTokenChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

char lowered(char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); }

std::string headerName(const std::string& value) {
  std::string lower = value;
  for (char& c : lower) c = lowered(c);
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

// The defined reading of "retries": every character a decimal digit, or none at all.
bool isRetriesNumber(const icu::UnicodeString& value) {
  for (int32_t i = 0; i < value.length(); ++i) {
    if (!u_isdigit(value.charAt(i))) return false;
  }
  return true;
}

std::string orOff(uint32_t value, const char* off) { return value == 0 ? off : std::to_string(value); }

// A TLS setting's value when its check found nothing wrong.
const std::string& tlsValue(std::string_view name, const std::string& value, const std::string& problem) {
  if (!problem.empty()) badValue(name, value, problem);
  return value;
}

// Every parameter a callout URI may carry: its name, how its value is read into the settings, and how
// the setting in force is shown. Only `retries` is part of the defined behaviour, read by its own rule
// (no `read`); any other one opts in.
struct Setting {
  std::string_view name;
  enum Scope { kAny, kTls, kSeveral } scope;  // means something on any URI, an https one, one of instances
  void (*read)(CalloutSettings& s, std::string_view name, const std::string& value);
  std::string (*show)(const CalloutSettings& s);
};

// clang-format off
constexpr Setting kSettings[] = {
    {"connectTimeout", Setting::kAny,
     [](CalloutSettings& s, std::string_view n, const std::string& v) { s.connectTimeoutMs = milliseconds(n, v, 1); },
     [](const CalloutSettings& s) { return std::to_string(s.connectTimeoutMs); }},
    {"timeout", Setting::kAny,
     [](CalloutSettings& s, std::string_view n, const std::string& v) { s.replyTimeoutMs = milliseconds(n, v, 1); },
     [](const CalloutSettings& s) { return std::to_string(s.replyTimeoutMs); }},
    {"deadline", Setting::kAny,
     [](CalloutSettings& s, std::string_view n, const std::string& v) { s.deadlineMs = milliseconds(n, v, 1); },
     [](const CalloutSettings& s) { return orOff(s.deadlineMs, "none"); }},
    // Read by its own defined rule (readRetries), lenient unless the URI opts in.
    {"retries", Setting::kAny, nullptr,
     [](const CalloutSettings& s) { return std::to_string(s.retries); }},
    {"retryOn", Setting::kAny,
     [](CalloutSettings& s, std::string_view, const std::string& v) {
       s.retryOn = retryClasses(v);
       s.retryOnGiven = true;
     },
     [](const CalloutSettings& s) {
       if (s.retryOnGiven) return failureClassList(s.retryOn, ",");
       return std::string(s.tls ? "all but tls" : "all");
     }},
    {"backoff", Setting::kAny,
     [](CalloutSettings& s, std::string_view n, const std::string& v) { s.backoffMs = milliseconds(n, v, 0); },
     [](const CalloutSettings& s) { return std::to_string(s.backoffMs); }},
    {"breaker", Setting::kAny,
     [](CalloutSettings& s, std::string_view n, const std::string& v) {
       s.breakerCalls = number(n, v, 0, CalloutSettings::kMaxBreakerCalls, "of calls");
     },
     [](const CalloutSettings& s) { return orOff(s.breakerCalls, "off"); }},
    {"breakerWait", Setting::kAny,
     [](CalloutSettings& s, std::string_view n, const std::string& v) { s.breakerWaitMs = milliseconds(n, v, 1); },
     [](const CalloutSettings& s) { return std::to_string(s.breakerWaitMs); }},
    {"requestIdHeader", Setting::kAny,
     [](CalloutSettings& s, std::string_view, const std::string& v) { s.requestIdHeader = headerName(v); },
     [](const CalloutSettings& s) { return s.requestIdHeader.empty() ? std::string("off") : s.requestIdHeader; }},
    {"caFile", Setting::kTls,
     [](CalloutSettings& s, std::string_view n, const std::string& v) { s.caFile = tlsValue(n, v, caFileProblem(v)); },
     [](const CalloutSettings& s) { return s.caFile.empty() ? std::string("system") : s.caFile; }},
    {"certFile", Setting::kTls,
     [](CalloutSettings& s, std::string_view n, const std::string& v) {
       s.certFile = tlsValue(n, v, certificateFileProblem(v));
     },
     [](const CalloutSettings& s) { return s.certFile.empty() ? std::string("none") : s.certFile; }},
    // Checked with its certificate, once the whole query is read.
    {"keyFile", Setting::kTls,
     [](CalloutSettings& s, std::string_view, const std::string& v) { s.keyFile = v; },
     [](const CalloutSettings& s) { return s.keyFile.empty() ? std::string("none") : s.keyFile; }},
    {"pinnedPublicKey", Setting::kTls,
     [](CalloutSettings& s, std::string_view n, const std::string& v) {
       s.pinnedPublicKey = tlsValue(n, v, pinnedKeysProblem(v));
     },
     [](const CalloutSettings& s) { return s.pinnedPublicKey.empty() ? std::string("none") : s.pinnedPublicKey; }},
    {"tlsMin", Setting::kTls,
     [](CalloutSettings& s, std::string_view n, const std::string& v) {
       if (v != "1.2" && v != "1.3") badValue(n, v, "1.2 or 1.3 is expected");
       s.tls13 = v == "1.3";
     },
     [](const CalloutSettings& s) { return std::string(s.tls13 ? "1.3" : "1.2"); }},
    {"balance", Setting::kSeveral,
     [](CalloutSettings& s, std::string_view n, const std::string& v) {
       if (v != "failover" && v != "roundRobin") badValue(n, v, "failover or roundRobin is expected");
       s.roundRobin = v == "roundRobin";
     },
     [](const CalloutSettings& s) { return std::string(s.roundRobin ? "roundRobin" : "failover"); }},
    {"ejectAfter", Setting::kSeveral,
     [](CalloutSettings& s, std::string_view n, const std::string& v) {
       s.ejectAfter = number(n, v, 1, CalloutSettings::kMaxEjectAfter, "of attempts");
     },
     [](const CalloutSettings& s) { return std::to_string(s.ejectAfter); }},
    {"ejectFor", Setting::kSeveral,
     [](CalloutSettings& s, std::string_view n, const std::string& v) { s.ejectForMs = milliseconds(n, v, 1); },
     [](const CalloutSettings& s) { return std::to_string(s.ejectForMs); }},
};
// clang-format on

const Setting* settingNamed(std::string_view name) {
  const auto* it = std::find_if(std::begin(kSettings), std::end(kSettings),
                                [&](const Setting& s) { return s.name == name; });
  return it == std::end(kSettings) ? nullptr : it;
}

// Whether `setting` means something for the callout `s` describes.
bool applies(const Setting& setting, const CalloutSettings& s) {
  return setting.scope == Setting::kAny || (setting.scope == Setting::kTls && s.tls) ||
         (setting.scope == Setting::kSeveral && s.instances.size() > 1);
}

// "retries, connectTimeout, …": the defined parameter first, then the settings that opt in, those that
// mean something for this callout alone.
std::string knownNames(const CalloutSettings& s) {
  std::string known;
  for (const bool defined : {true, false}) {
    for (const Setting& setting : kSettings) {
      if ((setting.read == nullptr) == defined && applies(setting, s))
        known.append(known.empty() ? "" : ", ").append(setting.name);
    }
  }
  return known;
}

// The setting `name` is most likely a misspelling of: the same name in another letter case or one within
// two edits; "" when there is none. Such a parameter is never meant as anything else, so it is refused
// even on a URI that uses no setting.
std::string_view nearSetting(const std::string& name) {
  std::string_view nearest;
  size_t distance = 3;
  for (const Setting& setting : kSettings) {
    const std::string_view known = setting.name;
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

// A client certificate needs its key and the key its certificate; the key is checked against it.
void checkClientCertificate(const CalloutSettings& s) {
  if (s.certFile.empty() != s.keyFile.empty()) {
    const bool cert = !s.certFile.empty();
    badValue(cert ? "certFile" : "keyFile", cert ? s.certFile : s.keyFile,
             cert ? "keyFile must name its key" : "certFile must name its certificate");
  }
  if (!s.keyFile.empty()) tlsValue("keyFile", s.keyFile, keyFileProblem(s.keyFile, s.certFile));
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

int32_t readRetries(const CUri& uri, bool& capped) {
  icu::UnicodeString value;
  if (!uri.findParam(icu::UnicodeString(u"retries"), value) || !isRetriesNumber(value)) {
    return CalloutSettings::kDefaultRetries;
  }
  // Digits only by now, or none: "" reads as 0, the value of a refusal.
  const StrictNumber n =
      readStrict(value, {.high = CalloutSettings::kMaxRetries, .digits = DigitSet::kUnicodeUnits});
  capped = n.refusal == Refusal::kOutOfRange;
  return capped ? CalloutSettings::kMaxRetries : static_cast<int32_t>(n.value);
}

CalloutSettings CalloutSettings::defaults(uint32_t timeoutMs) {
  CalloutSettings settings;
  settings.connectTimeoutMs = timeoutMs;
  settings.replyTimeoutMs = timeoutMs;
  return settings;
}

std::string CalloutSettings::describe() const {
  std::string text;
  if (instances.size() > 1) {
    text = "instances=";
    for (const UriInstance& i : instances) {
      text.append(&i == &instances.front() ? "" : ",")
          .append(i.host)
          .append(":")
          .append(std::to_string(i.port));
    }
  }
  for (const Setting& s : kSettings) {
    if (applies(s, *this))
      text.append(text.empty() ? "" : " ").append(s.name).append("=").append(s.show(*this));
  }
  return text;
}

CalloutSettingsReading readCalloutSettings(const CUri& uri, uint32_t timeoutMs) {
  CalloutSettingsReading reading;
  CalloutSettings& s = reading.settings;
  s = CalloutSettings::defaults(timeoutMs);
  s.retries = readRetries(uri, s.retriesCapped);
  s.tls = isHttpsScheme(uri);
  s.instances = uriInstances(uri.text);
  std::string nearMiss;  // the first parameter close to a setting's name, as "name=value"
  std::string_view meant;
  for (const auto& [nameText, valueText] : uri.params) {
    const std::string name = toUtf8(nameText);
    const std::string value = toUtf8(valueText);
    const Setting* setting = settingNamed(name);
    if (setting != nullptr && !applies(*setting, s)) {
      badValue(name, value,
               setting->scope == Setting::kTls ? "only an https URI uses it"
                                               : "only a URI of several instances uses it");
    } else if (setting != nullptr && setting->read != nullptr) {
      setting->read(s, setting->name, value);
      s.optedIn = true;
    } else if (setting != nullptr) {
      if (!isRetriesNumber(valueText)) reading.ignored.push_back(name + "=" + value);
    } else if (const std::string_view near = nearSetting(name); !near.empty()) {
      if (nearMiss.empty()) {
        nearMiss = name + "=" + value;
        meant = near;
      }
    } else {
      reading.unknown.push_back(name + "=" + value);
    }
  }
  if (!nearMiss.empty()) {
    refuse("Unknown HTTP Callout URI parameter [" + nearMiss + "]; did you mean " + std::string(meant) + "?");
  }
  // Opting in turns on strict checking: nothing the URI says may pass unnoticed.
  if (s.optedIn && !reading.unknown.empty()) {
    refuse("Unknown HTTP Callout URI parameter [" + reading.unknown.front() + "]; the known ones are " +
           knownNames(s));
  }
  checkClientCertificate(s);
  // The defined reading passes over a "retries" that is not a number, and takes an empty one as 0.
  icu::UnicodeString retries;
  if (s.optedIn && uri.findParam(u"retries", retries) && (retries.isEmpty() || !isRetriesNumber(retries))) {
    badValue("retries", toUtf8(retries), "a whole number of retries is expected");
  }
  return reading;
}

CalloutUriReading readCalloutUri(const icu::UnicodeString& text, uint32_t timeoutMs) {
  CalloutUriReading reading;
  reading.why = calloutUriProblem(text);
  if (!reading.why.empty()) {
    reading.verdict = CalloutUriReading::Verdict::kMalformed;
    return reading;
  }
  reading.uri = CUri(text);
  try {
    CalloutSettingsReading settings = readCalloutSettings(reading.uri, timeoutMs);
    reading.settings = settings.settings;
    // Without opting in an unknown parameter is accepted, as it always was, but said once.
    for (const std::string& parameter : settings.unknown) {
      reading.warnings.push_back("parameter [" + parameter + "] is not known and is ignored");
    }
    for (const std::string& parameter : settings.ignored) {
      reading.warnings.push_back("parameter [" + parameter + "] is not a number and is ignored");
    }
    if (reading.settings.retriesCapped) {
      reading.warnings.push_back("retries is capped at " + std::to_string(CalloutSettings::kMaxRetries));
    }
  } catch (const QRM_Exception& e) {
    reading.verdict = CalloutUriReading::Verdict::kBadSettings;
    reading.why = e.what();
  }
  return reading;
}

}  // namespace hcs
