#include "util/numbers.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

namespace hcs {

namespace {

constexpr uint64_t kInt64MinMagnitude = uint64_t{1} << 63;

// The character at `i`, advancing `i` past it: a code point under kUnicode, one unit otherwise.
char32_t next(std::u16string_view text, size_t& i, DigitSet digits) {
  if (digits != DigitSet::kUnicode) return text[i++];
  UChar32 c;
  U16_NEXT(text.data(), i, text.size(), c);
  return static_cast<char32_t>(c);
}

char32_t next(std::string_view text, size_t& i, DigitSet) { return static_cast<unsigned char>(text[i++]); }

// The value of `c` as a digit, or -1. Hexadecimal letters are ASCII only.
int digitValue(char32_t c, DigitSet digits, int radix) {
  if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
  if (radix == 16 && c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
  if (radix == 16 && c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
  if (digits == DigitSet::kAscii || !u_isdigit(static_cast<UChar32>(c))) return -1;
  return u_charDigitValue(static_cast<UChar32>(c));
}

// A character that is no digit, met while the value is still 0: whether the number goes on.
bool goesOnAtZero(char32_t c, const LenientRule& rule, bool& negative) {
  if (c == U'-' && rule.minus) negative = true;
  return c == U' ' || (c == U'+' && rule.plus) || (c == U'-' && rule.minus);
}

template <class Char>
StrictNumber strict(std::basic_string_view<Char> text, const StrictRule& rule, DigitSet digits) {
  const auto radix = static_cast<uint64_t>(rule.radix);
  size_t i = rule.minus && !text.empty() && text.front() == Char('-') ? 1 : 0;
  const bool negative = i == 1;
  uint64_t magnitude = 0;
  bool tooLarge = false;  // past 64 bits; still read on, since a later non-digit makes it malformed
  int count = 0;
  while (i < text.size()) {
    const int digit = digitValue(next(text, i, digits), digits, rule.radix);
    if (digit < 0) return {0, Refusal::kMalformed};
    ++count;
    const auto d = static_cast<uint64_t>(digit);
    tooLarge = tooLarge || magnitude > (UINT64_MAX - d) / radix;
    magnitude = magnitude * radix + d;
  }
  if (count == 0 || (rule.maxDigits > 0 && count > rule.maxDigits)) return {0, Refusal::kMalformed};
  int64_t value = 0;
  if (negative && magnitude <= kInt64MinMagnitude) {
    value = magnitude == kInt64MinMagnitude ? INT64_MIN : -static_cast<int64_t>(magnitude);
  } else if (!negative && magnitude <= INT64_MAX) {
    value = static_cast<int64_t>(magnitude);
  } else {
    tooLarge = true;
  }
  if (tooLarge || value < rule.low || value > rule.high) return {0, Refusal::kOutOfRange};
  return {value, Refusal::kNone};
}

}  // namespace

void zeroPad(std::string& out, int value, int width) {
  std::string digits = std::to_string(value);
  if (width > 0 && static_cast<size_t>(width) > digits.size()) {
    out.assign(static_cast<size_t>(width) - digits.size(), '0');
    out += digits;
  } else {
    out = std::move(digits);
  }
}

LenientNumber readLenient(std::u16string_view text, const LenientRule& rule) {
  const bool wrap = rule.overflow == LenientRule::Overflow::kWrap32;
  // Under kWrap32 only the low 32 bits are kept, so "still 0" is asked of the wrapped value; under
  // kSaturate64 it stops at 2^63, the magnitude of INT64_MIN, so the sign never overflows.
  uint64_t magnitude = 0;
  bool negative = false;
  bool overflow = false;
  for (size_t i = 0; i < text.size();) {
    const char32_t c = next(text, i, rule.digits);
    const int digit = digitValue(c, rule.digits, 10);
    if (digit < 0) {
      if (magnitude != 0 || !goesOnAtZero(c, rule, negative)) break;
      continue;
    }
    const auto d = static_cast<uint64_t>(digit);
    if (wrap) {
      magnitude = static_cast<uint32_t>(magnitude * 10 + d);
    } else if (magnitude > (kInt64MinMagnitude - d) / 10) {
      magnitude = kInt64MinMagnitude;
      overflow = true;
    } else {
      magnitude = magnitude * 10 + d;
    }
  }
  if (wrap) {
    const auto bits = static_cast<uint32_t>(magnitude);
    return {static_cast<int32_t>(negative ? 0u - bits : bits), false};
  }
  if (negative) {
    return {magnitude == kInt64MinMagnitude ? INT64_MIN : -static_cast<int64_t>(magnitude), overflow};
  }
  // 2^63 fits only with a minus.
  if (magnitude == kInt64MinMagnitude) return {INT64_MAX, true};
  return {static_cast<int64_t>(magnitude), false};
}

double readLenientDecimal(std::u16string_view text, const LenientRule& rule) {
  double integer = 0;
  double fraction = 0;
  double divisor = 0;  // 0 until the "."
  bool negative = false;
  for (size_t i = 0; i < text.size();) {
    const char32_t c = next(text, i, rule.digits);
    const int digit = digitValue(c, rule.digits, 10);
    if (digit >= 0 && divisor == 0) {
      integer = integer * 10 + digit;
    } else if (digit >= 0) {
      fraction = fraction * 10 + digit;
      divisor *= 10;
    } else if (c == U'.' && divisor == 0) {
      divisor = 1;
    } else if (integer + fraction != 0 || !goesOnAtZero(c, rule, negative)) {
      break;
    }
  }
  const double sign = negative ? -1 : 1;
  return divisor == 0 ? sign * integer : sign * (integer + fraction / divisor);
}

int32_t parseInt(const icu::UnicodeString& text) {
  return static_cast<int32_t>(readLenient(text, LenientRule{}).value);
}

StrictNumber readStrict(std::string_view text, const StrictRule& rule) {
  return strict(text, rule, DigitSet::kAscii);
}

StrictNumber readStrict(std::u16string_view text, const StrictRule& rule) {
  return strict(text, rule, rule.digits);
}

}  // namespace hcs
