#include "util/numbers.h"

#include <unicode/uchar.h>

namespace hcs {

void zeroPad(std::string& out, int value, int width) {
  std::string digits = std::to_string(value);
  if (width > 0 && static_cast<size_t>(width) > digits.size()) {
    out.assign(static_cast<size_t>(width) - digits.size(), '0');
    out += digits;
  } else {
    out = std::move(digits);
  }
}

int32_t parseInt(const icu::UnicodeString& text) {
  uint32_t accumulator = 0;  // unsigned: overflow wraps instead of being undefined
  bool negative = false;
  for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
    const UChar32 c = text.char32At(i);
    if (u_isdigit(c)) {
      accumulator = accumulator * 10u + static_cast<uint32_t>(u_charDigitValue(c));
    } else if (accumulator == 0 && c == u'-') {
      negative = true;
    } else if (accumulator == 0 && c == u' ') {
      continue;
    } else {
      break;
    }
  }
  return static_cast<int32_t>(negative ? 0u - accumulator : accumulator);
}

}  // namespace hcs
