#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include <unicode/unistr.h>

namespace hcs {

// Which messages a log destination takes, by module and level.
//
// Grammar: one or more rules separated by ",", no blanks; a message is taken when any rule takes it.
//   rule    = modules "." levels
//   modules = ["!"] pattern   module names matched exactly, "*" standing for any run of characters
//                             ("*" matches every module, the empty one too; an empty pattern only the
//                             empty module); "!" takes every module the pattern does not match
//   levels  = ["!"] level     a level name (CRIT, ERR, WARN, NOTE, INFO, DBUG; any letter case) or "*"
//                             for all; "!" takes every level but that one
// The rule is split at its last ".", so module patterns may contain dots.
// Examples: "*.!DBUG" everything but tracing; "sql.*,*.ERR,*.CRIT" all of sql plus errors of the rest;
// "!sql.*,sql.!DBUG" everything but sql's tracing.
//
// An immutable value once parsed: safe to use from many threads.
class CLogFilter {
 public:
  // Throws the "0000E" QRM_Exception naming the offending rule when `text` does not follow the grammar.
  static CLogFilter parse(std::string_view text);

  bool takes(const icu::UnicodeString& module, uint32_t level) const;

 private:
  struct Rule {
    icu::UnicodeString modulePattern;
    bool notModule = false;
    // kAllLevels for "*".
    uint32_t level = 0;
    bool notLevel = false;
  };
  static constexpr uint32_t kAllLevels = 0xFFFFFFFFu;

  std::vector<Rule> rules_;
};

// The mask of a level name (any letter case), or 0 for a name that is no level.
uint32_t logLevelByName(std::string_view name);

// Whether `text` matches `pattern`, where "*" stands for any run of characters (none too).
bool matchesWildcard(const icu::UnicodeString& pattern, const icu::UnicodeString& text);

}  // namespace hcs
