#include "db/dbi/dbi_buffer.h"

#include <cmath>
#include <limits>

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

bool convert(DBIValue::Type target, const DBIValue& value, DBIValue& out) {
  if (value.isNull()) {
    out = DBIValue();
    return true;
  }
  const DBIValue::Type from = value.type();
  switch (target) {
    case DBIValue::kInt:
      if (from == DBIValue::kInt) {
        out = value;
      } else if (from == DBIValue::kLongLong && value.asLongLong() >= std::numeric_limits<int32_t>::min() &&
                 value.asLongLong() <= std::numeric_limits<int32_t>::max()) {
        out = DBIValue(static_cast<int32_t>(value.asLongLong()));
      } else if (from == DBIValue::kDouble && doubleFits<int32_t>(value.asDouble())) {
        out = DBIValue(static_cast<int32_t>(value.asDouble()));
      } else {
        return false;
      }
      return true;
    case DBIValue::kLongLong:
      if (from == DBIValue::kInt) {
        out = DBIValue(static_cast<int64_t>(value.asInt()));
      } else if (from == DBIValue::kLongLong) {
        out = value;
      } else if (from == DBIValue::kDouble && doubleFits<int64_t>(value.asDouble())) {
        out = DBIValue(static_cast<int64_t>(value.asDouble()));
      } else {
        return false;
      }
      return true;
    case DBIValue::kDouble:
      if (from == DBIValue::kInt) {
        out = DBIValue(static_cast<double>(value.asInt()));
      } else if (from == DBIValue::kLongLong) {
        out = DBIValue(static_cast<double>(value.asLongLong()));
      } else if (from == DBIValue::kDouble) {
        out = value;
      } else {
        return false;
      }
      return true;
    case DBIValue::kDecimal:
      if (from == DBIValue::kDecimal) {
        out = value;
      } else if (from == DBIValue::kInt || from == DBIValue::kLongLong || from == DBIValue::kDouble) {
        out = DBIValue(DBIDecimal{value.asString()});
      } else {
        return false;
      }
      return true;
    case DBIValue::kString:
      if (from == DBIValue::kString) {
        out = value;
      } else if (from == DBIValue::kUString) {
        out = DBIValue(toStdString(value.asUnicode()));
      } else {
        return false;
      }
      return true;
    case DBIValue::kUString:
      if (from == DBIValue::kUString) {
        out = value;
      } else if (from == DBIValue::kString) {
        out = DBIValue(icu::UnicodeString(UCString(value.asNarrow())));
      } else {
        return false;
      }
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
