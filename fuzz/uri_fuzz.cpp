// CUri, isHttpUri and maskedUri on arbitrary text: every text must split, check and mask without
// failing, except invalid UTF-16 in isHttpUri, which throws the documented "0000E" record.
#include <cstddef>
#include <cstdint>

#include "error/qrm_exception.h"
#include "fuzz_support.h"
#include "util/uri.h"

namespace {

void exercise(const icu::UnicodeString& text) {
  const hcs::CUri uri(text);
  icu::UnicodeString value;
  if (!uri.params.empty()) {
    uri.findParam(uri.params.begin()->first, value);
  }
  uri.findParam(u"driver", value);

  // Masking must leave no password in the authority: read again, the text gives another one.
  const icu::UnicodeString masked = hcs::maskedUri(text);
  if (!uri.password.isEmpty() && uri.password != u"****" && hcs::CUri(masked).password == uri.password) {
    __builtin_trap();
  }

  // A callout URI that passes the check must split into a host without user information, since
  // the interface is built from the split.
  try {
    if (hcs::isHttpUri(text) && (uri.host.isEmpty() || !uri.user.isEmpty() || !uri.password.isEmpty())) {
      __builtin_trap();
    }
  } catch (const hcs::QRM_Exception&) {
    // Invalid UTF-16: documented.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  exercise(hcs::fuzz::asLocalText(data, size));
  exercise(hcs::fuzz::asUtf16Units(data, size));
  return 0;
}
