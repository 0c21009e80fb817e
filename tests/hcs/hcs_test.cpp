// hcs: the host it plays, its configuration check and its reference scoring service.
#include <sstream>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "check/config_check.h"
#include "config/ini_fixture.h"
#include "error/qrm_exception.h"
#include "hcs/config_summary.h"
#include "host/metrics_capture.h"
#include "host/pairs.h"
#include "service/score_document.h"
#include "service/similarity.h"
#include "util/uri.h"

namespace hcs {
namespace {

using namespace host;
using namespace check;
using namespace service;
using test::summary;

// Every pair read as "line:type|inbound|matched;", or the error.
std::string pairs(const std::string& text) {
  std::istringstream in(text);
  std::vector<AttributePair> read;
  std::string out;
  if (!readPairs(in, read, out)) return out;
  for (const AttributePair& p : read)
    out += std::to_string(p.line) + ":" + p.type + "|" + p.inbound + "|" + p.matched + ";";
  return out;
}

TEST(ReadPairs, SkipsCommentsAndBlankLinesKeepsEmptyValuesAndNamesTheFirstBadLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"# comment\n\nNAME\tAnn Lee\tAnne Lee\r\nPHONE\t\t#x\n",
       "3:NAME|Ann Lee|Anne Lee;4:PHONE||#x;"},  // CR dropped
      {"NAME\ta\tb\nNAME\ta\n", "line 2: expected three tab-separated fields (type, inbound, matched)"},
      {"\ta\tb\n", "line 1: the attribute type is empty"}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(pairs(text), expected) << text;
}

// A password or a path may hold "&".
TEST(HostDocuments, EscapeValues) {
  const std::string init = initDocument("a&b.ini", "N", "T", 2, "pg://u:p&q@h/db");
  EXPECT_TRUE(
      init.starts_with("<INIT><DB_CONNECTION>pg://u:p&amp;q@h/db</DB_CONNECTION><CONFIG_FILE>a&amp;b.ini<"))
      << init;
}

// hcs score reads the counts from the file the plugin writes: the setting is read as the plugin reads it
// (escapes decoded, refused where the plugin refuses it and then writes no file).
TEST(MetricsCapture, FindsTheFileWhereThePluginWritesIt) {
  const std::tuple<const char*, std::string, long> cases[] = {
      {"file:///tmp/hcs%20metrics/a.prom?interval=3", "/tmp/hcs metrics/a.prom", 3},
      {"FILE://./out/a.prom", "out/a.prom", 10},
      {"file:///tmp/a.prom?interval=2&every=1", "", 0},
      {"file:///tmp/a.prom?interval=0", "", 0},
      {"/tmp/a.prom", "", 0}};
  for (const auto& [setting, path, interval] : cases) {
    const MetricsCapture capture(setting);
    EXPECT_EQ(capture.path(), path) << setting;
    if (!path.empty()) {
      EXPECT_EQ(capture.intervalSeconds(), interval) << setting;
    }
  }
}

// A misspelt setting is refused; every parameter initPlugin passes over is shown.
TEST(CheckConfig, ListsEveryCalloutWithItsVerdictAndEveryIgnoredParameter) {
  test::TempDir dir;
  const std::string path = dir.write(
      "c.ini",
      "[NODE1]\nx=1\n[attr_uri]\nPhone = http://h:8080/score?retries=x&colour=red\nname=https://h/\n"
      "EMAIL=http://h/?deadlne=300\n[OTHER]\nkey=http://ignored/\n");
  EXPECT_EQ(
      summary(checkConfig(path, "NODE1")),
      "NODE1\nEMAIL http://h/?deadlne=300 ini Unknown HTTP Callout URI parameter [deadlne=300]; did you "
      "mean deadline?\n"
      "name https://h/ ini \n"
      "Phone http://h:8080/score?retries=x&colour=red ini \n"
      "  parameter [colour=red] is not known and is ignored\n"
      "  parameter [retries=x] is not a number and is ignored\n");
  EXPECT_THROW(checkConfig(dir.file("missing.ini"), ""), QRM_Exception);
}

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

TEST(ReadScoreDocument, ExtractsNormalisedTextOrNamesTheFault) {
  std::string nested;
  for (int depth = 0; depth < 70; ++depth) nested += "<E>";
  const std::pair<std::string, std::string> cases[] = {
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
      {"<!DOCTYPE x [<!ENTITY e 'boom'>]>" + doc("&e;", "b"), "document type declarations are not accepted"},
      {doc("&#xD800;", "b"), "a character reference out of range"},
      {doc("\xC3\x28", "b"), "the document is not UTF-8"},
      {doc(nested, "b"), "elements nested too deeply"}};
  for (const auto& [document, expected] : cases) EXPECT_EQ(read(document), expected) << document;
}

// Matches lie within a window; equal texts score 1, an empty one 0; code points count, not bytes; under
// 0.7 there is no prefix bonus, above it a common prefix raises the score.
TEST(JaroWinkler, MatchesPublishedValuesBothWays) {
  const std::tuple<std::u32string, std::u32string, double> cases[] = {
      {U"ab", U"ba", 0.0},      {U"", U"", 1.0},        {U"a", U"", 0.0},
      {U"zoë", U"zoe", 0.8222}, {U"ab", U"ac", 0.6667}, {U"martha", U"marhta", 0.9611}};
  for (const auto& [a, b, expected] : cases) {
    EXPECT_NEAR(jaroWinkler(a, b), expected, 5e-5) << utf8(a) << " " << utf8(b);
    EXPECT_NEAR(jaroWinkler(b, a), expected, 5e-5) << utf8(b) << " " << utf8(a);
  }
}

}  // namespace
}  // namespace hcs
