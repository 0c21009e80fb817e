#include "util/ucstring.h"

#include <cstdint>
#include <cstring>

#include <unicode/ustring.h>
#include <unicode/utf8.h>
#include <unicode/utypes.h>

#include "error/qrm_exception.h"
#include "util/code_page_platform.h"

namespace hcs {

UCString::UCString() { getTerminatedBuffer(); }

UCString::UCString(const char* text)
    : UCString(text, text == nullptr ? 0 : static_cast<int32_t>(strlen(text))) {}

UCString::UCString(const char* text, int32_t length)
    : icu::UnicodeString(text == nullptr || length <= 0 ? icu::UnicodeString()
                                                        : fromLocalCodePage(text, length)) {
  getTerminatedBuffer();
}

UCString::UCString(std::string_view text) : UCString(text.data(), static_cast<int32_t>(text.size())) {}

UCString::UCString(const icu::UnicodeString& other) : icu::UnicodeString(other) { getTerminatedBuffer(); }

UCString::UCString(const UCString& other) : icu::UnicodeString(other) { getTerminatedBuffer(); }

UCString::~UCString() = default;

std::string toStdString(const icu::UnicodeString& text) {
  return text.isEmpty() ? std::string() : toLocalCodePage(text);
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  if (text.isEmpty()) return out;
  // A UTF-16 unit never needs more than three UTF-8 bytes, so one pass always fits.
  out.resize(static_cast<size_t>(text.length()) * 3);
  int32_t written = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &written, text.getBuffer(), text.length(),
              &status);
  if (U_FAILURE(status)) {
    throw QRM_Exception("", UCString(u_errorName(status)), 0, kSeverityCritical);
  }
  out.resize(static_cast<size_t>(written));
  return out;
}

bool toUtf8(const icu::UnicodeString& text, std::string& out) {
  // A UTF-16 unit never needs more than three UTF-8 bytes, so one pass always fits.
  out.resize(static_cast<size_t>(text.length()) * 3);
  if (text.isEmpty()) return true;
  int32_t written = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &written, text.getBuffer(), text.length(),
              &status);
  out.resize(static_cast<size_t>(written));
  return U_SUCCESS(status);
}

namespace {

bool eightAsciiBytes(const uint8_t* bytes) {
  uint64_t eight;
  std::memcpy(&eight, bytes, 8);
  return (eight & 0x8080808080808080u) == 0;
}

}  // namespace

bool isUtf8(std::string_view bytes) {
  const auto* text = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t size = bytes.size();
  size_t i = 0;
  while (i < size) {
    // Replies are mostly ASCII: eight bytes at a time while no high bit is set.
    while (size - i >= 8 && eightAsciiBytes(text + i)) i += 8;
    if (i == size) break;
    UChar32 c;
    U8_NEXT(text, i, size, c);
    if (c < 0) return false;
  }
  return true;
}

void localRoundTrip(std::string_view bytes, std::string& out) {
  if (localCodePageIsUtf8() && isUtf8(bytes)) {
    out.assign(bytes);
    return;
  }
  out = toStdString(UCString(bytes));
}

void appendLocal(icu::UnicodeString& out, std::string_view text) {
  if (text.empty()) return;
  out.append(fromLocalCodePage(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace hcs
