#include <gtest/gtest.h>

#include "db/dbi/dbi.h"

namespace hcs {
namespace {

DBIConnectParams params(const std::string& vendor, const std::string& password) {
  return {.driver = "Drv",
          .server = "host",
          .port = "5432",
          .user = "u",
          .password = password,
          .database = "db",
          .applicationName = "app:1",
          .vendor = vendor};
}

struct StringCase {
  const char* vendor;
  const char* password;
  bool mask;
  const char* expected;
};

class ConnectionStringTest : public ::testing::TestWithParam<StringCase> {};

TEST_P(ConnectionStringTest, KeysPerVendorWithSeparatorsBraced) {
  const StringCase& c = GetParam();
  EXPECT_EQ(odbcConnectionString(params(c.vendor, c.password), c.mask), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Vendors, ConnectionStringTest,
    ::testing::Values(StringCase{"pg", "pw", false,
                                 "DRIVER=Drv;Server=host;Port=5432;Database=db;Uid=u;Pwd=pw;Protocol=7.4-2;"
                                 "pqopt={application_name='app:1' options='-c statement_timeout=30000'};"},
                      StringCase{"pg", "pw", true,
                                 "DRIVER=Drv;Server=host;Port=5432;Database=db;Uid=u;Pwd=****;Protocol=7.4-2;"
                                 "pqopt={application_name='app:1' options='-c statement_timeout=30000'};"},
                      // a password cannot smuggle in another key
                      StringCase{"oci", "a;UID=x}", false, "DRIVER=Drv;DBQ=host;UID=u;PWD={a;UID=x}}};"},
                      StringCase{"db2", "", false, "DRIVER=Drv;DATABASE=host;UID=u;"},
                      StringCase{"mssql", "pw", false,
                                 "DRIVER=Drv;Server=host,5432;Database=db;UID=u;PWD=pw;APP=app:1;"},
                      StringCase{"sqlite", "pw", false, "DRIVER=Drv;Database=db;Timeout=10000;"}));

}  // namespace
}  // namespace hcs
