#include "util/uri.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <string>

#include "util/ucstring.h"

namespace hcs {

namespace {

enum class State { Scheme, Slash, Authority, Port, Path, Name, Value };

bool startsWith(const icu::UnicodeString& text, const char16_t* prefix) {
  return text.startsWith(icu::UnicodeString(prefix));
}

// Decoding these would change what a request target means, so the target keeps them escaped.
bool keepsEscape(UChar c) {
  return c <= 0x20 || c == 0x7F || c == u'/' || c == u'?' || c == u'#' || c == u'%';
}

void stripLeadingSlashes(icu::UnicodeString& path) {
  int32_t n = 0;
  while (n < path.length() && path.charAt(n) == u'/') ++n;
  path.remove(0, n);
}

// The user information as maskedUri reads it: from after the first "//" up to the last '@' of the text.
// False when the text has none.
bool userInfoSpan(const icu::UnicodeString& text, int32_t& start, int32_t& at) {
  const int32_t authority = text.indexOf(u"//");
  if (authority < 0) return false;
  start = authority + 2;
  if (start >= text.length() || text.charAt(start) == u'/') return false;  // no authority: nothing secret
  at = text.lastIndexOf(u'@');
  return at >= start;
}

}  // namespace

CUri::CUri(const icu::UnicodeString& uri) : path(u"/"), target(u"/"), text(uri) {
  State state = State::Scheme;
  icu::UnicodeString name;
  icu::UnicodeString value;
  const int32_t length = uri.length();
  // Appends to both forms of the path; the escape starts at `from` when `decoded`.
  auto appendPath = [&](UChar c, bool decoded, int32_t from) {
    path.append(c);
    if (decoded && keepsEscape(c)) {
      target.append(uri, from, 3);
    } else {
      target.append(c);
    }
  };
  for (int32_t i = 0; i < length; ++i) {
    const int32_t start = i;
    UChar c = uri.charAt(i);
    bool decoded = false;
    if (state != State::Scheme && c == u'%' && i + 2 < length && u_isxdigit(uri.charAt(i + 1)) &&
        u_isxdigit(uri.charAt(i + 2))) {
      const int32_t v = u_digit(uri.charAt(i + 1), 16) * 16 + u_digit(uri.charAt(i + 2), 16);
      if (v > 0) {
        c = static_cast<UChar>(v);
        i += 2;
        decoded = true;
      }
    }
    switch (state) {
      case State::Scheme:
        if (c == u'/') {
          state = State::Slash;
        } else if (c != u':') {
          scheme.append(c);
        }
        break;
      case State::Slash:
        if (c == u'/' && !decoded) {
          state = State::Authority;
        } else {
          appendPath(c, decoded, start);
          state = State::Path;
        }
        break;
      case State::Authority:
        if (decoded) {
          host.append(c);
        } else if (c == u'/') {
          state = State::Path;
        } else if (c == u':') {
          // A ':' before an '@' (in this authority) separates user and password; otherwise the port.
          int32_t end = uri.indexOf(u'/', i + 1);
          if (end < 0) end = length;
          if (uri.indexOf(u'@', i + 1, end - (i + 1)) >= 0) {
            user = host;
            host.remove();
          } else {
            state = State::Port;
          }
        } else if (c == u'@') {
          password = host;
          host.remove();
        } else {
          host.append(c);
        }
        break;
      case State::Port:
        if (c == u'/' && !decoded) {
          state = State::Path;
        } else {
          port.append(c);
        }
        break;
      case State::Path:
        if (c == u'?' && !decoded) {
          state = State::Name;
        } else {
          appendPath(c, decoded, start);
        }
        break;
      case State::Name:
        if (c == u'=' && !decoded) {
          state = State::Value;
        } else {
          name.append(c);
        }
        break;
      case State::Value:
        if ((c == u'&' || c == u';') && !decoded) {
          params[name] = value;
          name.remove();
          value.remove();
          state = State::Name;
        } else {
          value.append(c);
        }
        break;
    }
  }
  if (!name.isEmpty()) params[name] = value;

  if (scheme == u"file") {
    if ((host == u"." || host == u"..") && !path.isEmpty()) {
      path.insert(0, host);
      host.remove();
    } else if (host.length() == 1 && host != u"." && uri.indexOf(u':') >= 0 && !path.isEmpty()) {
      path.insert(0, icu::UnicodeString(host).append(u':'));
      host.remove();
    }
    if (path.indexOf(u':') >= 0 || startsWith(uri, u"file:/.")) stripLeadingSlashes(path);
  }
  if (scheme == u"msmq") stripLeadingSlashes(path);
  // Scheme names are case-insensitive: "HTTP" is http too.
  if (!isHttpScheme(*this)) path.findAndReplace(u"/", u"\\");
}

bool CUri::findParam(const icu::UnicodeString& name, icu::UnicodeString& value) const {
  const auto it = params.find(name);
  if (it == params.end()) return false;
  value = it->second;
  return true;
}

bool isHttpUri(const icu::UnicodeString& text) {
  // ^[Hh][Tt][Tt][Pp]://([A-Za-z0-9.][A-Za-z0-9-.]*)(:[0-9][0-9]*)?(/.*)?$ — a hand-rolled matcher: it
  // runs on every initPlugin and the pattern is simple enough that a regex engine buys nothing.
  const std::string s = toUtf8(text);
  auto isAlnum = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  };
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (s.size() < 8) return false;
  static constexpr char kScheme[] = "http://";
  for (size_t k = 0; k < 7; ++k) {
    const char c = s[k];
    const char want = kScheme[k];
    if (c != want && !(k < 4 && c == want - 32)) return false;
  }
  size_t i = 7;
  if (!(isAlnum(s[i]) || s[i] == '.')) return false;
  ++i;
  while (i < s.size() && (isAlnum(s[i]) || s[i] == '.' || s[i] == '-')) ++i;
  if (i < s.size() && s[i] == ':') {
    ++i;
    if (i >= s.size() || !isDigit(s[i])) return false;
    while (i < s.size() && isDigit(s[i])) ++i;
  }
  if (i == s.size()) return true;
  if (s[i] != '/') return false;
  // "(/.*)$": '.' does not match a line break, so none may follow the '/'.
  return s.find_first_of("\n\r", i) == std::string::npos;
}

