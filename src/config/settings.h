#pragma once

#include <map>
#include <shared_mutex>

#include <unicode/unistr.h>

namespace hcs {

// The process-wide registry of named text settings ("CME_MODULE", "ConfigFile", "APP_NAME"). Names
// are case-sensitive. Lookups may run from any thread at once (shared lock); setSetting takes the
// exclusive lock. Nothing in the library stores a setting, so every lookup gives its default unless a
// host or test calls setSetting. No member throws except on memory exhaustion.
class CSettings {
 public:
  CSettings();
  virtual ~CSettings();
  CSettings(const CSettings&) = delete;
  CSettings& operator=(const CSettings&) = delete;

  // Empties `value` (a valid, non-bogus string); fills it and returns true when `name` is stored.
  bool getSetting(const icu::UnicodeString& name, icu::UnicodeString& value) const;
  // "CME_MODULE", or empty and false.
  bool getModuleName(icu::UnicodeString& value) const;
  // "ConfigFile", or the module name followed by ".ini" (just ".ini" without one) and the result of
  // getModuleName.
  bool getConfigFileName(icu::UnicodeString& value) const;
  // "APP_NAME", or "UNKNOWN_APP".
  void getAppName(icu::UnicodeString& value) const;

  // Stores or replaces a setting.
  void setSetting(const icu::UnicodeString& name, const icu::UnicodeString& value);

 private:
  mutable std::shared_mutex lock_;
  std::map<icu::UnicodeString, icu::UnicodeString> settings_;  // UnicodeString < is code-unit order
};

// The one instance, alive from library load to unload. Not for use from other static initialisers.
extern CSettings theSettings;

}  // namespace hcs
