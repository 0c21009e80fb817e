#include "db/dbi/dbi_value.h"

#include <charconv>
#include <cstdio>

#include "util/ucstring.h"

namespace hcs {

DBIValue::Type DBIValue::type() const {
  switch (value_.index()) {
    case 1:
      return kInt;
    case 2:
      return kLongLong;
    case 3:
      return kDouble;
    case 4:
      return kDecimal;
    case 5:
      return kDate;
    case 6:
      return kDateTime;
    case 7:
      return kString;
    case 8:
      return kUString;
    default:
      return kNoType;
  }
}

std::string DBIValue::asString() const {
  char buffer[64];
  switch (value_.index()) {
    case 1:
      return std::to_string(std::get<int32_t>(value_));
    case 2:
      return std::to_string(std::get<int64_t>(value_));
    case 3: {
      auto result = std::to_chars(buffer, buffer + sizeof(buffer), std::get<double>(value_));
      return std::string(buffer, result.ptr);
    }
    case 4:
      return std::get<DBIDecimal>(value_).text;
    case 5: {
      const DBIDate& d = std::get<DBIDate>(value_);
      std::snprintf(buffer, sizeof(buffer), "%04d-%02d-%02d", d.year, d.month, d.day);
      return buffer;
    }
    case 6: {
      const DBIDateTime& t = std::get<DBIDateTime>(value_);
      std::snprintf(buffer, sizeof(buffer), "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                    t.minute, t.second);
      return buffer;
    }
    case 7:
      return std::get<std::string>(value_);
    case 8:
      return toStdString(std::get<icu::UnicodeString>(value_));
    default:
      return {};
  }
}

icu::UnicodeString DBIValue::asUString() const {
  if (value_.index() == 8) return std::get<icu::UnicodeString>(value_);
  return UCString(asString());
}

}  // namespace hcs
