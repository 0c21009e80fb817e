#include "util/ucstring.h"

#include <cstdint>
#include <cstring>

#include <unicode/ustring.h>
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

bool isUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = p + bytes.size();
  while (p < end) {
    // Replies are mostly ASCII: eight bytes at a time while no high bit is set.
    while (end - p >= 8) {
      uint64_t eight;
      std::memcpy(&eight, p, 8);
      if ((eight & 0x8080808080808080u) != 0) break;
      p += 8;
    }
    if (p == end) break;
    const unsigned char lead = *p;
    if (lead < 0x80) {
      ++p;
      continue;
    }
    // The second byte's range depends on the lead (RFC 3629); later ones are 80..BF.
    int trail = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trail = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail = 2;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail = 3;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
      return false;
    }
    if (end - p <= trail || p[1] < low || p[1] > high) return false;
    for (int i = 2; i <= trail; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    p += trail + 1;
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
