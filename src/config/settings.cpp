#include "config/settings.h"

#include <mutex>

namespace hcs {

CSettings theSettings;

CSettings::CSettings() = default;
CSettings::~CSettings() = default;

bool CSettings::getSetting(const icu::UnicodeString& name, icu::UnicodeString& value) const {
  value.remove();  // also turns a bogus string into a valid empty one
  std::shared_lock<std::shared_mutex> reading(lock_);
  const auto found = settings_.find(name);
  if (found == settings_.end()) return false;
  value = found->second;
  return true;
}

bool CSettings::getModuleName(icu::UnicodeString& value) const { return getSetting(u"CME_MODULE", value); }

bool CSettings::getConfigFileName(icu::UnicodeString& value) const {
  if (getSetting(u"ConfigFile", value)) return true;
  const bool haveModule = getModuleName(value);
  value.append(u".ini", 4);
  return haveModule;
}

void CSettings::getAppName(icu::UnicodeString& value) const {
  if (!getSetting(u"APP_NAME", value)) value.setTo(u"UNKNOWN_APP", -1);
}

void CSettings::setSetting(const icu::UnicodeString& name, const icu::UnicodeString& value) {
  std::unique_lock<std::shared_mutex> writing(lock_);
  settings_[name] = value;
}

}  // namespace hcs
