#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <unicode/unistr.h>

namespace hcs {

// The system's string: an ICU UnicodeString whose buffer is NUL-terminated after every constructor, so
// its characters can go straight to functions that expect a terminated UTF-16 array.
//
// 8-bit text is read in the local code page: UTF-8 on POSIX systems (whatever the process locale says,
// so a host running in the "C" locale still gets its UTF-8 documents intact), the ICU default converter
// on Windows. Bytes the code page cannot map become U+FFFD; construction never fails.
class UCString : public icu::UnicodeString {
 public:
  UCString();
  // NUL-terminated 8-bit text; a null pointer gives the empty string.
  explicit UCString(const char* text);
  // The first `length` bytes of `text`. A null pointer or a length of 0 or less gives the empty string.
  UCString(const char* text, int32_t length);
  UCString(std::string_view text);
  UCString(const icu::UnicodeString& other);
  UCString(const UCString& other);
  UCString& operator=(const UCString& other) = default;
  ~UCString() override;
};

// Converts to 8-bit text in the local code page. Never throws: characters that cannot be represented
// (a lone surrogate, for one) come out as the code page's substitution character.
std::string toStdString(const icu::UnicodeString& text);

// Converts to UTF-8, the form of everything that leaves the system on the wire. Throws the "0000E"
// QRM_Exception (severity 4) carrying the ICU error name when the text is not valid UTF-16.
std::string toUtf8(const icu::UnicodeString& text);

// Appends 8-bit text in the local code page to `out`, converted to UTF-16.
void appendLocal(icu::UnicodeString& out, std::string_view text);

// The UTF-8 form of `text` into `out` (replacing its content, reusing its capacity); false, with `out`
// unspecified, when the text is not valid UTF-16. The non-throwing toUtf8.
bool toUtf8(const icu::UnicodeString& text, std::string& out);

// Whether `bytes` are well-formed UTF-8: no overlong form, no surrogate, nothing past U+10FFFF.
bool isUtf8(std::string_view bytes);

// Into `out`: toStdString(UCString(bytes)), the 8-bit text local bytes come back as after a trip
// through UTF-16. Where the local code page is UTF-8 and the bytes are well-formed that is the bytes
// themselves, copied without the trip; otherwise the trip is made (ill-formed sequences become U+FFFD).
void localRoundTrip(std::string_view bytes, std::string& out);

}  // namespace hcs
