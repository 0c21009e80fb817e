#include "util/xml_writer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationRegistry.hpp>
#include <xercesc/dom/DOMLSSerializer.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMProcessingInstruction.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include "util/dom_walk.h"
#include "util/xml_escape.h"

using namespace xercesc;

namespace hcs {

namespace {

// Stands in for the output string when only the length of the text is wanted.
struct LengthCounter {
  int64_t length = 0;

  LengthCounter& append(const char16_t* text, int32_t count) {
    length += count >= 0 ? count : static_cast<int64_t>(std::char_traits<char16_t>::length(text));
    return *this;
  }
  LengthCounter& append(char16_t) {
    ++length;
    return *this;
  }
};

template <class Out>
void appendEscaped(Out& out, const XMLCh* text, bool attribute) {
  if (text == nullptr) return;
  const XMLCh* run = text;
  for (const XMLCh* p = text; *p != 0; ++p) {
    const std::string_view escape = xmlEscape(*p, attribute);
    if (escape.empty()) continue;
    out.append(run, static_cast<int32_t>(p - run));
    for (const char c : escape) out.append(static_cast<char16_t>(c));
    run = p + 1;
  }
  out.append(run, -1);
}

template <class Out>
void appendRaw(Out& out, const XMLCh* text) {
  if (text != nullptr) out.append(text, -1);
}

// With `expandEntities`, an entity reference's expansion is written instead of the reference.
template <class Out>
void writeStartOrLeaf(const DOMNode* node, Out& out, bool expandEntities) {
  switch (node->getNodeType()) {
    case DOMNode::ELEMENT_NODE: {
      out.append(u'<');
      appendRaw(out, node->getNodeName());
      const DOMNamedNodeMap* attributes = node->getAttributes();
      const XMLSize_t count = attributes == nullptr ? 0 : attributes->getLength();
      for (XMLSize_t i = 0; i < count; ++i) {
        const auto* attribute = static_cast<const DOMAttr*>(attributes->item(i));
        if (!attribute->getSpecified()) continue;  // defaulted from the DTD: the serializer drops them
        out.append(u' ');
        appendRaw(out, attribute->getName());
        out.append(u"=\"", 2);
        appendEscaped(out, attribute->getValue(), true);
        out.append(u'"');
      }
      out.append(node->hasChildNodes() ? u">" : u"/>", -1);
      break;
    }
    case DOMNode::TEXT_NODE:
      appendEscaped(out, node->getNodeValue(), false);
      break;
    case DOMNode::CDATA_SECTION_NODE:
      out.append(u"<![CDATA[", -1);
      appendRaw(out, node->getNodeValue());
      out.append(u"]]>", -1);
      break;
    case DOMNode::COMMENT_NODE:
      out.append(u"<!--", -1);
      appendRaw(out, node->getNodeValue());
      out.append(u"-->", -1);
      break;
    case DOMNode::PROCESSING_INSTRUCTION_NODE: {
      const auto* instruction = static_cast<const DOMProcessingInstruction*>(node);
      out.append(u"<?", -1);
      appendRaw(out, instruction->getTarget());
      const XMLCh* data = instruction->getData();
      if (data != nullptr && *data != 0) {
        out.append(u' ');
        appendRaw(out, data);
      }
      out.append(u"?>", -1);
      break;
    }
    case DOMNode::ENTITY_REFERENCE_NODE:
      // Expanded, its children are written in its place.
      if (expandEntities) break;
      out.append(u'&');
      appendRaw(out, node->getNodeName());
      out.append(u';');
      break;
    default:
      break;
  }
}

bool isXml11(const DOMNode* node) {
  const DOMDocument* doc = node->getOwnerDocument();
  const XMLCh* version = doc == nullptr ? nullptr : doc->getXmlVersion();
  return version != nullptr && XMLString::equals(version, u"1.1");
}

bool handled(const DOMNode* node, bool standalone) {
  // XML 1.1 output escapes control characters as well; leave that rare case to the library.
  if (!standalone && isXml11(node)) return false;
  switch (node->getNodeType()) {
    case DOMNode::ELEMENT_NODE:
    case DOMNode::TEXT_NODE:
    case DOMNode::CDATA_SECTION_NODE:
    case DOMNode::COMMENT_NODE:
    case DOMNode::PROCESSING_INSTRUCTION_NODE:
    case DOMNode::ENTITY_REFERENCE_NODE:
      return true;
    default:
      return false;
  }
}

// Documents, fragments, doctypes and attributes are rare here; the library's own serializer does them.
void writeWithSerializer(const DOMNode* node, icu::UnicodeString& out) {
  DOMImplementation* implementation = DOMImplementationRegistry::getDOMImplementation(u"");
  MemoryManager* manager = XMLPlatformUtils::fgMemoryManager;
  DOMLSSerializer* serializer = implementation->createLSSerializer(manager);
  std::unique_ptr<DOMLSSerializer, void (*)(DOMLSSerializer*)> guard(
      serializer, [](DOMLSSerializer* s) { s->release(); });
  XMLCh* text = serializer->writeToString(node, manager);
  out.append(text, -1);
  manager->deallocate(text);
}

// Characters XML 1.0 cannot carry even as references; only a document declaring XML 1.1 holds them.
bool hasXml11OnlyCharacter(const icu::UnicodeString& text, int32_t from) {
  const char16_t* buffer = text.getBuffer();
  for (int32_t i = from; i < text.length(); ++i) {
    const char16_t c = buffer[i];
    if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') return true;
  }
  return false;
}

// An entity reference is written by name, its expansion left out, unless entities are expanded.
template <class Out>
void walk(const DOMNode* node, Out& out, bool expandEntities) {
  walkDom(
      node,
      [&](const DOMNode* current) {
        writeStartOrLeaf(current, out, expandEntities);
        const DOMNode::NodeType type = current->getNodeType();
        return type == DOMNode::ELEMENT_NODE || (type == DOMNode::ENTITY_REFERENCE_NODE && expandEntities);
      },
      [&](const DOMNode* parent) {
        if (parent->getNodeType() != DOMNode::ELEMENT_NODE) return;  // an expanded entity reference
        out.append(u"</", 2);
        appendRaw(out, parent->getNodeName());
        out.append(u'>');
      });
}

}  // namespace

bool writeXmlNode(const DOMNode* node, icu::UnicodeString& out, bool standalone) {
  if (node == nullptr) return true;
  if (!handled(node, standalone)) {
    writeWithSerializer(node, out);
    return true;
  }
  // Names need no check: Xerces reads XML 1.0 names by the fifth edition's rules, the same as 1.1's.
  const int32_t start = out.length();
  walk(node, out, standalone);
  if (!hasXml11OnlyCharacter(out, start)) return true;
  // XML 1.1 content in an XML 1.0 setting: what becomes of it is the library serializer's decision.
  out.truncate(start);
  if (standalone) return false;
  writeWithSerializer(node, out);
  return true;
}

int64_t xmlNodeLength(const DOMNode* node, bool standalone) {
  if (node == nullptr || !handled(node, standalone)) return 0;
  LengthCounter counter;
  walk(node, counter, standalone);
  return counter.length;
}

}  // namespace hcs
