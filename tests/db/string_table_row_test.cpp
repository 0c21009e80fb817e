#include "db/string_table_row.h"

#include <gtest/gtest.h>

#include "error/qrm_exception.h"
#include "support/capturing_dispatcher.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

TEST(CStringTableRowTest, GrowsInBlocksOfFiveAndReusesSlotsAfterClear) {
  CStringTableRow row;
  for (int i = 0; i < 6; ++i) row.addInt(i, false, false);
  EXPECT_EQ(row.capacity(), 10);
  EXPECT_EQ(row.valueCount(), 6);
  const icu::UnicodeString* first = row.valuePtr(0);
  row.clear();
  EXPECT_EQ(row.capacity(), 10);
  row.addValue(u"again", false, false);
  EXPECT_EQ(row.valuePtr(0), first);
  EXPECT_EQ(row.valueAt(0), u"again");
}

TEST(CStringTableRowTest, KeyJoinsTrimmedKeyValues) {
  CStringTableRow row;
  row.addValue(u"a", true, false);
  row.addValue(u"  x ", true, true);
  row.addValue(u"c", false, false);
  EXPECT_EQ(row.key(), u"a|x");
  EXPECT_EQ(row.keyPartCount(), 2u);
  EXPECT_EQ(row.valueAt(1), u"x");
  CStringTableRow other;
  other.setKey(u"A|X", 2);
  EXPECT_TRUE(row.keyEquals(other));
}

TEST(CStringTableRowTest, TypedAddersFormatTheirValues) {
  CStringTableRow row;
  row.addInt(42, false, false);
  row.addDouble(1.5, false, false);
  row.addQuoted(u"v");
  row.addInt64(-9000000000LL);
  EXPECT_EQ(row.valueAt(0), u"42");
  EXPECT_EQ(row.valueAt(1), u"1.500000");
  EXPECT_EQ(row.valueAt(2), u"'v'");
  EXPECT_EQ(row.valueAt(3), u"-9000000000");
}

TEST(CStringTableRowTest, ReadingPastTheValuesThrows9701NamingIndexAndKey) {
  CStringTableRow row;
  row.addValue(u"k", true, false);
  row.addValue(u"b", false, false);
  row.addValue(u"c", false, false);
  try {
    row.valuePtr(3);
    FAIL() << "no exception";
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(e.entry(0).message().code(), u"9701E");
    EXPECT_STREQ(e.what(), "Cannot retrieve index[3] from memory row of key[k], out of range!");
  }
}

TEST(CStringTableRowTest, ReserveAndAssignCopyValuesAndKey) {
  CStringTableRow empty;
  EXPECT_TRUE(empty.reserve(0));
  EXPECT_EQ(empty.capacity(), 0);
  CStringTableRow source;
  for (const char16_t* v : {u"a", u"b", u"c", u"d", u"e", u"f", u"g"}) source.addValue(v, false, false);
  source.setKey(u"key", 1);
  CStringTableRow copy;
  copy.addValue(u"old", false, false);
  copy = source;
  EXPECT_EQ(copy.valueCount(), 7);
  EXPECT_EQ(copy.valueAt(6), u"g");
  EXPECT_EQ(copy.key(), u"key");
  copy.addValue(u"h", false, false);  // appending after assign keeps the copied values
  EXPECT_EQ(copy.valueAt(6), u"g");
  EXPECT_EQ(copy.valueAt(7), u"h");
}

TEST(CStringTableRowTest, DumpWritesNullForEmptyValues) {
  CStringTableRow row;
  row.addValue(u"a", true, false);
  row.addValue(u"", false, false);
  row.addValue(u"c", false, false);
  test::CapturingDispatcher log;
  row.dump(true);
  row.dump(false);
  EXPECT_EQ(log.allLines(),
            (std::vector<std::string>{"TABLE ROW: a, NULL, c", "TABLE ROW: KEY[a] VALUES[a|NULL|c]"}));
}

}  // namespace
}  // namespace hcs
