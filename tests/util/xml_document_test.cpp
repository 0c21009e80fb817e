#include "util/xml_document.h"

#include <atomic>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationRegistry.hpp>
#include <xercesc/dom/DOMLSSerializer.hpp>
#include <xercesc/util/XMLString.hpp>

#include "util/ucstring.h"
#include "util/xml_writer.h"

namespace hcs {
namespace {

using U = icu::UnicodeString;

std::string utf8(const U& text) { return toStdString(text); }

std::string written(const CXmlDocument& doc) {
  U out;
  doc.toXml(nullptr, out);
  return utf8(out);
}

// The library's own serializer at its defaults, which the hand-written writer stands in for.
std::string libraryText(const xercesc::DOMNode* node) {
  xercesc::DOMLSSerializer* writer =
      xercesc::DOMImplementationRegistry::getDOMImplementation(u"")->createLSSerializer();
  XMLCh* text = writer->writeToString(node);
  const std::string result = utf8(U(text));
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

std::string parseError(std::string_view xml) { return Parsed(xml).doc.error.what(); }

TEST(XmlMarkup, IsUpperCasedInTheCallersStringUpToANul) {
  for (const auto& [in, out] :
       {std::pair{"<?xml version=\"1.0\"?><r a=\"v\">Text<!-- n --><![CDATA[d]]></r>",
                  "<?xml version=\"1.0\"?><R A=\"V\">Text<!-- N --><![CDATA[D]]></R>"},
        // A '>' inside an attribute value ends the upper-casing early.
        {"<r a=\"x>y\" b=\"z\">t</r>", "<R A=\"X>y\" b=\"z\">t</R>"},
        {"<stra\xc3\x9f\xc3\xa9>gr\xc3\xbc\xc3\x9f</stra\xc3\x9f\xc3\xa9>",
         "<STRA\xc3\x9f\xc3\x89>gr\xc3\xbc\xc3\x9f</STRA\xc3\x9f\xc3\x89>"}}) {
    EXPECT_EQ(utf8(Parsed(in).source), out);
  }
  U text = U(u"<a/>").append(u'\0').append(u"<b/>");
  CXmlDocument doc(text);
  EXPECT_EQ(text, U(u"<A/>").append(u'\0').append(u"<b/>"));
  EXPECT_NE(doc.findNode(u"A", nullptr, false), nullptr);
  EXPECT_EQ(doc.findNode(U(u"A\0B", 3), nullptr, false), nullptr);
}

struct LookupCase {
  const char *xml, *start;  // start: found first from the root (deep), or nullptr for no start node
  const char16_t* tag;
  bool deep;
  const char* expected;  // the default is "dflt"
};

const LookupCase kLookups[] = {
    // Markup is upper-cased, character data is not.
    {"<r><v>Zo\xc3\xab \xf0\x9f\x98\x80</v></r>", nullptr, u"V", true, "Zo\xc3\xab \xf0\x9f\x98\x80"},
    {"<r><v>x</v></r>", nullptr, u"v", true, "dflt"},
    // A direct child beats a deeper match under an earlier sibling, at every level.
    {"<R><A><C>1</C></A><C>2</C></R>", nullptr, u"C", true, "2"},
    {"<R><A><B><C>1</C></B></A><D><C>2</C></D></R>", nullptr, u"C", true, "1"},
    {"<R><A><C>1</C></A></R>", nullptr, u"C", false, "dflt"},
    {"<R><A><C>1</C></A><B><C>2</C></B></R>", "B", u"C", false, "2"},
    {"<R><A>1</A></R>", "A", u"A", true, "dflt"},  // the start node itself is not matched
    {"<R><A> a </A>b<B>c</B></R>", nullptr, u"R", false, " a bc"},
    {"<R><A></A></R>", nullptr, u"A", true, "dflt"},
    {"<R><A><!--c--><![CDATA[q]]>t</A></R>", nullptr, u"A", true, "Qt"},
    // The declaration is markup too, so the replacement text comes out upper-cased.
    {"<!DOCTYPE R [<!ENTITY E \"ent\">]><R><A>&E;!</A></R>", nullptr, u"A", true, "ENT!"}};

class XmlLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(XmlLookup, GetValue) {
  const LookupCase& c = GetParam();
  Parsed p(c.xml);
  xercesc::DOMNode* start = c.start == nullptr ? nullptr : p.doc.findNode(UCString(c.start), nullptr, true);
  EXPECT_EQ(utf8(p.doc.getValue(start, U(c.tag), u"dflt", c.deep)), c.expected)
      << c.xml << " from " << (c.start ? c.start : "-") << " for " << utf8(c.tag) << (c.deep ? " deep" : "");
}

INSTANTIATE_TEST_SUITE_P(Rules, XmlLookup, testing::ValuesIn(kLookups));

// Each document, written on its own, must read as the library's serializer writes it; the wrapped
// shortcut must read as copying them into a fresh wrapper and writing that.
class XmlWriter : public testing::TestWithParam<std::vector<const char*>> {};

TEST_P(XmlWriter, AgreesWithDomLsSerializerAndWrappedWithACopy) {
  std::deque<Parsed> parts;
  const xercesc::DOMNode* roots[3] = {};
  Parsed wrapper("<ATTRS_TO_SCORE></ATTRS_TO_SCORE>");
  for (const char* text : GetParam()) {
    xercesc::DOMNode* root = parts.emplace_back(text).doc.getRoot();
    roots[parts.size() - 1] = root;
    if (root == nullptr) continue;
    EXPECT_EQ(written(parts.back().doc), libraryText(root)) << text;
    U alone;  // counted as written, so the wrapped document is sized once
    if (writeXmlNode(root, alone, true)) {
      EXPECT_EQ(xmlNodeLength(root, true), alone.length()) << text;
    }
    appendCopy(wrapper.doc.getRoot(), root);
  }
  U out(u"old");
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
        std::vector<const char*>{"<?xml version=\"1.1\"?><S a=\"&#133;\">&#127;&#x85;&#13;</S>"},
        std::vector<const char*>{"<R a='&#60;v'>&amp;t</R>"}));

TEST(XmlDocument, CopyWithinOneDocumentClones) {
  Parsed p("<R><A>1</A><B/></R>");
  appendCopy(p.doc.findNode(u"B", nullptr, false), p.doc.findNode(u"A", nullptr, false));
  EXPECT_EQ(written(p.doc), "<R><A>1</A><B><A>1</A></B></R>");
}

// Bad input of every shape is recorded (the parser's text in two entries), never thrown; nothing is
// written for it.
class XmlBadInput : public testing::TestWithParam<const char16_t*> {};

TEST_P(XmlBadInput, IsRecordedAsParseFailure) {
  U text(GetParam());
  CXmlDocument doc(text);
  const std::string message = doc.error.what();
  EXPECT_TRUE(message.starts_with("XML Parse failed:")) << message;
  EXPECT_EQ(doc.error.entryCount(), 2) << message;
  EXPECT_EQ(doc.getRoot(), nullptr);
  U out(u"kept");
  doc.toXml(nullptr, out);
  EXPECT_EQ(out, u"kept");
}

// The tree builder, not the scanner, refuses the unknown version.
INSTANTIATE_TEST_SUITE_P(Shapes, XmlBadInput,
                         testing::Values(u"", u"<R>\xD800</R>", u"<R/><S/>", u"<R>&undefined;</R>",
                                         u"<?xml version=\"1.5\"?><R/>"));

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

std::string repeat(std::string_view part, int times) {
  std::string out;
  while (times-- > 0) out += part;
  return out;
}

std::string nested(int depth) { return repeat("<N>", depth) + "deep" + repeat("</N>", depth); }

// Documents come from the host: no external entity may make the process read a file or open a connection,
// and expansion and nesting are capped well above ordinary use. Each document with the start of the error
// it must give, or "" when it must parse.
TEST(XmlLimits, NothingExternalIsLoadedExpansionAndNestingAreCapped) {
  std::string laughs = "<!DOCTYPE R [<!ENTITY L0 \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    laughs +=
        "<!ENTITY L" + std::to_string(i) + " \"" + repeat("&L" + std::to_string(i - 1) + ";", 10) + "\">";
  }
  std::string defaults = "<!DOCTYPE R [<!ATTLIST A";
  for (int i = 0; i < 100; ++i) defaults += " D" + std::to_string(i) + " CDATA \"\"";
  defaults += ">";
  const std::string external = "XML Parse failed:external entity is not loaded: ";
  const std::pair<std::string, std::string> cases[] = {
      {"<R><A>1</B></R>", "XML Parse failed:expected end of tag 'A'"},
      {"<!DOCTYPE R [<!ENTITY X SYSTEM \"file:///etc/passwd\">]><R>&X;</R>", external},
      {"<!DOCTYPE R [<!ENTITY X SYSTEM \"http://127.0.0.1:9/E\">]><R>&X;</R>", external},
      {"<!DOCTYPE R [<!ENTITY % P SYSTEM \"http://127.0.0.1:9/P\"> %P;]><R>x</R>", external},
      {"<!DOCTYPE R SYSTEM \"http://127.0.0.1:9/D\"><R/>", ""},  // an external DTD is skipped
      {laughs + "]><R>&L9;</R>", "XML Parse failed:"},
      // Predefined entities and character references are free.
      {"<!DOCTYPE R [<!ENTITY E \"e\">]><R>" + repeat("&amp;&#60;", 5000) +
           repeat("&E;", kXmlMaxEntityExpansions / 2) + "</R>",
       ""},
      {nested(kXmlMaxDepth), ""},
      {nested(kXmlMaxDepth + 1), "XML Parse failed:element nesting is deeper than 1024 levels"},
      // Empty elements close themselves: many siblings never count as depth, nor does a refused document.
      {"<R>" + repeat("<E/><F></F>", 5000) + "</R>", ""},
      // A hundred attribute defaults for each of 5000 elements: no entity, yet far past the cap.
      {defaults + "]><R>" + repeat("<A/>", 5000) + "</R>", "XML Parse failed:the document needs more than "}};
  for (const auto& [xml, error] : cases) {
    const std::string what = parseError(xml);
    EXPECT_TRUE(error.empty() ? what.empty() : what.starts_with(error))
        << xml.substr(0, 70) << "...: " << what;
  }
}

// Each thread parses with parsers of its own, failed documents among them, and copies between documents.
TEST(XmlThreads, EightThreadsParseCopyAndWrite) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const std::string v = std::to_string(t * 1000 + i);
        Parsed wrapper("<W/>"), record("<a n='" + v + "'>" + v + "</a>"), broken("<B><V>");
        appendCopy(wrapper.doc.getRoot(), record.doc.getRoot());
        if (broken.doc.parsed() || written(wrapper.doc) != "<W><A N=\"" + v + "\">" + v + "</A></W>") ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace hcs
