#pragma once

#include <string>
#include <string_view>

namespace hcs {

// The fast way from host records to the outgoing document, for the common records: plain elements,
// attributes, text, comments, CDATA, the predefined entities and character references, an optional
// XML 1.0 declaration. One pass over the UTF-8 bytes, no parser, no UTF-16 and no DOM; the result is
// byte for byte what CXmlDocument and toXmlWrapped give, written as UTF-8.
//
// Anything else (a DOCTYPE, other entities, XML 1.1, another encoding, processing instructions,
// lower-case letters outside ASCII in markup, invalid UTF-8, nesting deeper than kXmlMaxDepth, more
// different names than kXmlMaxNames, ...)
// is "not handled": the caller takes the parser's way, which stays the reference. A record the parser
// refuses is never handled here.

// Checks one record and appends its root element, as it is written inside the wrapper, to `out`.
// `newRoot` replaces every "ATTRIBUTE>" of the text before anything else ("" for none, as for the
// request). With `typeId`, also sets it to the ATTR_TYPE_ID text of the record, found and defaulted as
// CXmlDocument::getValue(root, "ATTR_TYPE_ID", "", true) does. Returns false when the record is not
// handled; `out` is then as it was.
bool scanRecord(std::string_view utf8, std::string_view newRoot, std::string& out, std::string* typeId);

// The whole outgoing document: the request, the inbound record (root renamed to ATTR1) and the matched
// record (ATTR2) under ATTRS_TO_SCORE, with both type texts. False when any of the three is not
// handled; the outputs then hold nothing to use.
bool buildOutgoing(std::string_view request, std::string_view inbound, std::string_view matched,
                   std::string& out, std::string& inboundType, std::string& matchedType);

}  // namespace hcs
