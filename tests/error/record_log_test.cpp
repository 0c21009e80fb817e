#include <gtest/gtest.h>

#include "error/qrm_exception.h"
#include "support/capturing_dispatcher.h"

namespace hcs {
namespace {

using Lines = std::vector<std::string>;
using U = icu::UnicodeString;

TEST(RecordLog, EntriesBlockTagsFirstEntryWithProductCodeAndPadsToFiveDigits) {
  test::CapturingDispatcher log;
  QRM_Exception e("", U(u"first text"), 3, 4);
  e.addText("", U(u"second text"), 0, kNoSeverity);
  e.addText("L2", U(u"third text"), 123456, kNoSeverity);
  e.logEntries(2, false);
  e.logEntries(2, true);
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].level, 2u);
  EXPECT_EQ(entries[0].lines,
            (Lines{"{", "  [UVO-00003]: first text", "  second text", "  [123456]: third text", "}"}));
  // With labels, every entry gets its label and one blank, even an empty label.
  EXPECT_EQ(entries[1].lines,
            (Lines{"{", "   [UVO-00003]: first text", "   second text", "  L2 [123456]: third text", "}"}));
}

struct HeadingCase {
  const char* name;
  uint32_t number;
  int32_t severity;
  int32_t level;
  uint32_t expectedMask;
  std::string expectedLine;
};

class RecordHeading : public ::testing::TestWithParam<HeadingCase> {};

TEST_P(RecordHeading, NamesTheRecordSeverityAndLogsAtTheLevelGiven) {
  const auto& p = GetParam();
  test::CapturingDispatcher log;
  QRM_Exception("", U(u"it broke"), p.number, p.severity).log(p.level, false, false);
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].level, p.expectedMask);
  EXPECT_EQ(entries[0].lines, Lines{p.expectedLine});
}

INSTANTIATE_TEST_SUITE_P(
    Table, RecordHeading,
    ::testing::Values(HeadingCase{"numbered", 3, 4, 1, 4, "CRITICAL ERROR[UVO-00003]: it broke"},
                      HeadingCase{"unnumbered", 0, 4, 4, 1, "CRITICAL ERROR: it broke"},
                      HeadingCase{"information", 0, 0, 0, 16, "INFORMATION: it broke"},
                      HeadingCase{"major_at_3", 12, 3, 3, 2, "MAJOR ERROR[UVO-00012]: it broke"},
                      HeadingCase{"minor_at_2", 0, 2, 2, 2, "MINOR ERROR: it broke"},
                      HeadingCase{"odd_severity", 0, 9, 7, 64, "UNSPECIFIED: it broke"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordLog, WithEntriesWritesEmptyHeadingThenBlockUnderTheRecordModule) {
  test::CapturingDispatcher log;
  QRM_Exception e("", U(u"only"), 5, 1);
  e.setModule("mymod");
  e.log(1, false, true);
  e.logText(0, "pre", "text");
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].module, "mymod");
  EXPECT_EQ(entries[0].lines, (Lines{"WARNING: ", "{", "  [UVO-00005]: only", "}"}));
  EXPECT_EQ(entries[1].level, 16u);
  EXPECT_EQ(entries[1].lines, Lines{"WARNINGpre: text"});
}

TEST(RecordLog, SqlRecordWritesCategoryStatementAndEntries) {
  test::CapturingDispatcher log;
  QRMSQL_Exception e("", U(u"transaction was deadlocked"), 1205, "UPDATE T SET A=1", "Deadlock Error", 65, 3);
  e.log(3, false, true);
  QRMSQL_Exception("", U(u"no statement"), 999999, "", "", 999, 4).log(4, false, false);
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].module, "sql");
  EXPECT_EQ(entries[0].level, 2u);
  EXPECT_EQ(entries[0].lines, (Lines{"MAJOR ERROR[SQL-00065]: Deadlock Error",
                                     "SQL Statement[SQL-00065]: UPDATE T SET A=1", "{",
                                     "  [SQL-00065]: transaction was deadlocked", "}"}));
  EXPECT_EQ(entries[1].lines, Lines{"CRITICAL ERROR[SQL-00999]: "});
}

TEST(RecordLog, WithoutDispatcherNothingIsFormatted) {
  ASSERT_EQ(logDispatcher(), nullptr);
  QRM_Exception e("", U(u"x"), 1, 4);
  const uint64_t before = formatCallCount();
  e.log(4, true, true);
  e.logEntries(4, true);
  e.logText(4, "a", "b");
  EXPECT_EQ(formatCallCount(), before);
}

}  // namespace
}  // namespace hcs
