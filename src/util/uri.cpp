#include "util/uri.h"

#include <string>

#include <unicode/uchar.h>

#include "util/numbers.h"
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

namespace {

// The split of one URI, one character at a time, into the parts of `out`.
class UriSplitter {
 public:
  UriSplitter(CUri& out, const icu::UnicodeString& uri) : out_(out), uri_(uri) {}

  // `c` at `start` (an escape decoded to `c` when `decoded`, its last digit at `i`).
  void take(UChar c, bool decoded, int32_t start, int32_t i) {
    switch (state_) {
      case State::Scheme:
        if (c == u'/') {
          state_ = State::Slash;
        } else if (c != u':') {
          out_.scheme.append(c);
        }
        break;
      case State::Slash:
        if (c == u'/' && !decoded) {
          state_ = State::Authority;
        } else {
          appendPath(c, decoded, start);
          state_ = State::Path;
        }
        break;
      case State::Authority:
        takeAuthority(c, decoded, i);
        break;
      case State::Port:
        if (c == u'/' && !decoded) {
          state_ = State::Path;
        } else {
          out_.port.append(c);
        }
        break;
      case State::Path:
        if (c == u'?' && !decoded) {
          state_ = State::Name;
        } else {
          appendPath(c, decoded, start);
        }
        break;
      case State::Name:
        if (c == u'=' && !decoded) {
          state_ = State::Value;
        } else {
          name_.append(c);
        }
        break;
      case State::Value:
        if ((c == u'&' || c == u';') && !decoded) {
          out_.params[name_] = value_;
          name_.remove();
          value_.remove();
          state_ = State::Name;
        } else {
          value_.append(c);
        }
        break;
    }
  }

  // The last parameter, when it has a name.
  void finish() {
    if (!name_.isEmpty()) out_.params[name_] = value_;
  }

  bool inScheme() const { return state_ == State::Scheme; }

 private:
  void takeAuthority(UChar c, bool decoded, int32_t i) {
    if (decoded) {
      out_.host.append(c);
    } else if (c == u'/') {
      state_ = State::Path;
    } else if (c == u':') {
      // A ':' before an '@' (in this authority) separates user and password; otherwise the port.
      int32_t end = uri_.indexOf(u'/', i + 1);
      if (end < 0) end = uri_.length();
      if (uri_.indexOf(u'@', i + 1, end - (i + 1)) >= 0) {
        out_.user = out_.host;
        out_.host.remove();
      } else {
        state_ = State::Port;
      }
    } else if (c == u'@') {
      out_.password = out_.host;
      out_.host.remove();
    } else {
      out_.host.append(c);
    }
  }

  // Appends to both forms of the path; the escape starts at `from` when `decoded`.
  void appendPath(UChar c, bool decoded, int32_t from) {
    out_.path.append(c);
    if (decoded && keepsEscape(c)) {
      out_.target.append(uri_, from, 3);
    } else {
      out_.target.append(c);
    }
  }

  CUri& out_;
  const icu::UnicodeString& uri_;
  State state_ = State::Scheme;
  icu::UnicodeString name_;
  icu::UnicodeString value_;
};

// Where a "file" URI's host is a drive letter or a relative "." or "..", it belongs to the path.
void applyFileRules(CUri& out, const icu::UnicodeString& uri) {
  if (out.scheme == u"file") {
    if ((out.host == u"." || out.host == u"..") && !out.path.isEmpty()) {
      out.path.insert(0, out.host);
      out.host.remove();
    } else if (out.host.length() == 1 && out.host != u"." && uri.indexOf(u':') >= 0 && !out.path.isEmpty()) {
      out.path.insert(0, icu::UnicodeString(out.host).append(u':'));
      out.host.remove();
    }
    if (out.path.indexOf(u':') >= 0 || startsWith(uri, u"file:/.")) stripLeadingSlashes(out.path);
  }
  if (out.scheme == u"msmq") stripLeadingSlashes(out.path);
  // Scheme names are case-insensitive: "HTTP" is http too.
  if (!isHttpScheme(out)) out.path.findAndReplace(u"/", u"\\");
}

}  // namespace

CUri::CUri(const icu::UnicodeString& uri) : path(u"/"), target(u"/"), text(uri) {
  UriSplitter split(*this, uri);
  const int32_t length = uri.length();
  for (int32_t i = 0; i < length; ++i) {
    const int32_t start = i;
    UChar c = uri.charAt(i);
    bool decoded = false;
    if (!split.inScheme() && c == u'%' && i + 2 < length && u_isxdigit(uri.charAt(i + 1)) &&
        u_isxdigit(uri.charAt(i + 2))) {
      const int32_t v = u_digit(uri.charAt(i + 1), 16) * 16 + u_digit(uri.charAt(i + 2), 16);
      if (v > 0) {
        c = static_cast<UChar>(v);
        i += 2;
        decoded = true;
      }
    }
    split.take(c, decoded, start, i);
  }
  split.finish();
  applyFileRules(*this, uri);
}

bool CUri::findParam(const icu::UnicodeString& name, icu::UnicodeString& value) const {
  const auto it = params.find(name);
  if (it == params.end()) return false;
  value = it->second;
  return true;
}

