#include "log/log_filter.h"

#include <string>

#include "error/qrm_exception.h"
#include "log/log_message.h"
#include "util/ucstring.h"

namespace hcs {

namespace {

[[noreturn]] void malformed(std::string_view kind, std::string_view text, std::string_view what) {
  std::string message(kind);
  message.append(" \"").append(text).append("\" ").append(what);
  throw QRM_Exception("", UCString(message), 1, kSeverityMajor);
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

uint32_t logLevelByName(std::string_view name) {
  for (uint32_t mask : {kLogCritical, kLogError, kLogWarning, kLogNote, kLogInfo, kLogDebug}) {
    if (equalsIgnoreCase(name, logLevelName(mask))) return mask;
  }
  return 0;
}

bool matchesWildcard(const icu::UnicodeString& pattern, const icu::UnicodeString& text) {
  // Greedy matching with one backtrack point: the last '*' seen is the only one that can need to
  // swallow more, so this is linear in practice and never recursive.
  int32_t p = 0, t = 0, star = -1, resume = 0;
  const int32_t pn = pattern.length(), tn = text.length();
  while (t < tn) {
    if (p < pn && pattern[p] == u'*') {
      star = p++;
      resume = t;
    } else if (p < pn && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star >= 0) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pn && pattern[p] == u'*') ++p;
  return p == pn;
}

CLogFilter CLogFilter::parse(std::string_view text) {
  CLogFilter filter;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string_view rule =
        text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
    if (rule.empty()) malformed("filter", text, "has an empty rule (rules are separated by single commas)");
    const size_t dot = rule.rfind('.');
    if (dot == std::string_view::npos)
      malformed("filter rule", rule, "needs a \".\" between module and level, as in *.ERR");
    std::string_view modules = rule.substr(0, dot);
    std::string_view levels = rule.substr(dot + 1);
    for (char c : rule) {
      if (c == ' ' || c == '\t' || c == ';') malformed("filter rule", rule, "contains a blank or \";\"");
    }
    Rule r;
    if (!modules.empty() && modules.front() == '!') {
      r.notModule = true;
      modules.remove_prefix(1);
    }
    if (modules.find('!') != std::string_view::npos)
      malformed("filter rule", rule, "may have \"!\" only at the start of a part");
    r.modulePattern = UCString(modules);
    if (!levels.empty() && levels.front() == '!') {
      r.notLevel = true;
      levels.remove_prefix(1);
    }
    if (levels == "*") {
      r.level = kAllLevels;
    } else {
      r.level = logLevelByName(levels);
      if (r.level == 0)
        malformed("filter rule", rule, "names no level (CRIT, ERR, WARN, NOTE, INFO, DBUG or *)");
    }
    filter.rules_.push_back(std::move(r));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return filter;
}

bool CLogFilter::takes(const icu::UnicodeString& module, uint32_t level) const {
  for (const Rule& r : rules_) {
    const bool levelMatches = r.level == kAllLevels || r.level == level;
    if (levelMatches == r.notLevel) continue;
    if (matchesWildcard(r.modulePattern, module) != r.notModule) return true;
  }
  return false;
}

}  // namespace hcs
