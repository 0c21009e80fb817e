#include "db/dbi/dbi_buffer.h"

#include <gtest/gtest.h>

#include "db/dbi/dbi.h"
#include "error/sql_exception.h"

namespace hcs {
namespace {

// A slot keeps the type of its first value; a later value of another type is stored only if it fits.
TEST(DBIBuffer, StoresOnlyWhatFitsWithoutLoss) {
  const struct {
    DBIValue::Type buffer;
    DBIValue value;
    const char* stored;  // null: refused
  } cases[] = {{DBIValue::kLongLong, DBIValue(3.0), "3"},
               {DBIValue::kLongLong, DBIValue(3.5), nullptr},
               {DBIValue::kLongLong, DBIValue(1e300), nullptr},
               {DBIValue::kDouble, DBIValue(int64_t{42}), "42"},
               {DBIValue::kDouble, DBIValue(std::string("one")), nullptr},
               {DBIValue::kDouble, DBIValue(std::string("1.50")), nullptr},  // would not read back the same
               {DBIValue::kDouble, DBIValue((int64_t{1} << 53) + 1), nullptr},
               {DBIValue::kString, DBIValue(int64_t{1}), "1"}};
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

// Values that hold separators are braced, so a password cannot smuggle in a key.
TEST(ConnectionString, KeysPerVendorWithSeparatorsBracedAndThePasswordMaskedOnRequest) {
  const DBIConnectParams p{"Drv", "host", "", "u", "a;UID=x}", "", "", "oci"};
  EXPECT_EQ(odbcConnectionString(p, false), "DRIVER=Drv;DBQ=host;UID=u;PWD={a;UID=x}}};");
}

}  // namespace
}  // namespace hcs
