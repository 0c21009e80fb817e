#include "db/parameter_text.h"

#include <unicode/uchar.h>

namespace hcs {

ParameterKind detectParameterKind(const icu::UnicodeString& text) {
  int32_t k = 0;
  while (k < text.length() && text.charAt(k) == u' ') ++k;
  bool dot = false;
  for (; k < text.length(); ++k) {
    const char16_t c = text.charAt(k);
    if (k == 0 && (c == u'-' || c == u'+')) continue;
    if (c >= u'0' && c <= u'9') continue;
    if (c == u'.' && !dot) {
      dot = true;
      continue;
    }
    return ParameterKind::kText;
  }
  return dot ? ParameterKind::kDouble : ParameterKind::kInteger;
}

int64_t readInteger64(const icu::UnicodeString& text, bool* overflow) {
  // The magnitude is kept in 64 unsigned bits and stops growing at 2^63, the magnitude of INT64_MIN,
  // so no step can wrap and the sign is applied without overflowing.
  constexpr uint64_t kMagnitudeLimit = uint64_t{1} << 63;
  uint64_t value = 0;
  bool negative = false;
  bool tooLarge = false;
  for (int32_t i = 0; i < text.length(); ++i) {
    const char16_t c = text.charAt(i);
    if (u_isdigit(c)) {
      const auto digit = static_cast<uint64_t>(u_charDigitValue(c));
      if (value > (kMagnitudeLimit - digit) / 10) {
        value = kMagnitudeLimit;
        tooLarge = true;
      } else {
        value = value * 10 + digit;
      }
    } else if (value == 0 && c == u'-') {
      negative = true;
    } else if (value == 0 && (c == u'+' || c == u' ')) {
      continue;
    } else {
      break;
    }
  }
  if (!negative && value == kMagnitudeLimit) tooLarge = true;
  if (overflow != nullptr) *overflow = tooLarge;
  if (negative) return value == kMagnitudeLimit ? INT64_MIN : -static_cast<int64_t>(value);
  return value >= kMagnitudeLimit ? INT64_MAX : static_cast<int64_t>(value);
}

double readDouble(const icu::UnicodeString& text) {
  double integer = 0;
  double fraction = 0;
  double divisor = 0;
  double sign = 1;
  for (int32_t i = 0; i < text.length(); ++i) {
    const char16_t c = text.charAt(i);
    if (u_isdigit(c)) {
      const int digit = u_charDigitValue(c);
      if (divisor == 0) {
        integer = integer * 10 + digit;
      } else {
        fraction = fraction * 10 + digit;
        divisor *= 10;
      }
    } else if (integer + fraction == 0 && c == u'-') {
      sign = -1;
    } else if (integer + fraction == 0 && (c == u'+' || c == u' ')) {
      continue;
    } else if (c == u'.' && divisor == 0) {
      divisor = 1;
    } else {
      break;
    }
  }
  return divisor == 0 ? sign * integer : sign * (integer + fraction / divisor);
}

std::string integerDigits(const icu::UnicodeString& text) {
  std::string digits;
  for (int32_t i = 0; i < text.length(); ++i) {
    const char16_t c = text.charAt(i);
    if (c == u'-' || (c >= u'0' && c <= u'9')) digits.push_back(static_cast<char>(c));
  }
  return digits;
}

}  // namespace hcs
