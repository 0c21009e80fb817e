#include "plugin/parsed_input.h"

#include <string_view>
#include <utility>

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
  auto parsed = std::make_unique<CXmlDocument>(unicode);
  // Kept by what it costs: a few kilobytes of input may expand to a tree of many megabytes.
  if (size > kKeptBufferBytes || parsed->heldBytes() > static_cast<int64_t>(kKeptBufferBytes)) {
    uncached = std::move(parsed);
    return *uncached;
  }
  document_ = std::move(parsed);
  bytes_.assign(bytes);
  return *document_;
}

}  // namespace hcs
