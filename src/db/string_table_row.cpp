#include "db/string_table_row.h"

#include "error/qrm_exception.h"
#include "log/log_message.h"
#include "util/format.h"

namespace hcs {

namespace {
constexpr int32_t kBlockSize = 5;
}

CStringTableRow::CStringTableRow() = default;
CStringTableRow::~CStringTableRow() = default;

bool CStringTableRow::addQuoted(const icu::UnicodeString& value) {
  icu::UnicodeString text;
  formatUnicode(text, u"'%S'", value);
  return addValue(text, false, false);
}

bool CStringTableRow::addInt(int32_t value, bool addToKey, bool trim) {
  icu::UnicodeString text;
  formatUnicode(text, u"%d", value);
  return addValue(text, addToKey, trim);
}

bool CStringTableRow::addInt64(int64_t value) {
  icu::UnicodeString text;
  formatUnicode(text, u"%lld", static_cast<long long>(value));
  return addValue(text, false, false);
}

bool CStringTableRow::addDouble(double value, bool addToKey, bool trim) {
  icu::UnicodeString text;
  formatUnicode(text, u"%f", value);
  return addValue(text, addToKey, trim);
}

bool CStringTableRow::addValue(const icu::UnicodeString& value, bool addToKey, bool trim) {
  icu::UnicodeString* stored = nullptr;
  if (valueCount_ < capacity_) {
    if (writePosition_ >= slots_.size()) {
      throw QRM_Exception("",
                          QRM_Message(u"9703E", u"Current field in memory row is passed end of row",
                                      std::vector<icu::UnicodeString>{}),
                          0, kSeverityCritical);
    }
    stored = slots_[writePosition_];
    *stored = value;
    if (trim) stored->trim();
    ++writePosition_;
    ++valueCount_;
  } else {
    auto block = std::make_unique<icu::UnicodeString[]>(kBlockSize);
    stored = &block[0];
    *stored = value;
    if (trim) stored->trim();
    for (int32_t i = 0; i < kBlockSize; ++i) slots_.push_back(&block[i]);
    blocks_.push_back(std::move(block));
    ++valueCount_;
    capacity_ += kBlockSize;
    writePosition_ = static_cast<size_t>(valueCount_);
  }
  if (addToKey) {
    if (keyPartCount_ == 0) {
      key_ = *stored;
    } else {
      key_.append(u'|').append(*stored);
    }
    ++keyPartCount_;
  }
  return true;
}

int32_t CStringTableRow::setKey(const char16_t* key, uint32_t keyPartCount) {
  key_ = key != nullptr ? icu::UnicodeString(key) : icu::UnicodeString();
  keyPartCount_ = keyPartCount;
  return 0;
}

const icu::UnicodeString* CStringTableRow::valuePtr(int32_t index) const {
  if (index < valueCount_ && index >= 0) return slots_[static_cast<size_t>(index)];
  icu::UnicodeString number;
  formatUnicode(number, u"%d", index);
  throw QRM_Exception(
      "",
      QRM_Message(u"9701E", u"Cannot retrieve index[{0}] from memory row of key[{1}], out of range!", number,
                  key_),
      0, kSeverityCritical);
}

icu::UnicodeString CStringTableRow::valueAt(int32_t index) const { return *valuePtr(index); }

void CStringTableRow::dump(bool valuesOnly) const {
  icu::UnicodeString joined;
  for (int32_t i = 0; i < valueCount_; ++i) {
    if (i > 0) joined.append(valuesOnly ? u", " : u"|");
    const icu::UnicodeString& v = *slots_[static_cast<size_t>(i)];
    joined.append(v.isEmpty() ? icu::UnicodeString(u"NULL") : v);
  }
  if (valuesOnly) {
    logLine(kLogDebug, u"TABLE ROW: %S", joined);
  } else {
    logLine(kLogDebug, u"TABLE ROW: KEY[%S] VALUES[%S]", key_, joined);
  }
}

bool CStringTableRow::keyEquals(const CStringTableRow& other) const {
  return key_.caseCompare(other.key_, 0) == 0;
}

CStringTableRow& CStringTableRow::assign(const CStringTableRow& other) {
  if (&other == this) return *this;
  clear();
  if (capacity_ < other.valueCount_) reserve(static_cast<uint32_t>(other.valueCount_ - capacity_));
  key_ = other.key_;
  keyPartCount_ = other.keyPartCount_;
  for (int32_t i = 0; i < other.valueCount_; ++i) {
    const icu::UnicodeString* v = other.slots_[static_cast<size_t>(i)];
    if (v != nullptr) addValue(*v, false, false);
  }
  // Leave the write position at the first free slot so the row can be appended to safely.
  writePosition_ = static_cast<size_t>(valueCount_);
  return *this;
}

bool CStringTableRow::reserve(uint32_t count) {
  const bool wasFull = valueCount_ == capacity_;
  auto block = std::make_unique<icu::UnicodeString[]>(count);
  for (uint32_t i = 0; i < count; ++i) slots_.push_back(&block[i]);
  blocks_.push_back(std::move(block));
  if (wasFull && valueCount_ > 0) {
    writePosition_ = static_cast<size_t>(valueCount_);
  } else if (valueCount_ == 0) {
    writePosition_ = 0;
  }
  capacity_ += static_cast<int32_t>(count);
  return true;
}

void CStringTableRow::clear() {
  valueCount_ = 0;
  keyPartCount_ = 0;
  key_.remove();
  mark_ = false;
  writePosition_ = 0;
}

}  // namespace hcs
