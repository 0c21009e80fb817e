#include "util/xml_document.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationRegistry.hpp>
#include <xercesc/dom/DOMLSSerializer.hpp>
#include <xercesc/util/XMLString.hpp>

#include "util/ucstring.h"

namespace hcs {
namespace {

std::string utf8(const icu::UnicodeString& text) { return toStdString(text); }

std::string written(const CXmlDocument& doc, xercesc::DOMNode* node = nullptr) {
  icu::UnicodeString out;
  doc.toXml(node, out);
  return utf8(out);
}

// The library's own serializer at its defaults, which the hand-written writer stands in for.
std::string libraryText(const xercesc::DOMNode* node) {
  xercesc::DOMLSSerializer* writer =
      xercesc::DOMImplementationRegistry::getDOMImplementation(u"")->createLSSerializer();
  XMLCh* text = writer->writeToString(node);
  const std::string result = utf8(icu::UnicodeString(text));
  xercesc::XMLString::release(&text);
  writer->release();
  return result;
}

// Parses a copy of `text`; the copy shows the caller's string after upper-casing.
struct Parsed {
  explicit Parsed(std::string_view text) : source(text), doc(source) {}
  UCString source;
  CXmlDocument doc;
};

using TextPair = std::pair<const char*, const char*>;
class XmlUpperCase : public testing::TestWithParam<TextPair> {};

TEST_P(XmlUpperCase, RewritesMarkupOnlyInTheCallersString) {
  EXPECT_EQ(utf8(Parsed(GetParam().first).source), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Markup, XmlUpperCase,
    testing::Values(TextPair{"<?xml version=\"1.0\"?><r a=\"v\">Text<!-- n --><![CDATA[d]]></r>",
                             "<?xml version=\"1.0\"?><R A=\"V\">Text<!-- N --><![CDATA[D]]></R>"},
                    // A '>' inside an attribute value ends the upper-casing early.
                    TextPair{"<r a=\"x>y\" b=\"z\">t</r>", "<R A=\"X>y\" b=\"z\">t</R>"},
                    TextPair{"<stra\xc3\x9f\xc3\xa9>gr\xc3\xbc\xc3\x9f</stra\xc3\x9f\xc3\xa9>",
                             "<STRA\xc3\x9f\xc3\x89>gr\xc3\xbc\xc3\x9f</STRA\xc3\x9f\xc3\x89>"}));

TEST(XmlMarkup, UpperCasingAndNameLookupStopAtANul) {
  icu::UnicodeString text(u"<a/>");
  text.append(u'\0').append(u"<b/>");
  CXmlDocument doc(text);
  EXPECT_EQ(text, icu::UnicodeString(u"<A/>").append(u'\0').append(u"<b/>"));
  EXPECT_NE(doc.findNode(u"A", nullptr, false), nullptr);
  EXPECT_EQ(doc.findNode(icu::UnicodeString(u"A\0B", 3), nullptr, false), nullptr);
}

struct LookupCase {
  const char* xml;
  const char* start;  // found first from the root (deep), or nullptr for no start node
  const char16_t* tag;
  bool deep;
  const char* expected;  // the default is "dflt"
};

class XmlLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(XmlLookup, GetValue) {
  const LookupCase& c = GetParam();
  Parsed p(c.xml);
  xercesc::DOMNode* start = c.start == nullptr ? nullptr : p.doc.findNode(UCString(c.start), nullptr, true);
  EXPECT_EQ(utf8(p.doc.getValue(start, icu::UnicodeString(c.tag), u"dflt", c.deep)), c.expected)
      << c.xml << " from " << (c.start ? c.start : "-") << " for " << utf8(c.tag) << (c.deep ? " deep" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Rules, XmlLookup,
    testing::Values(
        LookupCase{"<root><child>x</child></root>", nullptr, u"CHILD", true, "x"},
        LookupCase{"<root><child>x</child></root>", nullptr, u"child", true, "dflt"},
        // A direct child beats a deeper match under an earlier sibling, at every level.
        LookupCase{"<R><A><C>1</C></A><C>2</C></R>", nullptr, u"C", true, "2"},
        LookupCase{"<R><A><B><C>1</C></B></A><D><C>2</C></D></R>", nullptr, u"C", true, "1"},
        LookupCase{"<R><A><C>1</C></A></R>", nullptr, u"C", false, "dflt"},
        LookupCase{"<R><A><C>1</C></A><B><C>2</C></B></R>", "B", u"C", false, "2"},
        LookupCase{"<R><A>1</A></R>", "A", u"A", true, "dflt"},  // the start node itself is not matched
        LookupCase{"<R><A>a</A>b<B>c</B></R>", nullptr, u"R", false, "abc"},
        LookupCase{"<R><A></A></R>", nullptr, u"A", true, "dflt"},
        LookupCase{"<R><A> x </A></R>", nullptr, u"A", true, " x "},
        LookupCase{"<R><A><!--c--><![CDATA[q]]>t</A></R>", nullptr, u"A", true, "Qt"},
        // The declaration is markup too, so the replacement text comes out upper-cased.
        LookupCase{"<!DOCTYPE R [<!ENTITY E \"ent\">]><R><A>&E;!</A></R>", nullptr, u"A", true, "ENT!"},
        LookupCase{"<R><V>Zo\xc3\xab \xf0\x9f\x98\x80</V></R>", nullptr, u"V", true,
                   "Zo\xc3\xab \xf0\x9f\x98\x80"},
        LookupCase{"<R><A>1</A>", nullptr, u"A", true, "dflt"}));

// Each document, written on its own, must read as the library's serializer writes it; the wrapped
// shortcut must read as copying them into a fresh wrapper and writing that.
class XmlWriter : public testing::TestWithParam<std::vector<const char*>> {};

TEST_P(XmlWriter, AgreesWithDomLsSerializerAndWrappedWithACopy) {
  std::vector<std::unique_ptr<Parsed>> parts;
  const xercesc::DOMNode* roots[3] = {};
  Parsed wrapper("<ATTRS_TO_SCORE></ATTRS_TO_SCORE>");
  for (const char* text : GetParam()) {
    parts.push_back(std::make_unique<Parsed>(text));
    xercesc::DOMNode* root = parts.back()->doc.getRoot();
    if (root != nullptr) {
      EXPECT_EQ(written(parts.back()->doc), libraryText(root)) << text;
    }
    roots[parts.size() - 1] = root;
    appendCopy(wrapper.doc.getRoot(), root);
  }
  icu::UnicodeString out(u"old");
  toXmlWrapped(u"ATTRS_TO_SCORE", {roots[0], roots[1], roots[2]}, out);
  EXPECT_EQ(utf8(out), written(wrapper.doc));
  EXPECT_EQ(utf8(out), libraryText(wrapper.doc.getRoot()));
}

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlWriter,
    testing::Values(
        std::vector<const char*>{},
        std::vector<const char*>{"<REQ/>", "<ATTR1><ATTR_TYPE_ID>7</ATTR_TYPE_ID></ATTR1>", "<bad"},
        std::vector<const char*>{"<R a='1' b=\"x&#34;y'z&#9;\">a&amp;b&lt;c&gt;d\"e'f\r\n&#13;</R>",
                                 "<R><!-- c --><?p d?><![CDATA[<x>&]]></R>",
                                 "<!DOCTYPE R [<!ATTLIST R d CDATA \"x\">]><R>e</R>"},
        std::vector<const char*>{"<?xml version=\"1.1\"?><S a=\"&#133;\">&#127;&#x85;&#13;</S>"}));

TEST(XmlDocument, CopyWithinOneDocumentClones) {
  Parsed p("<R><A>1</A><B/></R>");
  appendCopy(p.doc.findNode(u"B", nullptr, false), p.doc.findNode(u"A", nullptr, false));
  EXPECT_EQ(written(p.doc), "<R><A>1</A><B><A>1</A></B></R>");
  EXPECT_EQ(appendCopy(nullptr, p.doc.getRoot()), nullptr);
}

// Bad input of every shape is recorded, never thrown: two "0000E" entries (numbers 5 and 0) with the
// parser's text, severity major; nothing is written for it.
class XmlBadInput : public testing::TestWithParam<std::u16string> {};

TEST_P(XmlBadInput, IsRecordedAsParseFailure) {
  icu::UnicodeString text(GetParam().data(), static_cast<int32_t>(GetParam().size()));
  CXmlDocument doc(text);
  ASSERT_EQ(doc.error.entryCount(), 2) << utf8(text);
  auto entry = [&](int32_t i) {
    const auto& e = doc.error.entry(i);
    return utf8(e.message().code()) + "|" + std::to_string(e.number()) + "|" + e.narrowText();
  };
  const std::string message = doc.error.what();
  EXPECT_TRUE(message.starts_with("XML Parse failed:")) << message;
  EXPECT_EQ(entry(0), "0000E|5|" + message);
  EXPECT_EQ(entry(1), "0000E|0|" + message);
  EXPECT_EQ(doc.error.severity(), kSeverityMajor);
  EXPECT_EQ(doc.getRoot(), nullptr);
  icu::UnicodeString out(u"kept");
  doc.toXml(nullptr, out);
  EXPECT_EQ(out, u"kept");
}

INSTANTIATE_TEST_SUITE_P(Shapes, XmlBadInput,
                         testing::Values(u"", std::u16string(1, u'\0'), u"<", u"text", u"<R>\xD800</R>",
                                         u"<R>\xFFFF</R>", u"<R/><S/>",
                                         u"<?xml version=\"1.0\" encoding=\"x\"?>", u"<R a=\"1\" a=\"2\"/>",
                                         u"<?xml version=\"1.5\"?><R/>", u"<R>&undefined;</R>",
                                         u"<!DOCTYPE R [<!ENTITY"));

TEST(XmlDocument, ParseErrorNamesTheFault) {
  EXPECT_STREQ(Parsed("<R><A>1</B></R>").doc.error.what(), "XML Parse failed:expected end of tag 'A'");
  EXPECT_EQ(Parsed("<R/>").doc.error.entryCount(), 0);
}

// Each thread reuses its parsers. A document that declares XML 1.1, whether it parses or not, must
// leave the next document on XML 1.0, where control characters such as U+0004 are not allowed.
class XmlVersionCarryOver : public testing::TestWithParam<std::pair<const char*, bool>> {};

TEST_P(XmlVersionCarryOver, EndsWithTheDocumentThatDeclaredIt) {
  EXPECT_EQ(Parsed(GetParam().first).doc.parsed(), GetParam().second);
  for (const char* next : {"<R>&#4;</R>", "<!DOCTYPE R><R>&#4;</R>"}) {
    EXPECT_FALSE(Parsed(next).doc.parsed()) << next << " after " << GetParam().first;
  }
  EXPECT_TRUE(Parsed("<R>&#9;</R>").doc.parsed());
}

INSTANTIATE_TEST_SUITE_P(Declarations, XmlVersionCarryOver,
                         testing::Values(std::pair{"<?xml version=\"1.1\"?><R>&#4;</R>", true},
                                         std::pair{"<?xml version=\"1.1\"?><!DOCTYPE R><R>&#4;</R>", true},
                                         std::pair{"<?xml version=\"1.1\"?><R>", false},
                                         std::pair{"<?xml version=\"1.1\"?><!DOCTYPE R><R><A></R>", false}));

}  // namespace
}  // namespace hcs
