// The document score posts: well-formed on its own whatever the records hold, or no request at all and an
// error that names the record.
#include <gtest/gtest.h>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/SAXParseException.hpp>

#include <atomic>
#include <memory>
#include <string>

#include "plugin/callout_registry.h"
#include "plugin/score.h"
#include "support/http_test_server.h"
#include "transport/http_interface.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;
using test::HttpTestServer;

// "{K}" in a record stands for the attribute type the interface is registered under.
struct OutgoingCase {
  const char* name;
  std::string request;
  std::string inbound;
  std::string matched;
  std::string body;   // as posted, without the final line feed; empty when nothing may be posted
  std::string error;  // the start of the error text when nothing is posted
};

std::string record(const std::string& content, const std::string& prolog = "") {
  return prolog + "<ATTRIBUTE><ATTR_TYPE_ID>{K}</ATTR_TYPE_ID>" + content + "</ATTRIBUTE>";
}

std::string withKey(std::string text, const std::string& key) {
  for (size_t at; (at = text.find("{K}")) != std::string::npos;) text.replace(at, 3, key);
  return text;
}

// One 200 KB entity, referenced 990 times: within the count cap, some 400 MB once expanded.
std::string hugeExpansion() {
  std::string text =
      record("<V>", "<!DOCTYPE ATTRIBUTE [<!ENTITY B \"" + std::string(200 * 1024, 'B') + "\">]>");
  text.erase(text.size() - std::string("</ATTRIBUTE>").size());
  for (int i = 0; i < 990; ++i) text += "&B;";
  return text + "</V></ATTRIBUTE>";
}

// A million expansions in an attribute default, where the parser counts none of them (three more
// levels would make it a billion).
std::string attributeDefaultExpansion() {
  std::string dtd = "<!DOCTYPE ATTRIBUTE [<!ENTITY L0 \"LOL\">";
  for (int i = 1; i <= 6; ++i) {
    dtd += "<!ENTITY L" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) dtd += "&L" + std::to_string(i - 1) + ";";
    dtd += "\">";
  }
  return record("", dtd + "<!ATTLIST ATTR1 A CDATA \"&L6;\">]>");
}

// As the service reads a body: plain XML, no DTD to help, no markup upper-cased first.
bool parsesAsPlainXml(const std::string& body) {
  xercesc::XercesDOMParser parser;
  parser.setLoadExternalDTD(false);
  xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(body.data()), body.size(), u"posted");
  try {
    parser.parse(source);
    return parser.getErrorCount() == 0;
  } catch (const xercesc::SAXParseException& e) {
    ADD_FAILURE() << toStdString(icu::UnicodeString(e.getMessage()));
    return false;
  }
}

void PrintTo(const OutgoingCase& c, std::ostream* out) { *out << c.name; }

class OutgoingDocument : public ::testing::TestWithParam<OutgoingCase> {};

TEST_P(OutgoingDocument, StandsOnItsOwnOrIsNotSent) {
  static std::atomic<int32_t> nextKey{14200};
  const std::string key = std::to_string(nextKey++);
  HttpTestServer server;
  server.setDefault(HttpTestAnswer::ok("<SCORE>1</SCORE>"));
  ASSERT_TRUE(calloutRegistry().insert(std::stoi(key),
                                       std::make_unique<OHTTP>(CUri(UCString(server.uri("/s"))), 5000, 1)));
  const OutgoingCase& c = GetParam();
  const std::string request = withKey(c.request, key);
  const std::string inbound = withKey(c.inbound, key);
  const std::string matched = withKey(c.matched, key);
  std::string result(4097, '\x7f');
  const int32_t status = scoreRequest(request.data(), static_cast<int32_t>(request.size()), inbound.data(),
                                      static_cast<int32_t>(inbound.size()), matched.data(),
                                      static_cast<int32_t>(matched.size()), result.data(), 4096);
  const auto posted = server.requests();
  if (c.body.empty()) {
    EXPECT_EQ(status, -1);
    const std::string open = "<SCORE_RESULT><ERROR>" + c.error;
    EXPECT_EQ(std::string(result.c_str()).substr(0, open.size()), open);
    EXPECT_TRUE(posted.empty());
    return;
  }
  EXPECT_EQ(status, 0) << result.c_str();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].body, withKey(c.body, key) + "\n");
  EXPECT_TRUE(parsesAsPlainXml(posted[0].body));
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutgoingDocument,
    ::testing::Values(
        OutgoingCase{
            "internal_entities_expanded", "<REQ/>",
            record("<V>&E;/&M;</V>",
                   "<!DOCTYPE ATTRIBUTE [<!ENTITY E \"EXPANDED\"><!ENTITY M \"<B>X</B>\">]>"),
            record("<V>&amp;</V>"),
            "<ATTRS_TO_SCORE><REQ/><ATTR1><ATTR_TYPE_ID>{K}</ATTR_TYPE_ID><V>EXPANDED/<B>X</B></V></ATTR1>"
            "<ATTR2><ATTR_TYPE_ID>{K}</ATTR_TYPE_ID><V>&amp;</V></ATTR2></ATTRS_TO_SCORE>",
            ""},
        OutgoingCase{"xml11_record_with_xml10_content", "<?xml version=\"1.1\"?><REQ>&#x85;</REQ>",
                     record("<V/>"), record("<V/>"),
                     "<ATTRS_TO_SCORE><REQ>\xC2\x85</REQ><ATTR1><ATTR_TYPE_ID>{K}</ATTR_TYPE_ID><V/></ATTR1>"
                     "<ATTR2><ATTR_TYPE_ID>{K}</ATTR_TYPE_ID><V/></ATTR2></ATTRS_TO_SCORE>",
                     ""},
        OutgoingCase{"xml11_control_character", "<REQ/>", record("<V>&#x1;</V>", "<?xml version=\"1.1\"?>"),
                     record("<V/>"), "",
                     "inbound document holds characters only XML 1.1 allows, which the XML 1.0 document sent "
                     "to the service cannot carry"},
        OutgoingCase{"xml11_control_character_in_an_attribute", "<?xml version=\"1.1\"?><REQ A=\"&#2;\"/>",
                     record("<V/>"), record("<V/>"), "",
                     "request document holds characters only XML 1.1 allows"},
        OutgoingCase{"expansion_past_the_memory_bound", "<REQ/>", hugeExpansion(), record("<V/>"), "",
                     "inbound document is not well-formed XML: XML Parse failed:entity references expand the "
                     "document beyond "},
        OutgoingCase{
            "expansion_in_an_attribute_default", "<REQ/>", record("<V/>"), attributeDefaultExpansion(), "",
            "matched document is not well-formed XML: XML Parse failed:entity references are expanded "
            "more than 1000 times"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hcs
