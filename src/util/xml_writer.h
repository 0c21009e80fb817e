#pragma once

#include <unicode/unistr.h>

#include <xercesc/dom/DOMNode.hpp>

namespace hcs {

// Appends `node` serialised exactly as Xerces-C's DOMLSSerializer writes it with its default settings
// (no pretty printing, entity references kept, attributes defaulted from a DTD left out), without the
// cost of building a serializer and its formatter for every call. Iterative: any depth is safe.
// With `asXml10` set, the node is written as it would be after being copied into an XML 1.0 document,
// even when its own document declares version 1.1; when it holds characters only XML 1.1 allows, that
// needs a real copy, so nothing is written and the result is false. Otherwise returns true.
bool writeXmlNode(const xercesc::DOMNode* node, icu::UnicodeString& out, bool asXml10 = false);

}  // namespace hcs
