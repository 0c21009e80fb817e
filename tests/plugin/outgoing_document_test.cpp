#include "plugin/outgoing_document.h"

#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "util/record_scanner.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

const std::string kMatched = "<ATTRIBUTE><ATTR_TYPE_ID>7</ATTR_TYPE_ID></ATTRIBUTE>";

using Built = std::pair<std::string, std::string>;  // the document and the inbound type

// The parsed build of the request "<req/>", `inbound` and kMatched; "refused" and the parse error for
// an inbound record the parser refuses.
Built parsedBuild(const std::string& inbound) {
  OutgoingBuffers buffers;
  OutgoingDocument document({"<req/>", inbound, kMatched}, buffers, OutgoingDocument::Builds::kParsedOnly);
  if (const DocumentProblem problem = document.unreadableRecord())
    return {"refused", problem.parseError->what()};
  if (document.build()) return {"refused", ""};
  return {std::string(document.utf8()), toUtf8(document.inboundType())};
}

// The scanned build of the same; nothing when the scanner leaves the records to the parser.
std::optional<Built> scannedBuild(const std::string& inbound) {
  OutgoingBuffers buffers;
  OutgoingDocument document({"<req/>", inbound, kMatched}, buffers);
  if (!document.scanned()) return std::nullopt;
  EXPECT_FALSE(document.build());
  EXPECT_EQ(document.matchedType(), u"7");
  return Built{std::string(document.utf8()), toUtf8(document.inboundType())};
}

std::string repeat(std::string_view part, int times) {
  std::string out;
  while (times-- > 0) out += part;
  return out;
}

std::string nested(int depth) { return repeat("<N>", depth) + "deep" + repeat("</N>", depth); }

// " P0='v' P1='v' ..." with `count` attributes named prefix + number, in the order the numbers sort as
// text would not give.
std::string attributes(std::string_view prefix, int count) {
  std::string out;
  for (int i = count - 1; i >= 0; --i) out += " " + std::string(prefix) + std::to_string(i) + "='v'";
  return out;
}

// The scanned build's document and type must be the parsed build's, byte for byte; what the scanner
// does not handle is left to the parser, untouched. Each case: an inbound record and whether the
// scanner handles it.
class RecordScan : public testing::TestWithParam<std::pair<std::string, bool>> {};

TEST_P(RecordScan, WritesWhatTheParserWritesOrLeavesTheRecordToIt) {
  const auto& [record, handled] = GetParam();
  std::string out = "kept";
  EXPECT_EQ(scanRecord(record, {"ATTRIBUTE>", "ATTR1>", "ATTR_TYPE_ID"}, out, nullptr), handled);
  if (!handled) {
    EXPECT_EQ(out, "kept");
  }
  const std::optional<Built> scanned = scannedBuild(record);
  ASSERT_EQ(scanned.has_value(), handled);
  if (handled) {
    EXPECT_EQ(*scanned, parsedBuild(record));
  }
}

