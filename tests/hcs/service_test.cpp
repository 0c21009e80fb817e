// The reference scoring service: its reader of the plugin's document, its similarity, its HTTP server.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unicode/unistr.h>

#include <string>
#include <thread>
#include <tuple>

#include "service/score_document.h"
#include "service/score_server.h"
#include "service/similarity.h"

namespace hcs::service {
namespace {

std::string utf8(const std::u32string& text) {
  std::string out;
  icu::UnicodeString::fromUTF32(reinterpret_cast<const UChar32*>(text.data()),
                                static_cast<int32_t>(text.size()))
      .toUTF8String(out);
  return out;
}

// "attr1|attr2" as read, or the reason the document is refused.
std::string read(const std::string& document) {
  ScoreInput input;
  std::string error;
  return readScoreDocument(document, input, error) ? utf8(input.attr1) + "|" + utf8(input.attr2) : error;
}

std::string doc(const std::string& attr1, const std::string& attr2, const std::string& request = "<REQ/>") {
  return "<ATTRS_TO_SCORE>" + request + "<ATTR1>" + attr1 + "</ATTR1><ATTR2>" + attr2 +
         "</ATTR2></ATTRS_TO_SCORE>";
}

std::string nested(int depth) {
  std::string out;
  while (depth-- > 0) out += "<E>";
  return out;
}

TEST(ReadScoreDocument, ExtractsNormalisedTextOrNamesTheFault) {
  const std::pair<std::string, std::string> cases[] = {
      {"<ATTRS_TO_SCORE><REQ><ID>1</ID></REQ><ATTR1><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Ann</VALUE></ATTR1>"
       "<ATTR2><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Anne</VALUE></ATTR2></ATTRS_TO_SCORE>\n",
       "ann|anne"},
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- x -->" + doc("<?pi x?>A<!--<B>-->b", "c"), "ab|c"},
      {doc("<F>Ann</F><L>Lee</L>", "<F>Ann</F>\t\r\n <L> Lee\u00A0</L>"), "ann lee|ann lee"},
      {doc("<X><ATTR_TYPE_ID><N>7</N></ATTR_TYPE_ID>v</X>", "v"), "v|v"},
      {doc("<V A=\"x>/\" B='>'>Ann</V>", "<V C=\"1\"/>Ann"), "ann|ann"},
      {doc("&lt;a&gt; &amp; &quot;&apos; &#65;&#x42;", "<![CDATA[<a> &amp;]]>"), "<a> & \"' ab|<a> &amp;"},
      {doc("STRASSE ÉCOLE", "Straße école"), "strasse école|straße école"},
      {"<ATTRS_TO_SCORE><ATTR2>b</ATTR2><ATTR1/></ATTRS_TO_SCORE>", "|b"},
      {doc("a", "b", "<REQ><ATTR1>zzz</ATTR1></REQ>"), "a|b"},
      {"", "no root element"},
      {"<SCORE/>", "the root element is <SCORE>, not <ATTRS_TO_SCORE>"},
      {"<ATTRS_TO_SCORE/>", "ATTR1 is missing"},
      {"<ATTRS_TO_SCORE><ATTR1/></ATTRS_TO_SCORE>", "ATTR2 is missing"},
      {doc("a", "b").insert(16, "<ATTR1/>"), "ATTR1 appears twice"},
      {doc("<V>a</W>", "b"), "</W> closes <V>"},
      {"<ATTRS_TO_SCORE><ATTR1>a</ATTR1><ATTR2>b", "the document ends inside <ATTR2>"},
      {doc("a", "b") + "x", "text after the root element"},
      {doc("a", "b") + "<ATTRS_TO_SCORE/>", "more than one root element"},
      {"<!DOCTYPE x [<!ENTITY e 'boom'>]>" + doc("&e;", "b"), "document type declarations are not accepted"},
      {doc("&e;", "b"), "an unknown entity &e;"},
      {doc("&#xD800;", "b"), "a character reference out of range"},
      {doc("a & b", "b"), "a malformed character reference"},
      {doc("\xC3\x28", "b"), "the document is not UTF-8"},
      {"<ATTRS_TO_SCORE><ATTR1", "an unterminated <ATTR1> tag"},
      {"<ATTRS_TO_SCORE><ATTR1 A=\"x>", "an unterminated attribute value"},
      {doc("a < b", "b"), "a '<' that starts no tag"},
      {doc(nested(70), "b"), "elements nested too deeply"}};
  for (const auto& [document, expected] : cases) EXPECT_EQ(read(document), expected) << document;
}

TEST(JaroWinkler, MatchesPublishedValuesBothWays) {
  const std::tuple<std::u32string, std::u32string, double> cases[] = {
      {U"martha", U"marhta", 0.9611},  // one transposition, prefix bonus
      {U"ab", U"ba", 0.0},             // matches must lie within the window
      {U"", U"", 1.0},
      {U"a", U"", 0.0},
      {U"zoë", U"zoe", 0.8222},                   // code points, not bytes
      {U"\U0001F600x", U"\U0001F600y", 0.6667}};  // under 0.7: no prefix bonus
  for (const auto& [a, b, expected] : cases) {
    EXPECT_NEAR(jaroWinkler(a, b), expected, 5e-5) << utf8(a) << " " << utf8(b);
    EXPECT_NEAR(jaroWinkler(b, a), expected, 5e-5) << utf8(b) << " " << utf8(a);
  }
  std::u32string longer(300, U'a');  // long texts take the heap path
  longer[150] = U'b';
  const double jaro = (299.0 / 300 + 299.0 / 300 + 1.0) / 3;
  EXPECT_NEAR(jaroWinkler(std::u32string(300, U'a'), longer), jaro + 0.4 * (1 - jaro), 1e-9);
}

// "status|body" of one exchange on `client`'s kept connection, "" when it failed.
std::string roundTrip(httplib::Client& client, const std::string& body, bool post = true) {
  const httplib::Result result = post ? client.Post("/score", body, "text/xml") : client.Get("/score");
  return result ? std::to_string(result->status) + "|" + result->body : "";
}

TEST(ScoreServerThreads, AnswersEachConnectionWhileAnotherStaysOpen) {
  ScoreServer::Options options;
  options.threads = 4;
  ScoreServer server(options);
  const int port = server.bind("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  bool ran = false;
  std::thread runner([&] { ran = server.run(); });
  {  // the clients close their connections before the server stops
    httplib::Client first("127.0.0.1", port), second("127.0.0.1", port);
    first.set_keep_alive(true);
    second.set_keep_alive(true);
    EXPECT_EQ(roundTrip(first, doc("<VALUE>Ann</VALUE>", "<VALUE>Anne</VALUE>")),
              "200|<SCORE_RESULT><SCORE>0.9417</SCORE></SCORE_RESULT>");
    // The first connection stays open and idle while the second is served.
    EXPECT_EQ(roundTrip(second, doc("&bad;", "b")),
              "400|<SCORE_RESULT><ERROR>an unknown entity &amp;bad;</ERROR></SCORE_RESULT>");
    EXPECT_EQ(roundTrip(first, "", false),
              "405|<SCORE_RESULT><ERROR>only POST is served</ERROR></SCORE_RESULT>");
  }
  EXPECT_EQ(server.answered(), 2u);
  server.stop();
  runner.join();  // a hang here means stop() did not end run()
  EXPECT_TRUE(ran);
}

TEST(ScoreServerThreads, StopBeforeRunReturnsAtOnce) {
  ScoreServer server;
  ASSERT_GT(server.bind("127.0.0.1", 0), 0);
  server.stop();
  EXPECT_TRUE(server.run());
}

}  // namespace
}  // namespace hcs::service
