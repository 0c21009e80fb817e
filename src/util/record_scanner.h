#pragma once

#include <string>
#include <string_view>

namespace hcs {

// The fast way from one record's UTF-8 bytes to its root element as the DOM writer writes it, for the
// common records: plain elements, attributes, text, comments, CDATA, the predefined entities and
// character references, an optional XML 1.0 declaration. One pass over the bytes, no parser, no UTF-16
// and no DOM; the result is byte for byte what CXmlDocument and writeXmlNode(root, out, true) give,
// written as UTF-8.
//
// Anything else (a DOCTYPE, other entities, XML 1.1, another encoding, processing instructions,
// lower-case letters outside ASCII in markup, invalid UTF-8, nesting deeper than kXmlMaxDepth, more
// different names than kXmlMaxNames, ...) is "not handled": the caller takes the parser's way, which
// stays the reference. A record the parser refuses is never handled here.

// How one record is read.
struct RecordRules {
  // Every occurrence of `renameFrom` in the text is replaced by `renameTo` before anything else, as
  // the caller does to the text it hands the parser; empty: nothing is replaced. Both are ASCII name
  // characters followed by '>', and `renameTo` is in upper case.
  std::string_view renameFrom;
  std::string_view renameTo;
  // The element whose text is read, found and defaulted as CXmlDocument::getValue(root, valueName,
  // "", true) does; empty: none is read.
  std::string_view valueName;
};

// Checks one record and appends its root element to `out`. With `value`, also sets it to the text of
// the element the rules name. Returns false when the record is not handled; `out` is then as it was.
// Uses buffers of this thread's own: not reentrant, safe on any number of threads at once.
bool scanRecord(std::string_view utf8, const RecordRules& rules, std::string& out, std::string* value);

}  // namespace hcs
