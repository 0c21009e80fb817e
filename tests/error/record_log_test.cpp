#include <gtest/gtest.h>

#include <tuple>

#include "error/qrm_exception.h"
#include "support/capturing_dispatcher.h"

namespace hcs {
namespace {

using Lines = std::vector<std::string>;
using U = icu::UnicodeString;

TEST(RecordLog, EntriesBlockTagsTheFirstEntryWithTheProductCodeAndPadsToFiveDigits) {
  QRM_Exception e("", U(u"first text"), 3, 4);
  e.addText("", U(u"second text"), 0, kNoSeverity).addText("L2", U(u"third text"), 123456, kNoSeverity);
  e.setModule("mymod");
  // Without a dispatcher nothing is even formatted.
  ASSERT_EQ(logDispatcher(), nullptr);
  const uint64_t before = formatCallCount();
  e.log(4, true, true);
  e.logEntries(4, true);
  e.logText(4, "a", "b");
  QRMSQL_Exception("", U(u"x"), 1, "S", "C", 1, 4).log(4, true, true);
  EXPECT_EQ(formatCallCount(), before);

  test::CapturingDispatcher log;
  e.logEntries(2, false);
  e.logEntries(2, true);  // every entry gets its label and one blank, even an empty label
  e.log(1, false, true);
  e.logText(0, "pre", "text");
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].level, 2u);
  EXPECT_EQ(entries[0].module, "mymod");
  const Lines block{"{", "  [UVO-00003]: first text", "  second text", "  [123456]: third text", "}"};
  EXPECT_EQ(entries[0].lines, block);
  EXPECT_EQ(entries[1].lines,
            (Lines{"{", "   [UVO-00003]: first text", "   second text", "  L2 [123456]: third text", "}"}));
  Lines withHeading{"CRITICAL ERROR: "};
  withHeading.insert(withHeading.end(), block.begin(), block.end());
  EXPECT_EQ(entries[2].lines, withHeading);
  EXPECT_EQ(entries[2].level, 4u);
  EXPECT_EQ(entries[3].level, 16u);
  EXPECT_EQ(entries[3].lines, Lines{"CRITICAL ERRORpre: text"});
}

TEST(RecordLog, HeadingNamesTheSeverityAndLogsAtTheLevelGiven) {
  // entry number, record severity, level asked for, log mask expected, line expected
  const std::tuple<uint32_t, int32_t, int32_t, uint32_t, const char*> cases[] = {
      {0, 4, 4, 1, "CRITICAL ERROR: it broke"},
      {0, 0, 0, 16, "INFORMATION: it broke"},
      {12, 3, 3, 2, "MAJOR ERROR[UVO-00012]: it broke"},
      {0, 2, 2, 2, "MINOR ERROR: it broke"},
      {0, 1, 9, 64, "WARNING: it broke"},
      {0, 9, 7, 64, "UNSPECIFIED: it broke"}};
  for (const auto& [number, severity, level, mask, line] : cases) {
    test::CapturingDispatcher log;
    QRM_Exception("", U(u"it broke"), number, severity).log(level, false, false);
    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u) << line;
    EXPECT_EQ(entries[0].level, mask) << line;
    EXPECT_EQ(entries[0].lines, Lines{line});
  }
}

// Caught as the base type after copies, a database record still writes its category, statement and entries.
TEST(RecordLog, SqlRecordKeepsItsFieldsThroughCopiesAndWritesThem) {
  QRMSQL_Exception e("", U(u"transaction was deadlocked"), 1205, "UPDATE T SET A=1", "Deadlock Error", 65, 3);
  QRMSQL_Exception copy;
  copy = e;
  test::CapturingDispatcher log;
  try {
    throw QRMSQL_Exception(copy);
  } catch (const QRM_Exception& caught) {
    EXPECT_EQ(dynamic_cast<const QRMSQL_Exception&>(caught).vendorCode(), 1205u);
    caught.log(3, false, true);
  }
  QRMSQL_Exception("", U(u"no statement"), 999999, "", "", 999, 4).log(4, false, false);
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].module, "sql");
  EXPECT_EQ(entries[0].level, 2u);
  EXPECT_EQ(entries[0].lines,
            (Lines{"MAJOR ERROR[SQL-00065]: Deadlock Error", "SQL Statement[SQL-00065]: UPDATE T SET A=1",
                   "{", "  [SQL-00065]: transaction was deadlocked", "}"}));
  EXPECT_EQ(entries[1].lines, Lines{"CRITICAL ERROR[SQL-00999]: "});
  copy.clear();
  EXPECT_EQ(std::make_tuple(copy.vendorCode(), copy.statement(), copy.category(), copy.productCode()),
            std::make_tuple(0u, "", "", "SQL"));
}

}  // namespace
}  // namespace hcs
