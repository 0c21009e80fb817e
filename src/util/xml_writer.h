#pragma once

#include <cstdint>

#include <unicode/unistr.h>
#include <xercesc/dom/DOMNode.hpp>

namespace hcs {

// Appends `node` serialised exactly as Xerces-C's DOMLSSerializer writes it with its default settings
// (no pretty printing, entity references kept, attributes defaulted from a DTD left out), without the
// cost of building a serializer and its formatter for every call. Iterative: any depth is safe.
// With `standalone` set, the node is written to stand in an XML 1.0 document of its own, without the
// DTD of the document it comes from: entity references are replaced by their expansion, and a node of
// an XML 1.1 document is written as XML 1.0. When it holds characters only XML 1.1 allows, nothing is
// written and the result is false. Otherwise returns true.
bool writeXmlNode(const xercesc::DOMNode* node, icu::UnicodeString& out, bool standalone = false);

// How many UTF-16 code units writeXmlNode appends for `node`, without writing them; 0 for what it
// leaves to the library's serializer. A size to reserve, not a promise: a node holding characters
// only XML 1.1 allows is counted as if they could be written.
int64_t xmlNodeLength(const xercesc::DOMNode* node, bool standalone = false);

}  // namespace hcs
