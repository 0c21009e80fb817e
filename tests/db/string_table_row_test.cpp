#include "db/string_table_row.h"

#include <gtest/gtest.h>

#include "error/qrm_exception.h"
#include "support/capturing_dispatcher.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

TEST(CStringTableRow, KeepsTypedValuesAndTheTrimmedKeyAndRefusesIndexesOutOfRange) {
  CStringTableRow row;
  row.addValue(u"a", true, false);
  row.addValue(u"  x ", true, true);
  row.addInt(42, false, false);
  row.addDouble(1.5, false, false);
  row.addQuoted(u"v");
  row.addInt64(-9000000000LL);
  row.addValue(u"", false, false);
  EXPECT_EQ(row.key(), u"a|x");
  EXPECT_EQ(row.keyPartCount(), 2u);
  CStringTableRow other;
  other.setKey(u"A|X", 2);
  EXPECT_TRUE(row.keyEquals(other));
  EXPECT_EQ(row.valueAt(5), u"-9000000000");
  test::CapturingDispatcher log;
  row.dump(true);
  row.dump(false);
  EXPECT_EQ(log.allLines(),
            (std::vector<std::string>{"TABLE ROW: a, x, 42, 1.500000, 'v', -9000000000, NULL",
                                      "TABLE ROW: KEY[a|x] VALUES[a|x|42|1.500000|'v'|-9000000000|NULL]"}));
  for (int32_t index : {7, -1}) {
    try {
      row.valuePtr(index);
      ADD_FAILURE() << "no exception for " << index;
    } catch (const QRM_Exception& e) {
      EXPECT_EQ(e.entry(0).message().code(), u"9701E");
      EXPECT_EQ(std::string(e.what()), "Cannot retrieve index[" + std::to_string(index) +
                                           "] from memory row of key[a|x], out of range!");
    }
  }
}

TEST(CStringTableRow, ClearedOrAssignedRowsTakeMoreValues) {
  CStringTableRow source;
  for (const char16_t* v : {u"a", u"b", u"c", u"d", u"e", u"f", u"g"}) source.addValue(v, false, false);
  source.setKey(u"key", 1);
  CStringTableRow copy;
  copy.addValue(u"old", false, false);
  copy = source;
  copy.addValue(u"h", false, false);  // appending after assign keeps the copied values
  EXPECT_EQ(copy.key(), u"key");
  EXPECT_EQ(copy.valueCount(), 8);
  EXPECT_EQ(copy.valueAt(6), u"g");
  EXPECT_EQ(copy.valueAt(7), u"h");
  source.clear();
  source.addValue(u"again", false, false);
  EXPECT_EQ(source.valueCount(), 1);
  EXPECT_EQ(source.valueAt(0), u"again");
  EXPECT_EQ(source.key(), u"");
}

}  // namespace
}  // namespace hcs
