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

std::string serialise(const CXmlDocument& doc, xercesc::DOMNode* node = nullptr) {
  icu::UnicodeString out;
  doc.toXml(node, out);
  return utf8(out);
}

// The library's own serializer at its defaults, which the hand-written writer stands in for.
std::string libraryText(const xercesc::DOMNode* node) {
  auto* impl = xercesc::DOMImplementationRegistry::getDOMImplementation(u"");
  xercesc::DOMLSSerializer* writer = impl->createLSSerializer();
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

struct UpperCaseCase {
  const char* input;
  const char* rewritten;
};

class XmlUpperCase : public testing::TestWithParam<UpperCaseCase> {};

TEST_P(XmlUpperCase, RewritesMarkupOnlyInTheCallersString) {
  Parsed p(GetParam().input);
  EXPECT_EQ(utf8(p.source), GetParam().rewritten);
}

INSTANTIATE_TEST_SUITE_P(
    Markup, XmlUpperCase,
    testing::Values(UpperCaseCase{"<root><child>x</child></root>", "<ROOT><CHILD>x</CHILD></ROOT>"},
                    UpperCaseCase{"<?xml version=\"1.0\"?><r a=\"v\">Text</r>",
                                  "<?xml version=\"1.0\"?><R A=\"V\">Text</R>"},
                    UpperCaseCase{"<r><!-- note --><![CDATA[data]]></r>",
                                  "<R><!-- NOTE --><![CDATA[DATA]]></R>"},
                    // A '>' inside an attribute value ends the upper-casing early.
                    UpperCaseCase{"<r a=\"x>y\" b=\"z\">t</r>", "<R A=\"X>y\" b=\"z\">t</R>"},
                    UpperCaseCase{"<stra\xc3\x9f"
                                  "e>gr\xc3\xbc\xc3\x9f</stra\xc3\x9f"
                                  "e>",
                                  "<STRA\xc3\x9f"
                                  "E>gr\xc3\xbc\xc3\x9f</STRA\xc3\x9f"
                                  "E>"},
                    UpperCaseCase{"<\xc3\xa9t\xc3\xa9/>", "<\xc3\x89T\xc3\x89/>"}));

TEST(XmlMarkup, UpperCasingStopsAtTheFirstNul) {
  icu::UnicodeString text(u"<a/>");
  text.append(u'\0').append(u"<b/>");
  CXmlDocument doc(text);
  EXPECT_EQ(text, icu::UnicodeString(u"<A/>").append(u'\0').append(u"<b/>"));
  EXPECT_TRUE(doc.parsed());
  EXPECT_NE(doc.findNode(u"A", nullptr, false), nullptr);
  EXPECT_EQ(doc.findNode(icu::UnicodeString(u"A\0B", 3), nullptr, false), nullptr);
}

struct LookupCase {
  const char* name;
  const char* xml;
  const char* start;  // found first from the root (deep), or nullptr for no start node
  const char16_t* tag;
  bool deep;
  const char* expected;  // default is "dflt"
};

class XmlLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(XmlLookup, GetValue) {
  const LookupCase& c = GetParam();
  Parsed p(c.xml);
  xercesc::DOMNode* start = nullptr;
  if (c.start != nullptr) {
    start = p.doc.findNode(UCString(c.start), nullptr, true);
    ASSERT_NE(start, nullptr);
  }
  EXPECT_EQ(utf8(p.doc.getValue(start, icu::UnicodeString(c.tag), u"dflt", c.deep)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, XmlLookup,
    testing::Values(
        LookupCase{"LowerCaseMarkupFoundByUpperName", "<root><child>x</child></root>", nullptr, u"CHILD",
                   true, "x"},
        LookupCase{"LowerCaseNameFindsNothing", "<root><child>x</child></root>", nullptr, u"child", true,
                   "dflt"},
        LookupCase{"DirectChildBeatsEarlierDeepMatch", "<R><A><C>1</C></A><C>2</C></R>", nullptr, u"C", true,
                   "2"},
        LookupCase{"DeepFindsGrandchild", "<R><A><C>1</C></A></R>", nullptr, u"C", true, "1"},
        LookupCase{"ShallowSkipsGrandchild", "<R><A><C>1</C></A></R>", nullptr, u"C", false, "dflt"},
        LookupCase{"ShallowFromStartNode", "<R><A><C>1</C></A><B><C>2</C></B></R>", "B", u"C", false, "2"},
        LookupCase{"StartNodeItselfNotMatched", "<R><A>1</A></R>", "A", u"A", true, "dflt"},
        LookupCase{"DepthFirstPerChild", "<R><A><B><C>1</C></B></A><D><C>2</C></D></R>", nullptr, u"C", true,
                   "1"},
        LookupCase{"RootNameGivesWholeText", "<R><A>a</A>b<B>c</B></R>", nullptr, u"R", false, "abc"},
        LookupCase{"EmptyElementTag", "<R><A/></R>", nullptr, u"A", true, "dflt"},
        LookupCase{"EmptyStartEnd", "<R><A></A></R>", nullptr, u"A", true, "dflt"},
        LookupCase{"TextNotTrimmed", "<R><A> x </A></R>", nullptr, u"A", true, " x "},
        LookupCase{"CdataCountsCommentsDoNot", "<R><A><!--c--><![CDATA[q]]>t</A></R>", nullptr, u"A", true,
                   "Qt"},
        // The declaration is markup too, so the replacement text comes out upper-cased.
        LookupCase{"InternalEntityExpands", "<!DOCTYPE R [<!ENTITY E \"ent\">]><R><A>&E;!</A></R>", nullptr,
                   u"A", true, "ENT!"},
        LookupCase{"NonAsciiDataKept", "<R><V>Zo\xc3\xab \xf0\x9f\x98\x80</V></R>", nullptr, u"V", true,
                   "Zo\xc3\xab \xf0\x9f\x98\x80"},
        LookupCase{"FailedParseGivesDefault", "<R><A>1</A>", nullptr, u"A", true, "dflt"}),
    [](const testing::TestParamInfo<LookupCase>& info) { return std::string(info.param.name); });

TEST(XmlDocument, ScoreDocumentIsAssembledAndSerialised) {
  Parsed wrapper("<ATTRS_TO_SCORE></ATTRS_TO_SCORE>");
  Parsed request("<?xml version=\"1.0\"?><req mode=\"fast\"><opt>a&amp;b</opt></req>");
  Parsed inbound("<ATTR1><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Ann</VALUE></ATTR1>");
  Parsed matched(
      "<ATTR2><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Zo\xc3\xab &lt;\xf0\x9f\x98\x80&gt;</VALUE></ATTR2>");
  xercesc::DOMNode* root = wrapper.doc.getRoot();
  for (Parsed* part : {&request, &inbound, &matched})
    ASSERT_NE(appendCopy(root, part->doc.getRoot()), nullptr);
  EXPECT_EQ(serialise(wrapper.doc, root),
            "<ATTRS_TO_SCORE><REQ MODE=\"FAST\"><OPT>a&amp;b</OPT></REQ>"
            "<ATTR1><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Ann</VALUE></ATTR1>"
            "<ATTR2><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Zo\xc3\xab &lt;\xf0\x9f\x98\x80&gt;</VALUE></ATTR2>"
            "</ATTRS_TO_SCORE>");
  EXPECT_EQ(utf8(wrapper.doc.getValue(nullptr, u"VALUE", u"", true)), "Ann");
}

// The shortcut must give exactly the text of copying into a fresh wrapper and serialising it.
class XmlWrapped : public testing::TestWithParam<std::vector<const char*>> {};

TEST_P(XmlWrapped, EqualsAppendCopyThenToXml) {
  std::vector<std::unique_ptr<Parsed>> parts;
  std::vector<const xercesc::DOMNode*> roots;
  Parsed wrapper("<ATTRS_TO_SCORE></ATTRS_TO_SCORE>");
  for (const char* text : GetParam()) {
    parts.push_back(std::make_unique<Parsed>(text));
    roots.push_back(parts.back()->doc.getRoot());
    appendCopy(wrapper.doc.getRoot(), parts.back()->doc.getRoot());
  }
  icu::UnicodeString out(u"old");
  switch (roots.size()) {
    case 0:
      toXmlWrapped(u"ATTRS_TO_SCORE", {}, out);
      break;
    case 1:
      toXmlWrapped(u"ATTRS_TO_SCORE", {roots[0]}, out);
      break;
    default:
      toXmlWrapped(u"ATTRS_TO_SCORE", {roots[0], roots[1], roots[2]}, out);
      break;
  }
  EXPECT_EQ(utf8(out), serialise(wrapper.doc));
  EXPECT_EQ(utf8(out), libraryText(wrapper.doc.getRoot()));
}

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlWrapped,
    testing::Values(
        std::vector<const char*>{},
        std::vector<const char*>{"<R a=\"&#9;\">x&#13;<!--c--><?p d?><![CDATA[z]]></R>"},
        std::vector<const char*>{"<REQ/>", "<ATTR1><ATTR_TYPE_ID>7</ATTR_TYPE_ID></ATTR1>", "<bad"},
        std::vector<const char*>{"<!DOCTYPE R [<!ATTLIST R d CDATA \"x\">]><R>e</R>",
                                 "<?xml version=\"1.1\"?><S>&#127;&#x85;</S>", "<T xmlns=\"urn:t\"/>"}));

TEST(XmlDocument, CopyWithinOneDocumentClones) {
  Parsed p("<R><A>1</A><B/></R>");
  appendCopy(p.doc.findNode(u"B", nullptr, false), p.doc.findNode(u"A", nullptr, false));
  EXPECT_EQ(serialise(p.doc), "<R><A>1</A><B><A>1</A></B></R>");
  EXPECT_EQ(appendCopy(nullptr, p.doc.getRoot()), nullptr);
}

// The hand-written writer must agree with the library's serializer at its defaults.
class XmlSerialiserAgreement : public testing::TestWithParam<const char*> {};

TEST_P(XmlSerialiserAgreement, MatchesDomLsSerializer) {
  Parsed p(GetParam());
  ASSERT_TRUE(p.doc.parsed()) << p.doc.error.what();
  EXPECT_EQ(serialise(p.doc), libraryText(p.doc.getRoot()));
}

INSTANTIATE_TEST_SUITE_P(Corpus, XmlSerialiserAgreement,
                         testing::Values("<R/>", "<R></R>", "<R a='1' b=\"x&#34;y'z\"/>",
                                         "<R>a&amp;b&lt;c&gt;d\"e'f</R>",
                                         "<R a=\"&#60;&#38;>&#9;&#10;&#13;\" b=\"\t\n\"/>",
                                         "<R>line1\nline2\r\nline3&#13;&#9;tab</R>",
                                         "<R><!-- c --><?pi data here?><?empty?><![CDATA[<x>&]]></R>",
                                         "<R>Zo\xc3\xab \xf0\x9f\x98\x80 \xe2\x80\xa8</R>",
                                         "<!DOCTYPE R [<!ENTITY E \"ent\">]><R>&E;<A>&E;</A></R>",
                                         "<!DOCTYPE R [<!ATTLIST R d CDATA \"def\">]><R a=\"1\"/>",
                                         "<R xmlns=\"urn:x\" xmlns:p=\"urn:p\"><p:A p:b=\"c\">t</p:A></R>",
                                         "<R>  <A> </A>\n</R>",
                                         "<?xml version=\"1.1\"?><R a=\"&#133;\">&#127;&#x85;&#13;</R>"));

TEST(XmlDocument, ParseErrorIsRecordedNotThrown) {
  Parsed p("<R><A>1</B></R>");
  EXPECT_FALSE(p.doc.parsed());
  EXPECT_EQ(p.doc.getRoot(), nullptr);
  ASSERT_EQ(p.doc.error.entryCount(), 2);
  const std::string text = "XML Parse failed:expected end of tag 'A'";
  for (int32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(utf8(p.doc.error.entry(i).message().code()), "0000E");
    EXPECT_EQ(p.doc.error.entry(i).narrowText(), text);
  }
  EXPECT_EQ(p.doc.error.entry(0).number(), 5u);
  EXPECT_EQ(p.doc.error.entry(1).number(), 0u);
  EXPECT_EQ(p.doc.error.severity(), kSeverityMajor);
  icu::UnicodeString out(u"kept");
  p.doc.toXml(nullptr, out);
  EXPECT_EQ(out, u"kept");
  EXPECT_EQ(Parsed("<R/>").doc.error.entryCount(), 0);
}

// Bad input of every shape fails cleanly with a recorded error.
class XmlBadInput : public testing::TestWithParam<std::u16string> {};

TEST_P(XmlBadInput, IsRecordedAsParseFailure) {
  icu::UnicodeString text(GetParam().data(), static_cast<int32_t>(GetParam().size()));
  CXmlDocument doc(text);
  EXPECT_EQ(doc.getRoot(), nullptr);
  ASSERT_EQ(doc.error.entryCount(), 2);
  EXPECT_EQ(doc.error.entry(0).narrowText().rfind("XML Parse failed:", 0), 0u) << doc.error.what();
}

INSTANTIATE_TEST_SUITE_P(Shapes, XmlBadInput,
                         testing::Values(u"", std::u16string(1, u'\0'), u"<", u"<R>", u"text",
                                         u"<R>\xD800</R>", u"<R>\xFFFF</R>", u"<R/><S/>",
                                         u"<?xml version=\"1.0\" encoding=\"x\"?>", u"<R a=\"1\" a=\"2\"/>",
                                         u"<?xml version=\"1.5\"?><R/>", u"<R>&undefined;</R>",
                                         u"<!DOCTYPE R [<!ENTITY"));

// Each thread reuses its parsers. A document that declares XML 1.1, whether it parses or not, must
// leave the next document on XML 1.0, where control characters such as U+0004 are not allowed.
struct Xml11Case {
  const char* first;
  bool firstParses;
};

class XmlVersionCarryOver : public testing::TestWithParam<Xml11Case> {};

TEST_P(XmlVersionCarryOver, EndsWithTheDocumentThatDeclaredIt) {
  EXPECT_EQ(Parsed(GetParam().first).doc.parsed(), GetParam().firstParses);
  for (const char* next : {"<R>&#4;</R>", "<!DOCTYPE R><R>&#4;</R>"}) {
    Parsed p(next);
    EXPECT_FALSE(p.doc.parsed()) << next << " after " << GetParam().first;
  }
  EXPECT_TRUE(Parsed("<R>&#9;</R>").doc.parsed());
}

INSTANTIATE_TEST_SUITE_P(Declarations, XmlVersionCarryOver,
                         testing::Values(Xml11Case{"<?xml version=\"1.1\"?><R>&#4;</R>", true},
                                         Xml11Case{"<?xml version=\"1.1\"?><!DOCTYPE R><R>&#4;</R>", true},
                                         Xml11Case{"<?xml version=\"1.1\"?><R>", false},
                                         Xml11Case{"<?xml version=\"1.1\"?><!DOCTYPE R><R><A></R>", false}));

TEST(XmlDocument, MutatedInputNeverCrashes) {
  const std::string seed =
      "<?xml version=\"1.0\"?><!DOCTYPE R [<!ENTITY E \"e\">]><R a=\"1\"><A>&E;</A><![CDATA[x]]></R>";
  uint32_t state = 12345;
  for (int round = 0; round < 1000; ++round) {
    std::string text = seed;
    for (int k = 0; k < 3; ++k) {
      state = state * 1103515245 + 12345;
      text[(state >> 8) % text.size()] = static_cast<char>("<>&;!?/[]\"'=A \0"[(state >> 20) % 15]);
    }
    Parsed p(text);
    EXPECT_TRUE(p.doc.parsed() != (p.doc.error.entryCount() == 2)) << text;
  }
}

}  // namespace
}  // namespace hcs