bool isCalloutUri(const icu::UnicodeString& text) {
  // A port past 65535 would otherwise wrap to some other port, or fail every call.
  return isHttpUri(text) && httpPort(CUri(text)) <= 65535;
}

bool isHttpScheme(const CUri& uri) { return uri.scheme.caseCompare(u"http", U_FOLD_CASE_DEFAULT) == 0; }

int32_t httpPort(const CUri& uri) {
  if (uri.port.isEmpty()) return 80;
  int64_t value = 0;
  for (int32_t i = 0; i < uri.port.length(); ++i) {
    const UChar c = uri.port.charAt(i);
    if (c < u'0' || c > u'9') return -1;
    value = std::min<int64_t>(value * 10 + (c - u'0'), INT32_MAX);
  }
  return static_cast<int32_t>(value);
}

icu::UnicodeString maskedUri(const icu::UnicodeString& text) {
  // Read from the text, not from a CUri: a password holding '/' or '@' splits differently there, and
  // must be hidden all the same.
  int32_t start = 0;
  int32_t at = 0;
  if (!userInfoSpan(text, start, at)) return text;
  // A user name holds neither ':' nor '@': without a ':' before the first '@' there is no user, and
  // all up to the last '@' may be the password (a ':' or '@' in the query must not shorten it).
  const int32_t colon = text.indexOf(u':', start, at - start);
  const int32_t firstAt = text.indexOf(u'@', start, at + 1 - start);
  const int32_t secret = colon >= 0 && colon < firstAt ? colon + 1 : start;
  if (secret == at) return text;  // an empty password
  icu::UnicodeString masked(text);
  masked.replace(secret, at - secret, u"****");
  return masked;
}

bool userInfoIsAmbiguous(const icu::UnicodeString& text) {
  int32_t start = 0;
  int32_t at = 0;
  if (!userInfoSpan(text, start, at)) return false;
  // CUri starts the authority only at the text's first '/', when a second one follows it.
  if (text.indexOf(u'/') != start - 2) return true;
  // Inside the authority CUri ends it at a '/', ends the password at every '@' and takes the text
  // before every ':' that an '@' follows as the user name. Escaped, each of them is data.
  const int32_t length = at - start;
  if (text.indexOf(u'/', start, length) >= 0 || text.indexOf(u'@', start, length) >= 0) return true;
  const int32_t colon = text.indexOf(u':', start, length);
  return colon >= 0 && text.indexOf(u':', colon + 1, at - colon - 1) >= 0;
}

}  // namespace hcs
