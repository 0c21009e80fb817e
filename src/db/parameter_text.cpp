#include "db/parameter_text.h"

#include "util/numbers.h"

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

// Statement parameters: a "+" is skipped like a blank, a digit is one UTF-16 unit, 64 bits saturate.
constexpr LenientRule kParameterRule{
    .digits = DigitSet::kUnicodeUnits, .plus = true, .overflow = LenientRule::Overflow::kSaturate64};

int64_t readInteger64(const icu::UnicodeString& text, bool* overflow) {
  const LenientNumber number = readLenient(text, kParameterRule);
  if (overflow != nullptr) *overflow = number.overflow;
  return number.value;
}

double readDouble(const icu::UnicodeString& text) { return readLenientDecimal(text, kParameterRule); }

std::string integerDigits(const icu::UnicodeString& text) {
  std::string digits;
  for (int32_t i = 0; i < text.length(); ++i) {
    const char16_t c = text.charAt(i);
    if (c == u'-' || (c >= u'0' && c <= u'9')) digits.push_back(static_cast<char>(c));
  }
  return digits;
}

}  // namespace hcs
