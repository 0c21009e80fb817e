#include <gtest/gtest.h>

#include "db/dbi/dbi.h"

namespace hcs {
namespace {

TEST(ConnectionString, KeysPerVendorWithSeparatorsBracedAndThePasswordMaskedOnRequest) {
  const std::string pqopt =
      "Protocol=7.4-2;pqopt={application_name='app:1' options='-c statement_timeout=30000'};";
  const struct {
    std::string vendor, password;
    bool mask;
    std::string expected;
  } cases[] = {
      {"pg", "pw", true, "DRIVER=Drv;Server=host;Port=5432;Database=db;Uid=u;Pwd=****;" + pqopt},
      {"oci", "a;UID=x}", false, "DRIVER=Drv;DBQ=host;UID=u;PWD={a;UID=x}}};"},  // no key smuggled in
      {"db2", "", false, "DRIVER=Drv;DATABASE=host;UID=u;"},
      {"mssql", "pw", false, "DRIVER=Drv;Server=host,5432;Database=db;UID=u;PWD=pw;APP=app:1;"},
      {"sqlite", "pw", false, "DRIVER=Drv;Database=db;Timeout=10000;"}};
  for (const auto& c : cases) {
    const DBIConnectParams p{"Drv", "host", "5432", "u", c.password, "db", "app:1", c.vendor};
    EXPECT_EQ(odbcConnectionString(p, c.mask), c.expected) << c.vendor << " " << c.password << " " << c.mask;
  }
}

}  // namespace
}  // namespace hcs
