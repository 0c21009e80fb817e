#include "plugin/parsed_input.h"

#include <utility>

#include "util/kept_buffer.h"

namespace hcs {

UCString recordText(std::string_view bytes, std::string_view renameFrom, std::string_view renameTo) {
  UCString unicode(bytes);
  if (!renameFrom.empty()) unicode.findAndReplace(UCString(renameFrom), UCString(renameTo));
  return unicode;
}

const CXmlDocument& ParsedInput::get(std::string_view bytes, std::unique_ptr<CXmlDocument>& uncached) {
  if (document_ != nullptr && bytes == bytes_) return *document_;
  UCString unicode = recordText(bytes, renameFrom_, renameTo_);
  auto parsed = std::make_unique<CXmlDocument>(unicode);
  // Kept by what it costs: a few kilobytes of input may expand to a tree of many megabytes.
  if (bytes.size() > kKeptBufferBytes || parsed->heldBytes() > static_cast<int64_t>(kKeptBufferBytes)) {
    uncached = std::move(parsed);
    return *uncached;
  }
  document_ = std::move(parsed);
  bytes_.assign(bytes);
  return *document_;
}

}  // namespace hcs
