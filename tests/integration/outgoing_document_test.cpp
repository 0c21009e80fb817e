// The document score posts stands on its own whatever the records hold, or nothing is posted and the
// error names the record.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "plugin/callout_registry.h"
#include "plugin/score.h"
#include "support/http_test_server.h"
#include "transport/callout.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

struct OutgoingCase {
  int32_t key;
  std::string request;
  std::string dtd;     // before the inbound record
  std::string value;   // of the inbound record
  std::string posted;  // the body without its line feed; or the start of the error text
};

std::string repeat(const std::string& text, int times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

// Entity E0 holds `leaf`, E1 ten references to E0, and so on; the internal subset is left open.
std::string entities(const std::string& leaf, int levels) {
  std::string dtd = "<!DOCTYPE ATTRIBUTE [<!ENTITY E0 \"" + leaf + "\">";
  for (int i = 1; i <= levels; ++i)
    dtd += "<!ENTITY E" + std::to_string(i) + " \"" + repeat("&E" + std::to_string(i - 1) + ";", 10) + "\">";
  return dtd;
}

class OutgoingDocument : public ::testing::TestWithParam<OutgoingCase> {};

TEST_P(OutgoingDocument, StandsOnItsOwnOrIsNotSent) {
  const OutgoingCase& c = GetParam();
  test::HttpTestServer server;
  server.setDefault(test::HttpTestAnswer::ok("<SCORE>1</SCORE>"));
  calloutRegistry().insert(
      c.key, std::make_unique<Callout>(CUri(UCString(server.uri("/s"))), CalloutSettings::defaults(5000)));
  const std::string type = "<ATTR_TYPE_ID>" + std::to_string(c.key) + "</ATTR_TYPE_ID>";
  const std::string inbound = c.dtd + "<ATTRIBUTE>" + type + "<V>" + c.value + "</V></ATTRIBUTE>";
  const std::string matched = "<ATTRIBUTE>" + type + "</ATTRIBUTE>";
  std::string result(4097, '\x7f');
  const int32_t status = scoreRequest(c.request.data(), static_cast<int32_t>(c.request.size()),
                                      inbound.data(), static_cast<int32_t>(inbound.size()), matched.data(),
                                      static_cast<int32_t>(matched.size()), result.data(), 4096);
  if (c.posted.starts_with("<")) {
    EXPECT_EQ(status, 0) << result.c_str();
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].body, c.posted + "\n");
  } else {
    EXPECT_EQ(status, -1);
    EXPECT_EQ(std::string(result.c_str()).find("<SCORE_RESULT><ERROR>" + c.posted), 0u) << result.c_str();
    EXPECT_EQ(server.requestCount(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutgoingDocument,
    ::testing::Values(
        OutgoingCase{
            14200, "<?xml version=\"1.1\"?><REQ>&#x85;</REQ>",
            "<!DOCTYPE ATTRIBUTE [<!ENTITY E \"EXPANDED\"><!ENTITY M \"<B>&E;</B>\">]>", "&E;/&M;",
            "<ATTRS_TO_SCORE><REQ>\xC2\x85</REQ><ATTR1><ATTR_TYPE_ID>14200</ATTR_TYPE_ID><V>EXPANDED/<B>"
            "EXPANDED</B></V></ATTR1><ATTR2><ATTR_TYPE_ID>14200</ATTR_TYPE_ID></ATTR2></ATTRS_TO_SCORE>"},
        // Another declared encoding and an instruction: the parser's way, the text is already Unicode.
        OutgoingCase{
            14204, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><REQ>\xC3\xA9</REQ>", "", "<?pi x?>&#233;",
            "<ATTRS_TO_SCORE><REQ>\xC3\xA9</REQ><ATTR1><ATTR_TYPE_ID>14204</ATTR_TYPE_ID><V><?pi x?>"
            "\xC3\xA9</V></ATTR1><ATTR2><ATTR_TYPE_ID>14204</ATTR_TYPE_ID></ATTR2></ATTRS_TO_SCORE>"},
        OutgoingCase{
            14201, "<REQ/>", "<?xml version=\"1.1\"?>", "&#x1;",
            "inbound document holds characters only XML 1.1 allows, which the XML 1.0 document sent to "
            "the service cannot carry"},
        // Within the count cap: one 200 KB entity referenced 990 times, some 400 MB once expanded.
        OutgoingCase{14202, "<REQ/>", entities(std::string(200 * 1024, 'B'), 0) + "]>", repeat("&E0;", 990),
                     "inbound document is not well-formed XML: XML Parse failed:entity references expand the "
                     "document beyond "},
        // A million expansions in an attribute default, which Xerces itself does not count.
        OutgoingCase{
            14203, "<REQ/>", entities("LOL", 6) + "<!ATTLIST ATTR1 A CDATA \"&E6;\">]>", "",
            "inbound document is not well-formed XML: XML Parse failed:entity references are expanded "
            "more than 1000 times"}));

}  // namespace
}  // namespace hcs
