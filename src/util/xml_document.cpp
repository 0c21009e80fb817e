#include "util/xml_document.h"

#include <climits>
#include <cstdint>

#include <unicode/uchar.h>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/XMLException.hpp>

#include "util/dom_walk.h"
#include "util/ucstring.h"
#include "util/xml_platform.h"
#include "util/xml_writer.h"

using namespace xercesc;

namespace hcs {

namespace {

char16_t upperCase(char16_t c) {
  if (c < 0x80) return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
  return u_islower(c) ? static_cast<char16_t>(u_toupper(c)) : c;
}

// Upper-cases everything between '<' and '>' except <?...?> instructions, in place; returns the number
// of code units before the first NUL. The string is made writable only when something changes.
int32_t upperCaseMarkup(icu::UnicodeString& text) {
  const int32_t length = text.length();
  const char16_t* read = text.getBuffer();
  char16_t* write = nullptr;
  bool inside = false;
  int32_t i = 0;
  for (; i < length; ++i) {
    const char16_t c = read[i];
    if (c == 0) break;
    if (c == u'<') {
      if (i + 1 >= length || read[i + 1] != u'?') inside = true;
    } else if (c == u'>') {
      inside = false;
    } else if (inside) {
      const char16_t upper = upperCase(c);
      if (upper == c) continue;
      if (write == nullptr) {
        write = text.getBuffer(length);
        read = write;
      }
      write[i] = upper;
    }
  }
  if (write != nullptr) text.releaseBuffer(length);
  return i;
}

bool hasName(const DOMNode* node, const icu::UnicodeString& name) {
  const XMLCh* nodeName = node->getNodeName();
  const int32_t length = name.length();
  const char16_t* wanted = name.getBuffer();
  for (int32_t i = 0; i < length; ++i) {
    // Stops at the node name's NUL, also when the wanted name holds a NUL of its own.
    if (nodeName[i] == 0 || nodeName[i] != wanted[i]) return false;
  }
  return nodeName[length] == 0;
}

// Direct children first, then below each child: a direct child beats any deeper match. Recursion depth
// is bounded by the nesting cap the parser enforces.
DOMNode* searchBelow(DOMNode* parent, const icu::UnicodeString& name, bool deep) {
  DOMNode* first = parent->getFirstChild();
  for (DOMNode* child = first; child != nullptr; child = child->getNextSibling()) {
    if (hasName(child, name)) return child;
  }
  if (!deep) return nullptr;
  for (DOMNode* child = first; child != nullptr; child = child->getNextSibling()) {
    if (DOMNode* found = searchBelow(child, name, true)) return found;
  }
  return nullptr;
}

// The DOM text content (character data of all descendants, comments and instructions left out),
// gathered straight into the result without recursion or a temporary buffer in the document.
void appendTextContent(const DOMNode* node, icu::UnicodeString& out) {
  switch (node->getNodeType()) {
    case DOMNode::TEXT_NODE:
    case DOMNode::CDATA_SECTION_NODE:
    case DOMNode::COMMENT_NODE:
    case DOMNode::PROCESSING_INSTRUCTION_NODE:
    case DOMNode::ATTRIBUTE_NODE:
      out.append(node->getNodeValue(), -1);
      return;
    case DOMNode::DOCUMENT_NODE:
    case DOMNode::DOCUMENT_TYPE_NODE:
    case DOMNode::NOTATION_NODE:
      return;
    default:
      break;
  }
  walkDom(
      node,
      [&](const DOMNode* current) {
        const DOMNode::NodeType type = current->getNodeType();
        if (type != DOMNode::TEXT_NODE && type != DOMNode::CDATA_SECTION_NODE) return true;
        out.append(current->getNodeValue(), -1);
        return false;
      },
      [](const DOMNode*) {});
}

}  // namespace

CXmlDocument::CXmlDocument(icu::UnicodeString& text) {
  initXmlLibraries();
  const int32_t length = upperCaseMarkup(text);
  try {
    document_ = xml_internal::parseOnThisThread(text.getBuffer(), length, heldBytes_);
  } catch (const SAXException& e) {
    recordParseError(e.getMessage());
  } catch (const XMLException& e) {
    recordParseError(e.getMessage());
  } catch (const DOMException& e) {
    // The tree builder refuses some input the scanner lets through (an XML declaration with an unknown
    // version); for the caller that is malformed input like any other.
    recordParseError(e.getMessage());
  }
}

void CXmlDocument::recordParseError(const XMLCh* reason) {
  icu::UnicodeString message(u"XML Parse failed:");
  if (reason != nullptr) message.append(reason, -1);
  // The message goes through the local code page, as every text of a record does.
  const UCString local(toStdString(message));
  error = QRM_Exception("", local, 5, kSeverityMajor);
  error.addText("", local, 0, kNoSeverity);
}

CXmlDocument::~CXmlDocument() {
  if (document_ != nullptr) xml_internal::releaseDocument(document_, heldBytes_);
}

DOMNode* CXmlDocument::getRoot() const {
  return document_ == nullptr ? nullptr : document_->getDocumentElement();
}

DOMNode* CXmlDocument::findNode(const icu::UnicodeString& name, DOMNode* start, bool deep) const {
  if (start == nullptr) {
    start = getRoot();
    if (start == nullptr) return nullptr;
    if (hasName(start, name)) return start;
  }
  return searchBelow(start, name, deep);
}

icu::UnicodeString CXmlDocument::getValue(DOMNode* start, const icu::UnicodeString& name,
                                          const icu::UnicodeString& defaultValue, bool deep) const {
  if (const DOMNode* node = findNode(name, start, deep); node != nullptr) {
    icu::UnicodeString value;
    appendTextContent(node, value);
    if (!value.isEmpty()) return value;
  }
  return defaultValue;
}

void CXmlDocument::toXml(DOMNode* node, icu::UnicodeString& out) const {
  if (node == nullptr) node = getRoot();
  if (node == nullptr) return;
  icu::UnicodeString text;
  writeXmlNode(node, text);
  out = std::move(text);
}

int32_t toXmlWrapped(const icu::UnicodeString& rootName, std::initializer_list<const DOMNode*> children,
                     icu::UnicodeString& out) {
  // Sized once: a string grown step by step leaves every smaller step behind in the thread's heap, and
  // for a document of many megabytes that stays resident after the call.
  int64_t length = 2 * static_cast<int64_t>(rootName.length()) + 5;
  for (const DOMNode* child : children) length += xmlNodeLength(child, true);
  icu::UnicodeString text(length < INT32_MAX ? static_cast<int32_t>(length) : 0, 0, 0);
  text.append(u'<').append(rootName);
  bool empty = true;
  int32_t index = 0;
  for (const DOMNode* child : children) {
    if (child != nullptr) {
      if (empty) text.append(u'>');
      empty = false;
      // A copy keeps only specified attributes, which is what the writer keeps of the original.
      if (!writeXmlNode(child, text, true)) return index;
    }
    ++index;
  }
  if (empty) {
    text.append(u"/>", 2);
  } else {
    text.append(u"</", 2).append(rootName).append(u'>');
  }
  out = std::move(text);
  return -1;
}

DOMNode* appendCopy(DOMNode* parent, DOMNode* child) {
  if (parent == nullptr || child == nullptr) return nullptr;
  DOMDocument* target = parent->getNodeType() == DOMNode::DOCUMENT_NODE ? static_cast<DOMDocument*>(parent)
                                                                        : parent->getOwnerDocument();
  DOMNode* copy =
      child->getOwnerDocument() == target ? child->cloneNode(true) : target->importNode(child, true);
  return parent->appendChild(copy);
}

}  // namespace hcs
