#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "util/ucstring.h"
#include "util/xml_document.h"

namespace hcs {

// A host text as UTF-16 with every `renameFrom` replaced by `renameTo` (renameFrom empty: none). Done on
// the text, before parsing, so a root written in lower case keeps its name.
UCString recordText(std::string_view bytes, std::string_view renameFrom, std::string_view renameTo);

// The last document of one kind this thread parsed. Hosts score one request and inbound record against
// many matched records, so the same bytes usually come again and need not be parsed again. Documents
// are only read after parsing, so reusing one is indistinguishable from parsing anew. Only documents
// small in input and in memory are kept: a large one would stay, per thread, until the next parse of
// its kind or the end of the thread.
//
// Not thread-safe: one instance per thread (thread_local) and kind of record.
class ParsedInput {
 public:
  // Texts are renamed as recordText does; the two views must outlive the object (literals).
  ParsedInput(std::string_view renameFrom, std::string_view renameTo)
      : renameFrom_(renameFrom), renameTo_(renameTo) {}

  // The document for these bytes, valid until the next get on this object. One too large to keep is
  // parsed into `uncached` instead, which the caller holds for as long as it uses the document.
  const CXmlDocument& get(std::string_view bytes, std::unique_ptr<CXmlDocument>& uncached);

 private:
  std::string_view renameFrom_;
  std::string_view renameTo_;
  std::string bytes_;
  std::unique_ptr<CXmlDocument> document_;
};

}  // namespace hcs
