#include "plugin/host_buffer.h"

#include <gtest/gtest.h>

namespace hcs {
namespace {

TEST(WriteCapped, KeepsTheWrapperWholeAndCutsTheInnerTextWithinTheCapacity) {
  const struct {
    size_t capacity;
    std::string inner, expected;
  } cases[] = {{12, "text", "<E>text</E>"},
               {11, "text", "<E>tex</E>"},
               {8, "text", "<E></E>"},
               {5, "text", "<E>t"},
               {1, "text", ""},
               {10, "a\xc3\xa9", "<E>a</E>"}};
  for (const auto& c : cases) {
    std::string buffer(c.capacity + 8, '#');  // guard bytes past the capacity must stay untouched
    writeCapped(buffer.data(), c.capacity, "<E>", c.inner, "</E>");
    EXPECT_EQ(std::string(buffer.c_str()), c.expected) << c.capacity << " [" << c.inner << "]";
    EXPECT_EQ(buffer.substr(c.capacity), std::string(8, '#')) << c.capacity << " [" << c.inner << "]";
  }
  writeCapped(nullptr, 100, "<E>", "x", "</E>");
  char untouched = '#';
  writeCapped(&untouched, 0, "<E>", "x", "</E>");
  EXPECT_EQ(untouched, '#');
}

TEST(WriteScoreError, FitsInMaxResultSizePlusOne) {
  std::string buffer(64, '#');
  writeScoreError(buffer.data(), 50, std::string(100, 'x'));
  EXPECT_EQ(std::string(buffer.c_str()),
            "<SCORE_RESULT><ERROR>" + std::string(6, 'x') + "</ERROR></SCORE_RESULT>");
}

}  // namespace
}  // namespace hcs
