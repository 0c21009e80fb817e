#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include <unicode/unistr.h>

namespace hcs {

// Calendar values as the database returns them: no time zone, local time by convention.
struct DBIDate {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  bool operator==(const DBIDate&) const = default;
};
struct DBIDateTime {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  uint32_t fraction = 0;  // nanoseconds
  bool operator==(const DBIDateTime&) const = default;
};

// Decimal numbers travel as their text so no precision is lost on the way.
struct DBIDecimal {
  std::string text;
  bool operator==(const DBIDecimal&) const = default;
};

// One value read from or bound to the database, with the type codes callers test.
class DBIValue {
 public:
  enum Type : int32_t {
    kNoType = 0,  // NULL
    kInt = 7,
    kLong = 9,
    kLongLong = 11,
    kDouble = 14,
    kDecimal = 16,
    kDate = 17,
    kDateTime = 18,
    kString = 20,   // 8-bit text in the local code page
    kUString = 24,  // UTF-16 text
  };

  DBIValue() = default;  // NULL
  explicit DBIValue(int32_t value) : value_(value) {}
  explicit DBIValue(int64_t value) : value_(value) {}
  explicit DBIValue(double value) : value_(value) {}
  explicit DBIValue(DBIDecimal value) : value_(std::move(value)) {}
  explicit DBIValue(DBIDate value) : value_(value) {}
  explicit DBIValue(DBIDateTime value) : value_(value) {}
  explicit DBIValue(std::string value) : value_(std::move(value)) {}
  explicit DBIValue(icu::UnicodeString value) : value_(std::move(value)) {}

  Type type() const;
  bool isNull() const { return value_.index() == 0; }

  // Text of any value: numbers in decimal (doubles in their shortest exact form), dates as
  // "YYYY-MM-DD", date-times as "YYYY-MM-DD HH:MM:SS", UTF-16 text converted to the local code page,
  // NULL as "".
  std::string asString() const;
  icu::UnicodeString asUString() const;

  // Accessors for the stored alternative; each throws std::bad_variant_access on another type.
  int32_t asInt() const { return std::get<int32_t>(value_); }
  int64_t asLongLong() const { return std::get<int64_t>(value_); }
  double asDouble() const { return std::get<double>(value_); }
  const DBIDecimal& asDecimal() const { return std::get<DBIDecimal>(value_); }
  const DBIDate& asDate() const { return std::get<DBIDate>(value_); }
  const DBIDateTime& asDateTime() const { return std::get<DBIDateTime>(value_); }
  const std::string& asNarrow() const { return std::get<std::string>(value_); }
  const icu::UnicodeString& asUnicode() const { return std::get<icu::UnicodeString>(value_); }

 private:
  std::variant<std::monostate, int32_t, int64_t, double, DBIDecimal, DBIDate, DBIDateTime, std::string,
               icu::UnicodeString>
      value_;
};

}  // namespace hcs
