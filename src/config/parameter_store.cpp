#include "config/parameter_store.h"

#include <cstring>

#include <unicode/uchar.h>

#include "config/settings.h"
#include "error/qrm_exception.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

bool flagSet(const char* text) {
  return text != nullptr && (std::strcmp(text, "Y") == 0 || std::strcmp(text, "y") == 0);
}

}  // namespace

ParameterDataType parameterDataTypeFromText(const icu::UnicodeString& text) {
  if (text.caseCompare(u"STRING", U_FOLD_CASE_DEFAULT) == 0) return ParameterDataType::STRING;
  if (text.caseCompare(u"INTEGER", U_FOLD_CASE_DEFAULT) == 0) return ParameterDataType::INTEGER;
  if (text.caseCompare(u"BOOLEAN", U_FOLD_CASE_DEFAULT) == 0) return ParameterDataType::BOOLEAN;
  return ParameterDataType::STRING;
}

const char* parameterDataTypeName(int32_t type) {
  switch (type) {
    case static_cast<int32_t>(ParameterDataType::STRING):
      return "STRING";
    case static_cast<int32_t>(ParameterDataType::INTEGER):
      return "INTEGER";
    case static_cast<int32_t>(ParameterDataType::BOOLEAN):
      return "BOOLEAN";
    default:
      return "UNKNOWN TYPE";
  }
}

bool CaseFoldLess::operator()(const icu::UnicodeString& a, const icu::UnicodeString& b) const {
  return a.caseCompare(b, U_FOLD_CASE_DEFAULT) < 0;
}

CCMEParameterRecord::CCMEParameterRecord(const icu::UnicodeString& group, const icu::UnicodeString& name)
    : group(group), name(name) {}

CCMEParameterRecord::CCMEParameterRecord(const CCMEParameterDef& def)
    : group(UCString(def.group)),
      name(UCString(def.name)),
      description(UCString(def.description)),
      programmedType(parameterDataTypeFromText(UCString(def.dataType))),
      storeType(programmedType),
      defaultValue(UCString(def.defaultValue)),
      required(flagSet(def.required)),
      programmed(true),
      hidden(flagSet(def.hidden)) {}

CCMEParameterStore::CCMEParameterStore(bool caseSensitive) : caseSensitive_(caseSensitive) {}

CCMEParameterStore::~CCMEParameterStore() = default;

icu::UnicodeString CCMEParameterStore::makeKey(const icu::UnicodeString& group,
                                               const icu::UnicodeString& name, bool caseSensitive) {
  icu::UnicodeString key(group);
  key.append(u':').append(name);
  if (!caseSensitive) key.toUpper();
  return key;
}

const icu::UnicodeString& CCMEParameterStore::getParameter(const icu::UnicodeString& group,
                                                           const icu::UnicodeString& name) const {
  const icu::UnicodeString k = key(group == u"*" ? section_ : group, name);
  if (const CCMEParameterRecord* record = findRecord(k)) return record->value();
  throw QRM_Exception("", QRM_Message(u"9107E", u"Cannot get parameter [{0}] from parameter store", k), 0,
                      kSeverityCritical);
}

CCMEParameterRecord* CCMEParameterStore::setValue(const icu::UnicodeString& group,
                                                  const icu::UnicodeString& name,
                                                  const icu::UnicodeString& value, bool create) {
  icu::UnicodeString k = key(group, name);
  auto it = records_.find(k);
  if (it == records_.end()) {
    if (!create) return nullptr;
    it = records_.emplace(std::move(k), CCMEParameterRecord(group, name)).first;
  }
  it->second.currentValue = value;
  it->second.hasValue = true;
  return &it->second;
}

CCMEParameterRecord* CCMEParameterStore::findRecord(const icu::UnicodeString& key) {
  auto it = records_.find(key);
  return it == records_.end() ? nullptr : &it->second;
}

const CCMEParameterRecord* CCMEParameterStore::findRecord(const icu::UnicodeString& key) const {
  auto it = records_.find(key);
  return it == records_.end() ? nullptr : &it->second;
}

bool CCMEParameterStore::hasGroup(const icu::UnicodeString& group) const {
  for (const auto& [k, record] : records_) {
    if (record.group == group) return true;
  }
  return false;
}

void CCMEParameterStore::setup(const icu::UnicodeString& appName, const CCMEParameterDef* table,
                               uint16_t rowCount) {
  if (!appName.isEmpty()) {
    // The source is read only to learn whether it knows the application's own section.
    load();
    if (hasGroup(appName)) {
      section_ = appName;
    } else {
      theSettings.getAppName(section_);
    }
  } else {
    theSettings.getAppName(section_);
  }
  records_.clear();
  if (table == nullptr) return;
  for (uint16_t i = 0; i < rowCount; ++i) {
    CCMEParameterRecord record(table[i]);
    if (record.group == u"*") record.group = section_;
    // A later row with the same key replaces the earlier one.
    records_.insert_or_assign(key(record.group, record.name), std::move(record));
  }
}

void CCMEParameterStore::copyFrom(const CCMEParameterStore& other) {
  section_ = other.section_;
  for (const auto& [k, record] : other.records_) setValue(record.group, record.name, record.value(), true);
}

}  // namespace hcs
