#include "error/severity.h"

#include <cstdint>

#include <gtest/gtest.h>

namespace hcs {
namespace {

struct SeverityRow {
  int32_t severity;
  const char* name;
  uint32_t recordLevel;    // mask a record logs itself at
  uint32_t sqlErrorLevel;  // mask a classified database failure is reported at
};

void PrintTo(const SeverityRow& row, std::ostream* out) { *out << "severity " << row.severity; }

class SeverityLevels : public ::testing::TestWithParam<SeverityRow> {};

// The masks are written as numbers: the levels' bits are part of what is pinned here.
TEST_P(SeverityLevels, NameAndTheLevelOfEachUse) {
  const SeverityRow& row = GetParam();
  EXPECT_STREQ(severityName(row.severity), row.name);
  EXPECT_EQ(recordLogLevel(row.severity), row.recordLevel);
  EXPECT_EQ(sqlErrorLogLevel(row.severity), row.sqlErrorLevel);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SeverityLevels,
    ::testing::Values(SeverityRow{0, "INFORMATION", 16, 16}, SeverityRow{1, "WARNING", 4, 4},
                      SeverityRow{2, "MINOR ERROR", 2, 4},  // the one disagreement
                      SeverityRow{3, "MAJOR ERROR", 2, 2}, SeverityRow{4, "CRITICAL ERROR", 1, 1},
                      SeverityRow{-1, "UNSPECIFIED", 64, 8}, SeverityRow{5, "UNSPECIFIED", 64, 8},
                      SeverityRow{INT32_MIN, "UNSPECIFIED", 64, 8}));

}  // namespace
}  // namespace hcs
