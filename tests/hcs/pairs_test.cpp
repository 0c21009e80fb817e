#include "host/pairs.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "host/plugin_library.h"

namespace hcs::host {
namespace {

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
  const std::string fields = ": expected three tab-separated fields (type, inbound, matched)";
  const std::pair<std::string, std::string> cases[] = {
      {"# comment\n\nNAME\tAnn Lee\tAnne Lee\r\nPHONE\t\t#x\n",
       "3:NAME|Ann Lee|Anne Lee;4:PHONE||#x;"},  // CR dropped
      {"NAME\ta\tb\nNAME\ta\n", "line 2" + fields},
      {"NAME\ta\tb\tc\n", "line 1" + fields},
      {"\ta\tb\n", "line 1: the attribute type is empty"}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(pairs(text), expected) << text;
}

TEST(HostDocuments, EscapeValues) {
  EXPECT_EQ(attributeRecord(7, "A&B <x>"),
            "<ATTRIBUTE><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>A&amp;B &lt;x&gt;</VALUE></ATTRIBUTE>");
  const std::string init = initDocument("a&b.ini", "N", "T", 2, "pg://u:p&q@h/db");
  EXPECT_TRUE(
      init.starts_with("<INIT><DB_CONNECTION>pg://u:p&amp;q@h/db</DB_CONNECTION><CONFIG_FILE>a&amp;b.ini<"))
      << init;
}

TEST(PluginLibrary, FailureToLoadNamesTheLibrary) {
  std::string error;
  EXPECT_EQ(PluginLibrary::open("/nonexistent/libnothing.so", error), nullptr);
  EXPECT_NE(error.find("libnothing.so"), std::string::npos) << error;
}

}  // namespace
}  // namespace hcs::host
