#include "plugin/parsed_input.h"

#include <string>

#include <gtest/gtest.h>

namespace hcs {
namespace {

// A few kilobytes that expand to megabytes of tree are parsed each time, not kept for the thread; a
// small record is kept, and stays kept across them.
TEST(ParsedInput, KeepsSmallDocumentsAndParsesExpandingOnesEachTime) {
  ParsedInput cache("ATTRIBUTE>", "ATTR1>");
  const std::string small = "<ATTRIBUTE><ATTR_TYPE_ID>7</ATTR_TYPE_ID></ATTRIBUTE>";
  std::string expanding = "<!DOCTYPE ATTRIBUTE [<!ENTITY E \"" + std::string(4096, 'x') + "\">]><ATTRIBUTE>";
  for (int i = 0; i < 200; ++i) expanding += "&E;";  // 1.6 MB of tree
  expanding += "</ATTRIBUTE>";
  std::unique_ptr<CXmlDocument> uncached;
  const auto get = [&](const std::string& text) -> const CXmlDocument* { return &cache.get(text, uncached); };

  const CXmlDocument* kept = get(small);
  EXPECT_EQ(uncached, nullptr);
  const CXmlDocument* large = get(expanding);
  ASSERT_EQ(large, uncached.get());
  EXPECT_GT(large->heldBytes(), 200 * 4096 * 2);
  uncached.reset();
  EXPECT_EQ(get(small), kept);
  EXPECT_EQ(uncached, nullptr);
  // Other bytes of the same length are parsed anew; no bytes at all read as empty text.
  const std::string other = "<ATTRIBUTE><ATTR_TYPE_ID>8</ATTR_TYPE_ID></ATTRIBUTE>";
  EXPECT_EQ(get(other)->getValue(nullptr, u"ATTR_TYPE_ID", u"", true), u"8");
  EXPECT_FALSE(cache.get({}, uncached).parsed());
}

}  // namespace
}  // namespace hcs
