#include "plugin/parsed_input.h"

#include <string_view>

#include "util/kept_buffer.h"

namespace hcs {

namespace {
const icu::UnicodeString kAttributeEnd(u"ATTRIBUTE>");
}  // namespace

UCString recordText(const char* text, int32_t length, const char16_t* newRoot) {
  UCString unicode(text, length);
  if (newRoot != nullptr) unicode.findAndReplace(kAttributeEnd, icu::UnicodeString(newRoot));
  return unicode;
}

const CXmlDocument& ParsedInput::get(const char* text, int32_t length,
                                     std::unique_ptr<CXmlDocument>& uncached) {
  const size_t size = text == nullptr || length <= 0 ? 0 : static_cast<size_t>(length);
  const std::string_view bytes(size == 0 ? "" : text, size);
  if (document_ != nullptr && bytes == bytes_) return *document_;
  UCString unicode = recordText(text, length, newRoot_);
  if (size > kKeptBufferBytes) {
    uncached = std::make_unique<CXmlDocument>(unicode);
    return *uncached;
  }
  document_.reset();
  bytes_.assign(bytes);
  document_ = std::make_unique<CXmlDocument>(unicode);
  return *document_;
}

}  // namespace hcs
