#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <unicode/unistr.h>

#include "util/ucstring.h"

namespace hcs::fuzz {

// The bytes as the host would hand them over: 8-bit text in the local code page.
inline UCString asLocalText(const uint8_t* data, size_t size) {
  return UCString(std::string_view(reinterpret_cast<const char*>(data), size));
}

// The bytes read as raw UTF-16 units (little-endian pairs, an odd last byte dropped): reaches what
// 8-bit text never produces, such as lone surrogates and U+0000 in the middle.
inline icu::UnicodeString asUtf16Units(const uint8_t* data, size_t size) {
  icu::UnicodeString text;
  for (size_t i = 0; i + 1 < size; i += 2) text.append(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  return text;
}

}  // namespace hcs::fuzz
