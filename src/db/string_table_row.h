#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <unicode/unistr.h>

#include "db/row.h"

namespace hcs {

// A row of text values in memory with a key built from some of them. Values live in blocks of
// preallocated strings that are reused after `clear`, so a row refilled many times stops allocating.
// The database layer binds the values of such rows as statement parameters, in order.
//
// Throws QRM_Exception "9703E" when a value is written past the end of the row and "9701E" when a
// value is read at an index at or beyond the value count. One thread at a time.
class CStringTableRow : public CRow {
 public:
  CStringTableRow();
  ~CStringTableRow() override;
  CStringTableRow(const CStringTableRow&) = delete;
  CStringTableRow& operator=(const CStringTableRow& other) { return assign(other); }

  int32_t columnCount() override { return valueCount(); }
  icu::UnicodeString value(int32_t index) override { return valueAt(index); }

  virtual bool addQuoted(const icu::UnicodeString& value);
  virtual bool addInt(int32_t value, bool addToKey, bool trim);
  virtual bool addInt64(int64_t value);
  // Stores `value` (trimmed of white space at both ends when `trim`), and with `addToKey` appends the
  // stored text to the key, "|"-separated. Always true.
  virtual bool addValue(const icu::UnicodeString& value, bool addToKey, bool trim);
  virtual bool addDouble(double value, bool addToKey, bool trim);
  virtual int32_t setKey(const char16_t* key, uint32_t keyPartCount);
  virtual const icu::UnicodeString& key() const { return key_; }
  virtual icu::UnicodeString valueAt(int32_t index) const;
  virtual const icu::UnicodeString* valuePtr(int32_t index) const;
  virtual int32_t valueCount() const { return valueCount_; }
  virtual uint32_t keyPartCount() const { return keyPartCount_; }
  virtual bool isMarked() const { return mark_; }
  virtual void setMark() { mark_ = true; }
  virtual void clearMark() { mark_ = false; }
  // Logs the row at level 64: "TABLE ROW: KEY[..] VALUES[a|b]" or, values only, "TABLE ROW: a, b";
  // an empty value shows as NULL.
  virtual void dump(bool valuesOnly) const;
  // Keys compared without regard to case.
  virtual bool keyEquals(const CStringTableRow& other) const;
  virtual CStringTableRow& assign(const CStringTableRow& other);
  // Adds `count` empty slots in one block. Always true.
  virtual bool reserve(uint32_t count);
  // Forgets values, key and mark; keeps the slots for reuse.
  virtual void clear();
  virtual void reset() { clear(); }

  int32_t capacity() const { return capacity_; }

 private:
  std::vector<icu::UnicodeString*> slots_;
  std::vector<std::unique_ptr<icu::UnicodeString[]>> blocks_;
  icu::UnicodeString key_;
  uint32_t keyPartCount_ = 0;
  int32_t valueCount_ = 0;
  int32_t capacity_ = 0;
  size_t writePosition_ = 0;  // index into slots_; stays meaningful when slots_ grows
  bool mark_ = false;
};

}  // namespace hcs
