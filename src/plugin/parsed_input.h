#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "util/ucstring.h"
#include "util/xml_document.h"

namespace hcs {

// A host text as UTF-16 with every "ATTRIBUTE>" replaced by `newRoot` (nullptr: none). Done on the text,
// before parsing, so a root written in lower case keeps its name. Null or a length of 0 or less reads
// as empty text.
UCString recordText(const char* text, int32_t length, const char16_t* newRoot);

// The last document of one kind this thread parsed. Hosts score one request and inbound record against
// many matched records, so the same bytes usually come again and need not be parsed again. Documents
// are only read after parsing, so reusing one is indistinguishable from parsing anew. Only documents
// small in input and in memory are kept: a large one would stay, per thread, until the next parse of
// its kind or the end of the thread.
//
// Not thread-safe: one instance per thread (thread_local) and kind of record.
class ParsedInput {
 public:
  // `newRoot` (a literal, or nullptr) renames the root as recordText does.
  explicit ParsedInput(const char16_t* newRoot) : newRoot_(newRoot) {}

  // The document for these bytes, valid until the next get on this object. One too large to keep is
  // parsed into `uncached` instead, which the caller holds for as long as it uses the document.
  const CXmlDocument& get(const char* text, int32_t length, std::unique_ptr<CXmlDocument>& uncached);

 private:
  const char16_t* newRoot_;
  std::string bytes_;
  std::unique_ptr<CXmlDocument> document_;
};

}  // namespace hcs
