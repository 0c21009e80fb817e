// CXmlDocument on arbitrary text: a document either parses or records its error, and whatever parsed
// can be searched, copied and written. The hand-written writer must agree with Xerces' own
// DOMLSSerializer, and the wrapped form with a real copy, on every document the fuzzer finds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationRegistry.hpp>
#include <xercesc/dom/DOMLSSerializer.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/XMLString.hpp>

#include "fuzz_support.h"
#include "util/xml_document.h"

namespace {

icu::UnicodeString serializerText(const xercesc::DOMNode* node) {
  auto* implementation = xercesc::DOMImplementationRegistry::getDOMImplementation(u"");
  xercesc::DOMLSSerializer* writer = implementation->createLSSerializer();
  XMLCh* text = writer->writeToString(node);
  icu::UnicodeString result(text);
  xercesc::XMLString::release(&text);
  writer->release();
  return result;
}

[[noreturn]] void disagree(const char* what, const icu::UnicodeString& ours,
                           const icu::UnicodeString& theirs) {
  std::fprintf(stderr, "%s disagree:\n  ours:   %s\n  theirs: %s\n", what, hcs::toStdString(ours).c_str(),
               hcs::toStdString(theirs).c_str());
  __builtin_trap();
}

// Whether `text` parses as plain XML, as the service reads it (CXmlDocument would upper-case its markup
// first, and &quot; in an attribute would read as an unknown &QUOT;).
bool parsesAlone(const icu::UnicodeString& text) {
  const std::string bytes = hcs::toUtf8(text);
  xercesc::XercesDOMParser parser;
  parser.setLoadExternalDTD(false);
  parser.setDisableDefaultEntityResolution(true);
  xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(), u"wrapped");
  try {
    parser.parse(source);
    return parser.getErrorCount() == 0;
  } catch (const xercesc::SAXParseException&) {
    return false;
  }
}

// The last element in document order: a name the lookups have to search for.
xercesc::DOMNode* lastElement(xercesc::DOMNode* node) {
  xercesc::DOMNode* last = node;
  for (xercesc::DOMNode* child = node->getLastChild(); child != nullptr;
       child = child->getPreviousSibling()) {
    if (child->getNodeType() == xercesc::DOMNode::ELEMENT_NODE) return lastElement(child);
  }
  return last;
}

void exercise(hcs::CXmlDocument& doc) {
  xercesc::DOMNode* root = doc.getRoot();
  icu::UnicodeString written;
  doc.toXml(nullptr, written);
  const icu::UnicodeString reference = serializerText(root);
  if (written != reference) disagree("toXml and DOMLSSerializer", written, reference);

  const icu::UnicodeString deepName(lastElement(root)->getNodeName());
  const icu::UnicodeString empty;
  for (const icu::UnicodeString& name :
       {icu::UnicodeString(root->getNodeName()), deepName, icu::UnicodeString(u"ATTR_TYPE_ID")}) {
    for (bool deep : {false, true}) {
      xercesc::DOMNode* found = doc.findNode(name, nullptr, deep);
      doc.getValue(nullptr, name, empty, deep);
      doc.getValue(root, name, empty, deep);
      if (found != nullptr) {
        icu::UnicodeString text;
        doc.toXml(found, text);
      }
    }
  }

  // The wrapped text must parse on its own, and be what a real copy under a fresh element serialises to
  // when the document has no DTD whose entities the wrapper expands; only XML 1.1 content may be refused.
  icu::UnicodeString wrapperText(u"<ATTRS_TO_SCORE/>");
  hcs::CXmlDocument wrapper(wrapperText);
  hcs::appendCopy(wrapper.getRoot(), root);
  icu::UnicodeString copied;
  wrapper.toXml(nullptr, copied);
  icu::UnicodeString wrapped;
  const xercesc::DOMDocument* owner = root->getOwnerDocument();
  if (hcs::toXmlWrapped(u"ATTRS_TO_SCORE", {root}, wrapped) >= 0) {
    if (!xercesc::XMLString::equals(owner->getXmlVersion(), u"1.1"))
      disagree("toXmlWrapped refused", wrapped, copied);
  } else {
    if (!parsesAlone(wrapped)) disagree("toXmlWrapped does not parse", wrapped, copied);
    if (owner->getDoctype() == nullptr && copied != wrapped)
      disagree("toXmlWrapped and appendCopy", wrapped, copied);
  }
  const icu::UnicodeString copiedReference = serializerText(wrapper.getRoot());
  if (copied != copiedReference) disagree("toXml of a copy and DOMLSSerializer", copied, copiedReference);

  // A clone within the same document.
  hcs::appendCopy(root, doc.findNode(deepName, nullptr, true));
  doc.toXml(nullptr, written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hcs::UCString text = hcs::fuzz::asLocalText(data, size);
  hcs::CXmlDocument doc(text);
  if (!doc.parsed()) {
    if (doc.error.entryCount() != 2) __builtin_trap();
    return 0;
  }
  try {
    exercise(doc);
  } catch (const xercesc::DOMException&) {
    // The DOM refusing a copy is documented.
  }
  return 0;
}
