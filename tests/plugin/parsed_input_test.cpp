// The per-thread parse cache keeps only what is small in memory: a few kilobytes of input may expand to
// megabytes of tree, which must not stay with the thread.
#include "plugin/parsed_input.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace hcs {
namespace {

const CXmlDocument& parse(ParsedInput& cache, const std::string& text,
                          std::unique_ptr<CXmlDocument>& uncached) {
  return cache.get(text.data(), static_cast<int32_t>(text.size()), uncached);
}

TEST(ParsedInput, KeepsSmallDocumentsAndParsesExpandingOnesEachTime) {
  ParsedInput cache(u"ATTR1>");
  const std::string small = "<ATTRIBUTE><ATTR_TYPE_ID>7</ATTR_TYPE_ID></ATTRIBUTE>";
  std::string references;
  for (int i = 0; i < 200; ++i) references += "&E;";
  // Some 5 KB of input, 1.6 MB of tree.
  const std::string expanding = "<!DOCTYPE ATTRIBUTE [<!ENTITY E \"" + std::string(4096, 'x') +
                                "\">]><ATTRIBUTE>" + references + "</ATTRIBUTE>";

  std::unique_ptr<CXmlDocument> uncached;
  const CXmlDocument* kept = &parse(cache, small, uncached);
  EXPECT_EQ(uncached, nullptr);
  EXPECT_EQ(&parse(cache, small, uncached), kept);

  const CXmlDocument& large = parse(cache, expanding, uncached);
  ASSERT_NE(uncached, nullptr);
  EXPECT_EQ(&large, uncached.get());
  EXPECT_TRUE(large.parsed());
  EXPECT_GT(large.heldBytes(), 200 * 4096 * 2);
  uncached.reset();

  EXPECT_EQ(&parse(cache, small, uncached), kept);  // still the one kept
  EXPECT_EQ(uncached, nullptr);
}

}  // namespace
}  // namespace hcs
