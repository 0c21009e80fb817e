#include "host/pairs.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/plugin_library.h"

namespace hcs::host {
namespace {

TEST(ReadPairs, SkipsCommentsAndBlankLinesAndKeepsEmptyValues) {
  std::istringstream in(
      "# comment\n"
      "\n"
      "NAME\tAnn Lee\tAnne Lee\r\n"
      "PHONE\t555 0100\t\n"
      "NAME\t\t#x\n");
  std::vector<AttributePair> pairs;
  std::string error;
  ASSERT_TRUE(readPairs(in, pairs, error)) << error;
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0].line, 3);
  EXPECT_EQ(pairs[0].matched, "Anne Lee");  // CR dropped
  EXPECT_EQ(pairs[1].type, "PHONE");
  EXPECT_EQ(pairs[1].matched, "");
  EXPECT_EQ(pairs[2].inbound, "");
  EXPECT_EQ(pairs[2].matched, "#x");
}

TEST(ReadPairs, NamesTheFirstBadLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"NAME\ta\tb\nNAME a b\n", "line 2: expected three tab-separated fields (type, inbound, matched)"},
      {"NAME\ta\tb\tc\n", "line 1: expected three tab-separated fields (type, inbound, matched)"},
      {"NAME\ta\n", "line 1: expected three tab-separated fields (type, inbound, matched)"},
      {"\ta\tb\n", "line 1: the attribute type is empty"},
  };
  for (const auto& [text, expected] : cases) {
    std::istringstream in(text);
    std::vector<AttributePair> pairs;
    std::string error;
    EXPECT_FALSE(readPairs(in, pairs, error)) << text;
    EXPECT_EQ(error, expected) << text;
  }
}

TEST(HostDocuments, EscapeValues) {
  EXPECT_EQ(attributeRecord(7, "A&B <x>"),
            "<ATTRIBUTE><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>A&amp;B &lt;x&gt;</VALUE></ATTRIBUTE>");
  EXPECT_EQ(initDocument("a&b.ini", "", "NAME", 1),
            "<INIT><CONFIG_FILE>a&amp;b.ini</CONFIG_FILE><NODE_NAME></NODE_NAME><ATTR_TYPE>NAME</ATTR_TYPE>"
            "<ATTR_TYPE_ID>1</ATTR_TYPE_ID></INIT>");
  EXPECT_EQ(initDocument("a.ini", "N", "T", 2, "pg://u:p&q@h/db"),
            "<INIT><DB_CONNECTION>pg://u:p&amp;q@h/db</DB_CONNECTION><CONFIG_FILE>a.ini</CONFIG_FILE>"
            "<NODE_NAME>N</NODE_NAME><ATTR_TYPE>T</ATTR_TYPE><ATTR_TYPE_ID>2</ATTR_TYPE_ID></INIT>");
}

TEST(PluginLibrary, LoadsThePluginLikeAHost) {
  std::string error;
  const auto plugin = PluginLibrary::open(HCS_PLUGIN_PATH, error);
  ASSERT_NE(plugin, nullptr) << error;
  EXPECT_STREQ(plugin->getVersion(), "1.0");
  EXPECT_EQ(PluginLibrary::open("/nonexistent/libnothing.so", error), nullptr);
  EXPECT_NE(error.find("libnothing.so"), std::string::npos) << error;
}

}  // namespace
}  // namespace hcs::host