namespace {

bool isAsciiAlnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
std::string quoted(char c) { return std::string("\"") + c + "\""; }

// Walks ^[Hh][Tt][Tt][Pp]://([A-Za-z0-9.][A-Za-z0-9-.]*)(:[0-9][0-9]*)?(/.*)?$ and names the first rule
// the text breaks ("" when none), with the callout's own rules on top when `callout`: https as well, and
// a port from 0 to 65535. Hand-rolled: it runs on every initPlugin, and the rules' names are for users.
// One "host[:port]" of the authority from `i`, which it moves past it; the rule it breaks or "".
std::string instanceProblem(const std::string& s, size_t& i, bool callout, bool listed) {
  if (i >= s.size() || s[i] == '/' || s[i] == ':' || s[i] == ',')
    return listed ? "an empty instance in the list" : "no host";
  if (s[i] == '-') return "the host starts with a hyphen";
  if (s[i] == '[') return "IPv6 literal hosts are not accepted";
  if (!isAsciiAlnum(s[i]) && s[i] != '.') return "the host holds " + quoted(s[i]);
  while (i < s.size() && (isAsciiAlnum(s[i]) || s[i] == '.' || s[i] == '-')) ++i;
  if (i < s.size() && s[i] == ':') {
    ++i;
    if (i >= s.size() || !isAsciiDigit(s[i])) return "the port is not a number";
    const size_t digits = i;
    while (i < s.size() && isAsciiDigit(s[i])) ++i;
    // A port past 65535 would otherwise wrap to some other port, or fail every call.
    if (callout && !readStrict(std::string_view(s).substr(digits, i - digits), {.high = 65535})) {
      return "the port is above 65535";
    }
  }
  return "";
}

// Walks ^[Hh][Tt][Tt][Pp]://([A-Za-z0-9.][A-Za-z0-9-.]*)(:[0-9][0-9]*)?(/.*)?$ and names the first rule
// the text breaks ("" when none), with the callout's own rules on top when `callout`: https as well, a
// port from 0 to 65535, and several instances, "host[:port]" separated by ','. Hand-rolled: it runs on
// every initPlugin, and the rules' names are for users.
std::string grammarProblem(const std::string& s, bool callout) {
  if (!s.empty() && (s.front() == ' ' || s.back() == ' ' || s.front() == '\t' || s.back() == '\t')) {
    return "blanks before or after the URI";
  }
  const size_t schemeEnd = s.find("://");
  if (schemeEnd == std::string::npos) return "not of the form http://host[:port][/path]";
  std::string scheme = s.substr(0, schemeEnd);
  for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (scheme == "https" && !callout) return "https is not the defined check's http";
  if (scheme != "http" && scheme != "https") {
    return "the scheme is \"" + s.substr(0, schemeEnd) + "\", not http or https";
  }
  size_t i = schemeEnd + 3;
  if (s.find('@', i) < s.find('/', i)) return "user information is not allowed";
  for (bool listed = false;; listed = true) {
    if (std::string why = instanceProblem(s, i, callout, listed); !why.empty()) return why;
    if (!callout || i >= s.size() || s[i] != ',') break;
    ++i;
  }
  if (i < s.size() && s[i] == '?') return "a query needs a path before it (/?…)";
  if (i < s.size() && s[i] != '/') return "the host or port holds " + quoted(s[i]);
  // "(/.*)$": '.' does not match a line break, so none may follow the '/'.
  if (s.find_first_of("\r\n", i) != std::string::npos) return "a line break in the path";
  return "";
}

}  // namespace

bool isHttpUri(const icu::UnicodeString& text) { return grammarProblem(toUtf8(text), false).empty(); }

std::string calloutUriProblem(const icu::UnicodeString& text) { return grammarProblem(toUtf8(text), true); }

bool isCalloutUri(const icu::UnicodeString& text) { return calloutUriProblem(text).empty(); }

bool isHttpScheme(const CUri& uri) { return uri.scheme.caseCompare(u"http", U_FOLD_CASE_DEFAULT) == 0; }

std::vector<UriInstance> uriInstances(const icu::UnicodeString& text) {
  std::vector<UriInstance> instances;
  const std::string s = toUtf8(text);
  const size_t start = s.find("://");
  if (start == std::string::npos) return instances;
  const size_t end = std::min(s.find_first_of("/?#", start + 3), s.size());
  const bool https = isHttpsScheme(CUri(text));
  for (size_t i = start + 3; i <= end;) {
    const size_t comma = std::min(s.find(',', i), end);
    const std::string item = s.substr(i, comma - i);
    const size_t colon = item.find(':');
    UriInstance instance{item.substr(0, colon), https ? 443 : 80};
    if (colon != std::string::npos) {
      // The grammar let only digits up to 65535 through.
      instance.port =
          static_cast<int32_t>(readStrict(std::string_view(item).substr(colon + 1), {.high = 65535}).value);
    }
    instances.push_back(std::move(instance));
    i = comma + 1;
  }
  return instances;
}

bool isHttpsScheme(const CUri& uri) { return uri.scheme.caseCompare(u"https", U_FOLD_CASE_DEFAULT) == 0; }

int32_t httpPort(const CUri& uri) {
  if (uri.port.isEmpty()) return isHttpsScheme(uri) ? 443 : 80;
  const StrictNumber port = readStrict(uri.port, {.high = INT32_MAX});
  if (port.refusal == Refusal::kMalformed) return -1;
  return port ? static_cast<int32_t>(port.value) : INT32_MAX;
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

std::string percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const StrictNumber byte = text[i] == '%' && i + 2 < text.size()
                                  ? readStrict(text.substr(i + 1, 2), {.high = 255, .radix = 16})
                                  : StrictNumber{};
    if (byte) {
      out += static_cast<char>(byte.value);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string percentEncoded(std::string_view text, bool (*escaped)(unsigned char)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (escaped(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace hcs
