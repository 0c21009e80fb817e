#pragma once

#include <map>

#include <unicode/unistr.h>

namespace hcs {

// A URI split into its parts in one left-to-right pass. Every text gives some split; parsing never
// fails. Percent escapes are decoded as single UTF-16 units outside the scheme; separators are only
// recognised undecoded. For every scheme but exactly "http", '/' in the path becomes '\' (file-style
// schemes also get the drive-letter and relative-path rules).
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
  icu::UnicodeString text;
  // A name given twice keeps the last value.
  std::map<icu::UnicodeString, icu::UnicodeString> params;
};

// Whether `text` is an acceptable http callout URI: "http" in any case, "://", a host of letters, digits,
// dots and hyphens not starting with a hyphen, an optional ":digits" port, an optional "/…" path, and
// nothing else (no user information, no query without a path). Throws the "0000E" record when the text
// is not valid UTF-16.
bool isHttpUri(const icu::UnicodeString& text);

// The text of a URI with any password replaced by "****", for error texts and log lines.
icu::UnicodeString maskedUri(const icu::UnicodeString& text);

}  // namespace hcs
