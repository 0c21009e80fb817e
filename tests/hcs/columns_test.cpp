#include "text/columns.h"

#include <string>

#include <gtest/gtest.h>

namespace hcs::text {
namespace {

struct WidthCase {
  const char* name;
  std::string text;
  int width;           // display width of `text`
  std::string fitted;  // fitColumn(text, 8)
};

class DisplayWidth : public ::testing::TestWithParam<WidthCase> {};

TEST_P(DisplayWidth, CountsColumnsAndFitsByThem) {
  const WidthCase& c = GetParam();
  EXPECT_EQ(displayWidth(c.text), c.width);
  const std::string fitted = fitColumn(c.text, 8);
  EXPECT_EQ(fitted, c.fitted);
  EXPECT_EQ(displayWidth(fitted), 8);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DisplayWidth,
    ::testing::Values(WidthCase{"Ascii", "Ann Lee", 7, "Ann Lee "},
                      WidthCase{"Precomposed", "Zo\u00eb M\u00fcller", 10, "Zo\u00eb M..."},
                      WidthCase{"Combining", "Zoe\u0308 Mu\u0308ller", 10, "Zoe\u0308 M..."},
                      // A mark right after the last letter that fits stays with it.
                      WidthCase{"CombiningAtCut", "Abcde\u0301fghi", 9, "Abcde\u0301..."},
                      WidthCase{"CombiningFits", "Mu\u0308ller", 6, "Mu\u0308ller  "},
                      // A wide character that does not fit before "..." is left out whole.
                      WidthCase{"Wide", "\u5c71\u7530\u592a\u90ce", 8, "\u5c71\u7530\u592a\u90ce"},
                      WidthCase{"WideCut", "\u5c71\u7530\u592a\u90cex", 9, "\u5c71\u7530... "},
                      WidthCase{"Fullwidth", "\uff21\uff22", 4, "\uff21\uff22    "},
                      WidthCase{"NotUtf8", "ab\xff", 3, "ab\xff     "}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hcs::text
