#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/unistr.h>

namespace hcs {

// A URI split into its parts in one left-to-right pass. Every text gives some split; parsing never
// fails. Percent escapes are decoded as single UTF-16 units outside the scheme; separators are only
// recognised undecoded. For every scheme but "http" (in any letter case), '/' in the path becomes '\'
// (file-style schemes also get the drive-letter and relative-path rules).
//
// An immutable value once built: safe to read from many threads.
class CUri {
 public:
  explicit CUri(const icu::UnicodeString& text);

  // Exact, case-sensitive lookup of a query parameter; `value` is set when found (possibly empty).
  bool findParam(const icu::UnicodeString& name, icu::UnicodeString& value) const;

  icu::UnicodeString scheme;
  icu::UnicodeString user;
  icu::UnicodeString password;
  icu::UnicodeString host;
  icu::UnicodeString port;
  icu::UnicodeString path;
  // The path as an HTTP request target: `path` before the file-style rules, except that an escape whose
  // decoding would change what the path means ('/', '?', '#', '%', blanks, control characters) stays
  // as written.
  icu::UnicodeString target;
  icu::UnicodeString text;
  // A name given twice keeps the last value.
  std::map<icu::UnicodeString, icu::UnicodeString> params;
};

// Whether `text` is an acceptable http callout URI: "http" in any case, "://", a host of letters, digits,
// dots and hyphens not starting with a hyphen, an optional ":digits" port, an optional "/…" path, and
// nothing else (no user information, no query without a path). Throws the "0000E" record when the text
// is not valid UTF-16.
bool isHttpUri(const icu::UnicodeString& text);

// What initPlugin accepts as a callout URI: isHttpUri with "https" as well as "http", and a port (if
// any) from 0 to 65535.
bool isCalloutUri(const icu::UnicodeString& text);
// The first rule of the callout URI grammar `text` breaks, in a few words for the user ("user
// information is not allowed", "the port is above 65535"); "" when isCalloutUri accepts it.
std::string calloutUriProblem(const icu::UnicodeString& text);

// One "host[:port]" of a callout URI's authority; the port is the scheme's default when none is written.
struct UriInstance {
  std::string host;
  int32_t port;
};
// The instances a callout URI isCalloutUri accepts names, in their order: one, or several separated by
// ','. (CUri reads such an authority as one host with a strange port.)
std::vector<UriInstance> uriInstances(const icu::UnicodeString& text);

// Whether the URI's scheme is "http" (or "https"), in any letter case.
bool isHttpScheme(const CUri& uri);
bool isHttpsScheme(const CUri& uri);

// The port of an http or https URI: 80 or 443 when none is written; the number when it is written in ASCII
// digits (saturating at INT32_MAX, never wrapping); -1 for anything else. Usable ports are 0 to 65535.
int32_t httpPort(const CUri& uri);

// The text of a URI with any password replaced by "****", for error texts and log lines. The user
// information is everything between "//" and the last '@' of the text, so a password is hidden whatever
// it holds ('/', '@', ':', '%', '?', '#'); without a ':' in it, all of it counts as the password.
icu::UnicodeString maskedUri(const icu::UnicodeString& text);

// Whether CUri reads the user information of `text` otherwise than maskedUri does (everything between
// "//" and the last '@'): a '/', a second ':' or an '@' in it, or a "//" that CUri does not take as the
// start of the authority. CUri would then put pieces of the password into the host, port, path or user
// name, so such a URI must not be used; percent-encoded, those characters are read as data.
bool userInfoIsAmbiguous(const icu::UnicodeString& text);

// 8-bit text with every "%" and two hexadecimal digits replaced by that byte; any other "%" stays.
std::string percentDecoded(std::string_view text);

// `text` with every byte for which `escaped` holds written as "%" and two upper-case hexadecimal digits.
std::string percentEncoded(std::string_view text, bool (*escaped)(unsigned char));

}  // namespace hcs
