#include "plugin/host_buffer.h"

#include <gtest/gtest.h>

namespace hcs {
namespace {

struct CapCase {
  const char* name;
  size_t capacity;
  std::string inner;
  std::string expected;
};

class WriteCapped : public ::testing::TestWithParam<CapCase> {};

TEST_P(WriteCapped, KeepsTheWrapperWholeAndCutsTheInnerText) {
  const auto& p = GetParam();
  std::string buffer(p.capacity + 8, '#');  // guard bytes past the capacity must stay untouched
  writeCapped(buffer.data(), p.capacity, "<E>", p.inner, "</E>");
  const std::string written(buffer.c_str());
  EXPECT_EQ(written, p.expected);
  EXPECT_LE(written.size() + 1, p.capacity);
  EXPECT_EQ(buffer.substr(p.capacity), std::string(8, '#'));
}

INSTANTIATE_TEST_SUITE_P(
    Table, WriteCapped,
    ::testing::Values(CapCase{"fits", 64, "text", "<E>text</E>"},
                      CapCase{"exactly_fits", 12, "text", "<E>text</E>"},
                      CapCase{"one_short", 11, "text", "<E>tex</E>"},
                      CapCase{"only_wrapper", 8, "text", "<E></E>"},
                      CapCase{"wrapper_cut", 5, "text", "<E>t"},
                      CapCase{"utf8_not_split", 10, "a\xc3\xa9", "<E>a</E>"},
                      CapCase{"utf8_whole", 11, "a\xc3\xa9", "<E>a\xc3\xa9</E>"},
                      CapCase{"capacity_one", 1, "text", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WriteCapped, NullBufferOrZeroCapacityWritesNothing) {
  writeCapped(nullptr, 100, "<E>", "x", "</E>");
  char c = '#';
  writeCapped(&c, 0, "<E>", "x", "</E>");
  EXPECT_EQ(c, '#');
}

TEST(WriteScoreError, FitsInMaxResultSizePlusOne) {
  std::string buffer(64, '#');
  writeScoreError(buffer.data(), 50, std::string(100, 'x'));
  const std::string written(buffer.c_str());
  EXPECT_EQ(written.size(), 50u);
  EXPECT_EQ(written.substr(0, 21), "<SCORE_RESULT><ERROR>");
  EXPECT_EQ(written.substr(written.size() - 23), "</ERROR></SCORE_RESULT>");
}

}  // namespace
}  // namespace hcs
