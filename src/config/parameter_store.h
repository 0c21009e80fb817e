#pragma once

#include <cstdint>
#include <map>

#include <unicode/unistr.h>

namespace hcs {

// The data type of a parameter, as a program declares it or a source stores it.
enum class ParameterDataType : int32_t {
  STRING = 0,
  INTEGER = 1,
  BOOLEAN = 2,
};

// "STRING", "INTEGER" or "BOOLEAN" compared without regard to case; any other text is STRING.
ParameterDataType parameterDataTypeFromText(const icu::UnicodeString& text);
// "STRING", "INTEGER", "BOOLEAN", or "UNKNOWN TYPE" for any other value.
const char* parameterDataTypeName(int32_t type);

// One row of a programmed definition table: seven NUL-terminated 8-bit texts (group, name, data type,
// description, default value, required flag, hidden flag). A null pointer reads as the empty text; a
// flag is set only by exactly "Y" or "y". A group of "*" stands for the application section.
struct CCMEParameterDef {
  const char* group;
  const char* name;
  const char* dataType;
  const char* description;
  const char* defaultValue;
  const char* required;
  const char* hidden;
};

// One parameter. Its value is `currentValue` once a source or setValue gave it one, else `defaultValue`.
struct CCMEParameterRecord {
  // Plain record: empty texts, both types STRING, every flag clear.
  CCMEParameterRecord(const icu::UnicodeString& group, const icu::UnicodeString& name);
  // Record from a definition row: `programmed` set, types from the row, `required`/`hidden` from its flags.
  explicit CCMEParameterRecord(const CCMEParameterDef& def);

  const icu::UnicodeString& value() const { return hasValue ? currentValue : defaultValue; }

  icu::UnicodeString group;
  icu::UnicodeString name;
  icu::UnicodeString description;
  ParameterDataType programmedType = ParameterDataType::STRING;
  ParameterDataType storeType = ParameterDataType::STRING;
  icu::UnicodeString defaultValue;
  icu::UnicodeString currentValue;
  bool hasValue = false;
  bool required = false;
  bool programmed = false;
  bool hidden = false;
};

// Orders keys by ICU default case folding, then code units, so keys differing only in case are one key.
struct CaseFoldLess {
  bool operator()(const icu::UnicodeString& a, const icu::UnicodeString& b) const;
};

// Configuration values filed under "GROUP:NAME" keys, filled from one backing source (the subclass's
// load). Every rule that does not depend on the source lives here.
//
// Not synchronised: a store belongs to one thread at a time. Not copyable (use copyFrom).
class CCMEParameterStore {
 public:
  using RecordMap = std::map<icu::UnicodeString, CCMEParameterRecord, CaseFoldLess>;

  explicit CCMEParameterStore(bool caseSensitive);
  CCMEParameterStore(const CCMEParameterStore&) = delete;
  CCMEParameterStore& operator=(const CCMEParameterStore&) = delete;
  virtual ~CCMEParameterStore();

  // Reads every parameter of the backing source into the store (existing keys get the new value).
  // Throws the source's QRM_Exception records.
  virtual void load() = 0;
  // Writes every parameter to the backing source. Throws the source's QRM_Exception records.
  virtual void save() = 0;

  // "group:name", upper-cased (ICU default locale) unless `caseSensitive`.
  static icu::UnicodeString makeKey(const icu::UnicodeString& group, const icu::UnicodeString& name,
                                    bool caseSensitive);

  // The parameter's value; group "*" means the application section. The reference stays valid while
  // the record exists (until setup or destruction). Throws the "9107E" QRM_Exception (severity 4)
  // naming the key when there is no such parameter.
  const icu::UnicodeString& getParameter(const icu::UnicodeString& group,
                                         const icu::UnicodeString& name) const;

  // Gives the parameter `value` (group used as is, "*" included). Without a record, creates a plain
  // one when `create` is set. Returns the record changed or created, or nullptr.
  CCMEParameterRecord* setValue(const icu::UnicodeString& group, const icu::UnicodeString& name,
                                const icu::UnicodeString& value, bool create);

  CCMEParameterRecord* findRecord(const icu::UnicodeString& key);
  const CCMEParameterRecord* findRecord(const icu::UnicodeString& key) const;

  // Whether some record's group equals `group` exactly (case-sensitive).
  bool hasGroup(const icu::UnicodeString& group) const;

  // Chooses the application section and replaces every record by the first `rowCount` rows of `table`
  // (none when `table` is null). With a non-empty `appName` the source is loaded first (calls the
  // virtual load, so subclasses call setup from their own constructor) and the section is `appName`
  // when the source has that group, else the process's application name. Throws what load throws.
  void setup(const icu::UnicodeString& appName, const CCMEParameterDef* table, uint16_t rowCount);

  // Copies `other`'s section and the value of each of its records (creating plain records as needed).
  void copyFrom(const CCMEParameterStore& other);

  bool caseSensitive() const { return caseSensitive_; }
  const RecordMap& records() const { return records_; }
  const icu::UnicodeString& section() const { return section_; }
  void setSection(const icu::UnicodeString& section) { section_ = section; }

 protected:
  icu::UnicodeString key(const icu::UnicodeString& group, const icu::UnicodeString& name) const {
    return makeKey(group, name, caseSensitive_);
  }

 private:
  bool caseSensitive_;
  RecordMap records_;
  icu::UnicodeString section_;
};

// A store with no backing source, as initPlugin's destination: filled by setValue, copyFrom or
// buildParameterStore; load and save do nothing. Never case-sensitive.
class CCMEParameterMemoryStore : public CCMEParameterStore {
 public:
  CCMEParameterMemoryStore() : CCMEParameterStore(false) {}
  void load() override {}
  void save() override {}
};

}  // namespace hcs
