#include "service/score_document.h"

#include <string>

#include <gtest/gtest.h>
#include <unicode/unistr.h>

namespace hcs::service {
namespace {

std::string utf8(const std::u32string& text) {
  std::string out;
  icu::UnicodeString::fromUTF32(reinterpret_cast<const UChar32*>(text.data()),
                                static_cast<int32_t>(text.size()))
      .toUTF8String(out);
  return out;
}

std::string doc(const std::string& attr1, const std::string& attr2, const std::string& request = "<REQ/>") {
  return "<ATTRS_TO_SCORE>" + request + "<ATTR1>" + attr1 + "</ATTR1><ATTR2>" + attr2 +
         "</ATTR2></ATTRS_TO_SCORE>";
}

struct ReadCase {
  const char* label;
  std::string document;
  const char* attr1;
  const char* attr2;
};

class ReadsDocument : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadsDocument, ExtractsNormalisedText) {
  const ReadCase& c = GetParam();
  ScoreInput input;
  std::string error;
  ASSERT_TRUE(readScoreDocument(c.document, input, error)) << error;
  EXPECT_EQ(utf8(input.attr1), c.attr1);
  EXPECT_EQ(utf8(input.attr2), c.attr2);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadsDocument,
    ::testing::Values(
        ReadCase{"PluginShape",
                 "<ATTRS_TO_SCORE><REQ><ID>1</ID></REQ>"
                 "<ATTR1><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Ann</VALUE></ATTR1>"
                 "<ATTR2><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Anne</VALUE></ATTR2></ATTRS_TO_SCORE>\n",
                 "ann", "anne"},
        ReadCase{"DeclarationCommentsAndPi",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- x -->" + doc("<?pi x?>A<!--<B>-->b", "c"),
                 "ab", "c"},
        ReadCase{"ElementsKeptApart", doc("<F>Ann</F><L>Lee</L>", "<F>Ann</F>\n  <L> Lee </L>"), "ann lee",
                 "ann lee"},
        ReadCase{"WhiteSpaceCollapsed", doc("  Mary \t\r\n Ann  ", "MARY\u00A0ANN"), "mary ann", "mary ann"},
        ReadCase{"NestedTypeIdLeftOut", doc("<X><ATTR_TYPE_ID><N>7</N></ATTR_TYPE_ID>v</X>", "v"), "v", "v"},
        ReadCase{"AttributesWithMarkupInQuotes", doc("<V A=\"x>/\" B='>'>Ann</V>", "<V C=\"1\"/>Ann"), "ann",
                 "ann"},
        ReadCase{"References", doc("&lt;a&gt; &amp; &quot;&apos; &#65;&#x42;", "<![CDATA[<a> &amp;]]>"),
                 "<a> & \"' ab", "<a> &amp;"},
        ReadCase{"CaseFoldingBeyondAscii", doc("STRASSE ÉCOLE", "Straße école"), "strasse école",
                 "straße école"},
        ReadCase{"EmptyRecords", doc("", "<ATTR_TYPE_ID>7</ATTR_TYPE_ID>"), "", ""},
        ReadCase{"SelfClosingAttributes", "<ATTRS_TO_SCORE><ATTR2>b</ATTR2><ATTR1/></ATTRS_TO_SCORE>", "",
                 "b"},
        ReadCase{"Attr1DeeperIsNotTheRecord", doc("a", "b", "<REQ><ATTR1>zzz</ATTR1></REQ>"), "a", "b"}),
    [](const auto& info) { return std::string(info.param.label); });

std::string nested(int depth) {
  std::string out;
  for (int i = 0; i < depth; ++i) out += "<E>";
  return out;
}

struct RejectCase {
  const char* label;
  std::string document;
  const char* reason;
};

class RejectsDocument : public ::testing::TestWithParam<RejectCase> {};

TEST_P(RejectsDocument, WithAReason) {
  const RejectCase& c = GetParam();
  ScoreInput input;
  std::string error;
  EXPECT_FALSE(readScoreDocument(c.document, input, error));
  EXPECT_EQ(error, c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RejectsDocument,
    ::testing::Values(
        RejectCase{"Empty", "", "no root element"},
        RejectCase{"WrongRoot", "<SCORE/>", "the root element is <SCORE>, not <ATTRS_TO_SCORE>"},
        RejectCase{"MissingAttr2", "<ATTRS_TO_SCORE><ATTR1>a</ATTR1></ATTRS_TO_SCORE>", "ATTR2 is missing"},
        RejectCase{"Attr1Twice", doc("a", "b").insert(16, "<ATTR1/>"), "ATTR1 appears twice"},
        RejectCase{"Mismatched", doc("<V>a</W>", "b"), "</W> closes <V>"},
        RejectCase{"Unclosed", "<ATTRS_TO_SCORE><ATTR1>a</ATTR1><ATTR2>b",
                   "the document ends inside <ATTR2>"},
        RejectCase{"TextAfter", doc("a", "b") + "x", "text after the root element"},
        RejectCase{"SecondRoot", doc("a", "b") + "<ATTRS_TO_SCORE/>", "more than one root element"},
        RejectCase{"Doctype", "<!DOCTYPE x [<!ENTITY e 'boom'>]>" + doc("&e;", "b"),
                   "document type declarations are not accepted"},
        RejectCase{"UnknownEntity", doc("&e;", "b"), "an unknown entity &e;"},
        RejectCase{"BadNumericReference", doc("&#xD800;", "b"), "a character reference out of range"},
        RejectCase{"UnterminatedReference", doc("a & b", "b"), "a malformed character reference"},
        RejectCase{"InvalidUtf8", doc("\xC3\x28", "b"), "the document is not UTF-8"},
        RejectCase{"TruncatedTag", "<ATTRS_TO_SCORE><ATTR1", "an unterminated <ATTR1> tag"},
        RejectCase{"UnterminatedQuote", "<ATTRS_TO_SCORE><ATTR1 A=\"x>", "an unterminated attribute value"},
        RejectCase{"BareLessThan", doc("a < b", "b"), "a '<' that starts no tag"},
        RejectCase{"TooDeep", doc(nested(70), "b"), "elements nested too deeply"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(AnswerScoreRequest, ScoresOrExplains) {
  const ServiceAnswer good = answerScoreRequest(doc("<VALUE>Ann</VALUE>", "<VALUE>ANNE</VALUE>"));
  EXPECT_EQ(good.status, 200);
  EXPECT_EQ(good.body, "<SCORE_RESULT><SCORE>0.9417</SCORE></SCORE_RESULT>");
  const ServiceAnswer same = answerScoreRequest(doc("x", "X"));
  EXPECT_EQ(same.body, "<SCORE_RESULT><SCORE>1.0000</SCORE></SCORE_RESULT>");
  const ServiceAnswer bad = answerScoreRequest("<ATTRS_TO_SCORE><ATTR1>&bad;</ATTR1>");
  EXPECT_EQ(bad.status, 400);
  EXPECT_EQ(bad.body, "<SCORE_RESULT><ERROR>an unknown entity &amp;bad;</ERROR></SCORE_RESULT>");
}

}  // namespace
}  // namespace hcs::service
