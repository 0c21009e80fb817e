#include "db/dbi/dbi_buffer.h"

#include <gtest/gtest.h>

#include "db/dbi/dbi_table.h"
#include "error/sql_exception.h"

namespace hcs {
namespace {

TEST(DBIBuffer, StoresOnlyWhatFitsWithoutLoss) {
  const struct {
    DBIValue::Type buffer;
    DBIValue value;
    const char* stored;  // null: refused
  } cases[] = {{DBIValue::kLongLong, DBIValue(int32_t{5}), "5"},
               {DBIValue::kLongLong, DBIValue(3.0), "3"},
               {DBIValue::kLongLong, DBIValue(3.5), nullptr},
               {DBIValue::kLongLong, DBIValue(1e300), nullptr},
               {DBIValue::kInt, DBIValue(int64_t{1} << 40), nullptr},
               {DBIValue::kDouble, DBIValue(int64_t{42}), "42"},
               {DBIValue::kDouble, DBIValue(0.1), "0.1"},
               {DBIValue::kDouble, DBIValue(std::string("one")), nullptr},
               {DBIValue::kDouble, DBIValue(std::string("1.50")), nullptr},  // would not read back the same
               {DBIValue::kDouble, DBIValue((int64_t{1} << 53) + 1), nullptr},
               {DBIValue::kString, DBIValue(icu::UnicodeString(u"\u00e9")), "\xc3\xa9"},
               {DBIValue::kString, DBIValue(int32_t{1}), "1"},
               {DBIValue::kDecimal, DBIValue(int64_t{-12}), "-12"}};
  for (const auto& c : cases) {
    const std::string name = std::to_string(c.buffer) + " <- " + c.value.asString();
    DBIBuffer buffer(c.buffer, pgErrorHandler);
    ASSERT_TRUE(buffer.set(DBIValue())) << name;  // NULL fits every buffer
    if (c.stored != nullptr) {
      EXPECT_TRUE(buffer.set(c.value)) << name;
      EXPECT_EQ(buffer.get().asString(), c.stored) << name;
      EXPECT_EQ(buffer.get().type(), c.buffer) << name;
    } else {
      EXPECT_THROW(buffer.set(c.value), PGSQLException) << name;
      EXPECT_TRUE(buffer.get().isNull()) << name;  // the previous value stays
    }
  }
}

class TwoRowTable : public DBIMemTableImp {
 public:
  TwoRowTable() : DBIMemTableImp(DBIStatus(), DBISchema({{"a", DBIValue::kInt}, {"b", DBIValue::kString}})) {
    appendRow(std::make_unique<DBIRow>(DBIRow{DBIValue(int32_t{1}), DBIValue(std::string("x"))}));
    appendRow(std::make_unique<DBIRow>(DBIRow{DBIValue(int32_t{2}), DBIValue(std::string("y"))}));
  }
};

TEST(DBIReader, WalksRowsAndColumnsThenStopsAndWithoutATableReportsNotInitialized) {
  DBIReader reader(std::make_shared<TwoRowTable>());
  EXPECT_FALSE(reader.isValid());
  EXPECT_EQ(reader.columnCount(), 2u);
  ASSERT_TRUE(reader());
  DBIValue a, b, beyond;
  reader >> a >> b >> beyond;
  EXPECT_EQ(a.asString() + b.asString(), "1x");
  EXPECT_TRUE(beyond.isNull());
  ASSERT_TRUE(reader());
  reader[1] >> b;
  EXPECT_EQ(b.asString(), "y");
  EXPECT_FALSE(reader());
  EXPECT_FALSE(reader());
  DBIReader none;
  EXPECT_EQ(none.status().errorCode(), DBIStatus::kDBINotInitialized);
  EXPECT_FALSE(none());
  EXPECT_EQ(none.columnCount(), 0u);
}

}  // namespace
}  // namespace hcs
