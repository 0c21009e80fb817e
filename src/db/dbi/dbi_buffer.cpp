#include "db/dbi/dbi_buffer.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <type_traits>
#include <utility>

#include "util/numbers.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

// An integral double inside the range of T converts exactly; anything else would lose data.
template <class T>
bool doubleFits(double value) {
  return std::isfinite(value) && std::trunc(value) == value &&
         value >= static_cast<double>(std::numeric_limits<T>::min()) &&
         value < -static_cast<double>(std::numeric_limits<T>::min());
}

// The text of a value, when that text holds all of it: numbers, decimals and texts always, dates, and
// date-times without a fraction of a second.
bool exactText(const DBIValue& value, std::string& out) {
  switch (value.type()) {
    case DBIValue::kDateTime:
      if (value.asDateTime().fraction != 0) return false;
      [[fallthrough]];
    case DBIValue::kInt:
    case DBIValue::kLong:
    case DBIValue::kLongLong:
    case DBIValue::kDouble:
    case DBIValue::kDecimal:
    case DBIValue::kDate:
    case DBIValue::kString:
    case DBIValue::kUString:
      out = value.asString();
      return true;
    default:
      return false;
  }
}

// A number read from text converts only when it reads back as the same text ("42" does, "042",
// "+42" and "1.50" do not): otherwise the text the caller bound would not be what reaches the database.
template <class T>
bool numberFromText(const std::string& text, T& out) {
  if constexpr (std::is_floating_point_v<T>) {
    const char* end = text.data() + text.size();
    auto [parsed, error] = std::from_chars(text.data(), end, out);
    if (error != std::errc() || parsed != end || !std::isfinite(out)) return false;
  } else {
    const StrictNumber number = readStrict(
        text, {.low = std::numeric_limits<T>::min(), .high = std::numeric_limits<T>::max(), .minus = true});
    if (!number) return false;
    out = static_cast<T>(number.value);
  }
  char again[64];
  auto [written, failed] = std::to_chars(again, again + sizeof(again), out);
  return failed == std::errc() && std::string_view(again, static_cast<size_t>(written - again)) == text;
}

// "-12.50": an optional "-", digits, and optionally "." and digits.
bool isDecimalNumeral(const std::string& text) {
  size_t at = text.starts_with('-') ? 1 : 0;
  const size_t digitsStart = at;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
  if (at == digitsStart) return false;
  if (at == text.size()) return true;
  if (text[at] != '.') return false;
  const size_t fractionStart = ++at;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
  return at == text.size() && at > fractionStart;
}

bool isTextual(DBIValue::Type type) {
  return type == DBIValue::kString || type == DBIValue::kUString || type == DBIValue::kDecimal;
}

template <class T>
bool toInteger(const DBIValue& value, DBIValue& out) {
  T number{};
  switch (value.type()) {
    case DBIValue::kInt:
      if (!std::in_range<T>(value.asInt())) return false;
      number = static_cast<T>(value.asInt());
      break;
    case DBIValue::kLongLong:
      if (!std::in_range<T>(value.asLongLong())) return false;
      number = static_cast<T>(value.asLongLong());
      break;
    case DBIValue::kDouble:
      if (!doubleFits<T>(value.asDouble())) return false;
      number = static_cast<T>(value.asDouble());
      break;
    default:
      if (!isTextual(value.type()) || !numberFromText(value.asString(), number)) return false;
      break;
  }
  out = DBIValue(number);
  return true;
}

bool toDouble(const DBIValue& value, DBIValue& out) {
  double number = 0;
  switch (value.type()) {
    case DBIValue::kInt:
      number = value.asInt();
      break;
    case DBIValue::kLongLong: {
      // Above 2^53 not every integer has a double of its own.
      number = static_cast<double>(value.asLongLong());
      if (!doubleFits<int64_t>(number) || static_cast<int64_t>(number) != value.asLongLong()) return false;
      break;
    }
    case DBIValue::kDouble:
      number = value.asDouble();
      break;
    default:
      if (!isTextual(value.type()) || !numberFromText(value.asString(), number)) return false;
      break;
  }
  out = DBIValue(number);
  return true;
}

bool convert(DBIValue::Type target, const DBIValue& value, DBIValue& out) {
  if (value.isNull()) {
    out = DBIValue();
    return true;
  }
  if (value.type() == target) {
    out = value;
    return true;
  }
  std::string text;
  switch (target) {
    case DBIValue::kInt:
      return toInteger<int32_t>(value, out);
    case DBIValue::kLongLong:
      return toInteger<int64_t>(value, out);
    case DBIValue::kDouble:
      return toDouble(value, out);
    case DBIValue::kDecimal:
      // Only a plain numeral: a double such as 1e+300 has no decimal text here.
      if (!exactText(value, text) || value.type() == DBIValue::kDate || value.type() == DBIValue::kDateTime ||
          !isDecimalNumeral(text)) {
        return false;
      }
      out = DBIValue(DBIDecimal{std::move(text)});
      return true;
    case DBIValue::kString:
      if (!exactText(value, text)) return false;
      out = DBIValue(std::move(text));
      return true;
    case DBIValue::kUString:
      if (!exactText(value, text)) return false;
      out = DBIValue(icu::UnicodeString(UCString(text)));
      return true;
    default:
      return false;
  }
}

}  // namespace

bool reportStatus(DBIErrorHandler handler, const DBIStatus& status) {
  if (status.isValid()) return true;
  if (handler != nullptr) handler(status);
  return false;
}

DBIValue::Type bufferTypeFor(DBIValue::Type type) {
  switch (type) {
    case DBIValue::kInt:
      return DBIValue::kInt;
    case DBIValue::kLong:
    case DBIValue::kLongLong:
      return DBIValue::kLongLong;
    case DBIValue::kDouble:
      return DBIValue::kDouble;
    case DBIValue::kDecimal:
      return DBIValue::kDecimal;
    case DBIValue::kUString:
      return DBIValue::kUString;
    default:
      return DBIValue::kString;
  }
}

DBIBuffer::DBIBuffer(DBIValue::Type type, DBIErrorHandler handler)
    : type_(bufferTypeFor(type)), handler_(handler) {}

bool DBIBuffer::set(const DBIValue& value) {
  DBIValue converted;
  if (convert(type_, value, converted)) {
    value_ = std::move(converted);
    return true;
  }
  const std::string message = "Cannot store a value of type " + std::to_string(value.type()) +
                              " into a parameter buffer of type " + std::to_string(type_) + ": " +
                              value.asString();
  return reportStatus(handler_, DBIStatus(DBIStatus::kDBITypeConversion, message, "22018"));
}

}  // namespace hcs
