#include "db/dbi/dbi_buffer.h"

#include <gtest/gtest.h>

#include "db/dbi/dbi_table.h"
#include "error/sql_exception.h"

namespace hcs {
namespace {

struct ConversionCase {
  DBIValue::Type buffer;
  DBIValue value;
  bool accepted;
  const char* stored;
};

class BufferConversionTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(BufferConversionTest, StoresOnlyWhatFitsWithoutLoss) {
  const ConversionCase& c = GetParam();
  DBIBuffer buffer(c.buffer, pgErrorHandler);
  ASSERT_TRUE(buffer.set(DBIValue()));  // NULL fits every buffer
  if (c.accepted) {
    EXPECT_TRUE(buffer.set(c.value));
    EXPECT_EQ(buffer.get().asString(), c.stored);
    EXPECT_EQ(buffer.get().type(), c.value.isNull() ? DBIValue::kNoType : c.buffer);
  } else {
    EXPECT_THROW(buffer.set(c.value), PGSQLException);
    EXPECT_TRUE(buffer.get().isNull());  // the previous value stays
  }
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, BufferConversionTest,
    ::testing::Values(ConversionCase{DBIValue::kLongLong, DBIValue(int32_t{5}), true, "5"},
                      ConversionCase{DBIValue::kLongLong, DBIValue(3.0), true, "3"},
                      ConversionCase{DBIValue::kLongLong, DBIValue(3.5), false, ""},
                      ConversionCase{DBIValue::kLongLong, DBIValue(1e300), false, ""},
                      ConversionCase{DBIValue::kInt, DBIValue(int64_t{1} << 40), false, ""},
                      ConversionCase{DBIValue::kDouble, DBIValue(int64_t{42}), true, "42"},
                      ConversionCase{DBIValue::kDouble, DBIValue(std::string("one")), false, ""},
                      ConversionCase{DBIValue::kString, DBIValue(icu::UnicodeString(u"\u00e9")), true,
                                     "\xc3\xa9"},
                      ConversionCase{DBIValue::kString, DBIValue(int32_t{1}), true, "1"},
                      ConversionCase{DBIValue::kDecimal, DBIValue(int64_t{-12}), true, "-12"},
                      ConversionCase{DBIValue::kDouble, DBIValue((int64_t{1} << 53) + 1), false, ""},
                      ConversionCase{DBIValue::kDouble, DBIValue(std::string("1.50")), false, ""}));

TEST(DBIValueText, DatesAndNumbers) {
  EXPECT_EQ(DBIValue(DBIDate{2009, 3, 5}).asString(), "2009-03-05");
  EXPECT_EQ(DBIValue(DBIDateTime{2009, 3, 5, 14, 7, 9, 0}).asString(), "2009-03-05 14:07:09");
  EXPECT_EQ(DBIValue(0.1).asString(), "0.1");
  EXPECT_EQ(DBIValue().asString(), "");
  EXPECT_EQ(DBIValue(DBIDate{2009, 3, 5}).type(), 17);
  EXPECT_EQ(DBIValue(DBIDateTime{}).type(), 18);
}

class TwoRowTable : public DBIMemTableImp {
 public:
  TwoRowTable() : DBIMemTableImp(DBIStatus(), DBISchema({{"a", DBIValue::kInt}, {"b", DBIValue::kString}})) {
    appendRow(std::make_unique<DBIRow>(DBIRow{DBIValue(int32_t{1}), DBIValue(std::string("x"))}));
    appendRow(std::make_unique<DBIRow>(DBIRow{DBIValue(int32_t{2}), DBIValue(std::string("y"))}));
  }
};

TEST(DBIReaderTest, WalksRowsAndColumnsThenStops) {
  DBIReader reader(std::make_shared<TwoRowTable>());
  EXPECT_FALSE(reader.isValid());
  EXPECT_EQ(reader.columnCount(), 2u);
  ASSERT_TRUE(reader());
  DBIValue a, b, beyond;
  reader >> a >> b >> beyond;
  EXPECT_EQ(a.asString(), "1");
  EXPECT_EQ(b.asString(), "x");
  EXPECT_TRUE(beyond.isNull());
  ASSERT_TRUE(reader());
  reader[1] >> b;
  EXPECT_EQ(b.asString(), "y");
  EXPECT_FALSE(reader());
  EXPECT_FALSE(reader());
}

TEST(DBIReaderTest, EmptyReaderReportsNotInitialized) {
  DBIReader reader;
  EXPECT_EQ(reader.status().errorCode(), DBIStatus::kDBINotInitialized);
  EXPECT_FALSE(reader());
  EXPECT_EQ(reader.columnCount(), 0u);
}

}  // namespace
}  // namespace hcs
