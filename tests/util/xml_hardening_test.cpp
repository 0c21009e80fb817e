#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "util/ucstring.h"
#include "util/xml_document.h"

namespace hcs {
namespace {

std::string parseError(const std::string& xml) {
  UCString text(xml);
  return CXmlDocument(text).error.what();
}

// Documents come from the host: no external entity may make the process read a file or open a connection.
TEST(XmlExternal, EntitiesAreRefusedAndAnExternalDtdIsSkipped) {
  for (const char* xml : {"<!DOCTYPE R [<!ENTITY X SYSTEM \"file:///etc/passwd\">]><R>&X;</R>",
                          "<!DOCTYPE R [<!ENTITY X SYSTEM \"/etc/passwd\">]><R>&X;</R>",
                          "<!DOCTYPE R [<!ENTITY X SYSTEM \"http://127.0.0.1:9/E\">]><R>&X;</R>",
                          "<!DOCTYPE R [<!ENTITY % P SYSTEM \"http://127.0.0.1:9/P\"> %P;]><R>x</R>"}) {
    EXPECT_EQ(parseError(xml).rfind("XML Parse failed:external entity is not loaded: ", 0), 0u) << xml;
  }
  UCString dtd("<!DOCTYPE R SYSTEM \"http://127.0.0.1:9/D\"><R><A>a</A></R>");
  CXmlDocument doc(dtd);
  EXPECT_EQ(toStdString(doc.getValue(nullptr, u"A", u"", true)), "a") << doc.error.what();
}

TEST(XmlLimits, EntityExpansionIsCappedAboveOrdinaryUse) {
  std::string xml = "<!DOCTYPE R [<!ENTITY L0 \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    xml += "<!ENTITY L" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) xml += "&L" + std::to_string(i - 1) + ";";
    xml += "\">";
  }
  EXPECT_NE(parseError(xml + "]><R>&L9;</R>"), "");

  // Predefined entities and character references are free.
  std::string ordinary = "<!DOCTYPE R [<!ENTITY E \"e\">]><R>";
  for (int i = 0; i < 5000; ++i) ordinary += "&amp;&#60;";
  for (int i = 0; i < kXmlMaxEntityExpansions / 2; ++i) ordinary += "&E;";
  UCString ordinaryText(ordinary + "</R>");
  CXmlDocument ok(ordinaryText);
  EXPECT_EQ(ok.getValue(nullptr, u"R", u"", false).length(), 10000 + kXmlMaxEntityExpansions / 2)
      << ok.error.what();
}

TEST(XmlLimits, NestingIsCappedWithAClearError) {
  auto nested = [](int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) open += "<N>", close += "</N>";
    return open + "deep" + close;
  };
  UCString atCap(nested(kXmlMaxDepth));
  CXmlDocument ok(atCap);
  icu::UnicodeString out;
  ok.toXml(nullptr, out);
  EXPECT_EQ(out, atCap) << ok.error.what();
  for (int depth : {kXmlMaxDepth + 1, 10000}) {
    EXPECT_EQ(parseError(nested(depth)), "XML Parse failed:element nesting is deeper than 1024 levels");
  }
  // Empty elements close themselves: many siblings never count as depth, nor does a refused document.
  std::string siblings = "<R>";
  for (int i = 0; i < 5000; ++i) siblings += "<E/><F></F>";
  EXPECT_EQ(parseError(siblings + "</R>"), "");
}

// Each thread parses with parsers of its own, failed documents among them, and copies between documents.
TEST(XmlThreads, EightThreadsParseCopyAndWrite) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const std::string value = std::to_string(t * 1000 + i);
        UCString wrapper("<ATTRS_TO_SCORE/>"),
            record("<attr1 n='" + value + "'><v>" + value + "</v></attr1>"), bad("<ATTR2><V>");
        CXmlDocument e(wrapper), a(record), broken(bad);
        appendCopy(e.getRoot(), a.getRoot());
        icu::UnicodeString out;
        e.toXml(nullptr, out);
        const std::string expected =
            "<ATTRS_TO_SCORE><ATTR1 N=\"" + value + "\"><V>" + value + "</V></ATTR1></ATTRS_TO_SCORE>";
        if (broken.parsed() || toStdString(out) != expected) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace hcs