// Both ways read a large record of plain markup alike, whatever leads it. A dense tree takes Xerces some
// 75 bytes per character, which the parser's memory cap must leave to it: only expansion is capped.
TEST(RecordScanLarge, DenseMarkupIsReadAlikeWhateverLeadsIt) {
  const std::string body =
      "<ATTRIBUTE><ATTR_TYPE_ID>7</ATTR_TYPE_ID>" + repeat("x<A/>", 200000) + "</ATTRIBUTE>";
  const std::optional<Built> scanned = scannedBuild(body);
  ASSERT_TRUE(scanned.has_value());
  for (const char* lead : {"", "<!DOCTYPE ATTRIBUTE>", "<?xml version=\"1.1\"?>", "<?pi x?>"}) {
    const auto [outgoing, type] = parsedBuild(lead + body);
    EXPECT_TRUE(outgoing == scanned->first) << lead << ": " << outgoing.substr(0, 200) << " " << type;
    EXPECT_EQ(type, "7") << lead;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordScan,
    testing::Values(
        // Attributes come out sorted and escaped, a direct child beats a deeper type, a '>' ends the
        // upper-casing inside a value, references are expanded and written as the writer does.
        std::pair{
            std::string(
                "<?xml version='1.0' encoding='utf-8' standalone='no'?>\r\n<!-- r -->"
                "<ATTRIBUTE><G z=\"1\" a='\"&#9;\t&#60;'><ATTR_TYPE_ID>8</ATTR_TYPE_ID></G>"
                "<attr_type_id><![CDATA[7]]>&#55;<!--x--></attr_type_id><v b=\"x>&amp;\">"
                "Jos\xc3\xa9 \xe2\x82\xac\xef\xbf\xbd &lt;&gt;]&#x1F600;&#13;\r\n<E></E></v></ATTRIBUTE>\n"),
            true},
        std::pair{std::string("<ATTRIBUTE><ATTR_TYPE_ID/><B><ATTR_TYPE_ID>9</ATTR_TYPE_ID></B></ATTRIBUTE>"),
                  true},
        std::pair{std::string("<attribute><A><ATTR_TYPE_ID>1<X>2</X></ATTR_TYPE_ID></A></attribute>"), true},
        std::pair{nested(kXmlMaxDepth), true}, std::pair{nested(kXmlMaxDepth + 1), false},
        // Left to the parser, which reads them.
        std::pair{std::string("<!DOCTYPE ATTRIBUTE [<!ENTITY E \"7\">]><ATTRIBUTE>&E;</ATTRIBUTE>"), false},
        std::pair{std::string("<?xml version=\"1.1\"?><ATTRIBUTE/>"), false},
        std::pair{std::string("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><ATTRIBUTE/>"), false},
        std::pair{std::string("<ATTRIBUTE><?pi x?></ATTRIBUTE>"), false},
        std::pair{std::string("<ATTRIBUTE><stra\xc3\x9f\xc3\xa9/></ATTRIBUTE>"), false},
        std::pair{std::string("<ATTRIBUTE>\xff</ATTRIBUTE>"), false},
        // Refused by both.
        std::pair{std::string("<ATTRIBUTE><A></B></ATTRIBUTE>"), false},
        std::pair{std::string("<?xml version='1.0' standalone='maybe'?><ATTRIBUTE/>"), false},
        std::pair{std::string("<ATTRIBUTE a='&quot;'/>"), false}));

// A record may use kXmlMaxNames different element and attribute names, on one element or on many, and
// repeat them freely; with one more the scanner leaves it to the parser, which refuses it. (Many
// attributes reach the tree sorted, and past 256 go to the parser's hashing scanner.)
TEST(RecordScanNames, UpToTheCapBothReadAlikePastItTheParserRefuses) {
  // Besides the numbered names, the records at the cap use ATTR1 and E.
  const auto onOneElement = [](int count) {
    return "<ATTRIBUTE><E" + attributes("A", count) + "/></ATTRIBUTE>";
  };
  const auto elements = [](int count) {
    std::string record = "<ATTRIBUTE><E/>";
    for (int i = 0; i < count; ++i) record += "<E" + std::to_string(i) + "/>";
    return record + "</ATTRIBUTE>";
  };
  for (const auto& [record, accepted] :
       {std::pair{onOneElement(kXmlMaxNames - 2), true}, std::pair{onOneElement(kXmlMaxNames - 1), false},
        std::pair{elements(kXmlMaxNames - 2), true}, std::pair{elements(kXmlMaxNames - 1), false},
        std::pair{"<ATTRIBUTE>" + repeat("<E" + attributes("A", 100) + "/>", 300) + "</ATTRIBUTE>", true},
        std::pair{"<ATTRIBUTE><F" + attributes("B", 17) + "/><E" + attributes("A", 300) + "/></ATTRIBUTE>",
                  true}}) {
    const std::optional<Built> scanned = scannedBuild(record);
    EXPECT_EQ(scanned.has_value(), accepted) << record.size();
    const auto [outgoing, detail] = parsedBuild(record);
    EXPECT_EQ(scanned.has_value() && outgoing == scanned->first, accepted) << record.size() << ": " << detail;
    if (!accepted) {
      EXPECT_EQ(detail,
                "XML Parse failed:the document uses more than 10000 different element and attribute names");
    }
  }
}

}  // namespace
}  // namespace hcs
