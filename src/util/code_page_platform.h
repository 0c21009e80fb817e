#pragma once

#include <cstdint>
#include <string>

#include <unicode/unistr.h>

namespace hcs {

// The local code page, in which 8-bit text crosses the host boundary: UTF-8 on POSIX systems whatever
// the process locale says (a host running in the "C" locale still gets its UTF-8 documents intact), the
// ICU default converter on Windows.

// The first `length` bytes of `text` (not null, length > 0) as UTF-16. Bytes the code page cannot map
// become U+FFFD; never fails.
icu::UnicodeString fromLocalCodePage(const char* text, int32_t length);

// `text` in the local code page. Never throws: characters that cannot be represented (a lone surrogate,
// for one) come out as the code page's substitution character.
std::string toLocalCodePage(const icu::UnicodeString& text);

// Whether the local code page is UTF-8, so well-formed UTF-8 comes back unchanged from a trip through
// UTF-16.
bool localCodePageIsUtf8();

}  // namespace hcs
