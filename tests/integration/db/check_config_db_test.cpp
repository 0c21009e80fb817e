// hcs check-config with a real database: where each callout's value came from, and the conflicts.
#include <string>

#include <gtest/gtest.h>

#include "check/config_check.h"
#include "config/ini_fixture.h"
#include "hcs/config_summary.h"
#include "support/database_fixture.h"

namespace hcs {
namespace {

using namespace check;
using test::summary;

class CheckConfigWithDatabase : public test::RealDatabaseTest {};

TEST_P(CheckConfigWithDatabase, MarksTheSourceOfEachCalloutAndListsConflicts) {
  test::createSystemParam(target_, {"'ATTR_URI', 'NAME', 'http://db/name', NULL, 'STRING'",
                                    "'ATTR_URI', 'EMAIL', 'ftp://db/', NULL, 'STRING'"});
  test::TempDir dir;
  const std::string ini = dir.write("c.ini", "[ATTR_URI]\nname=http://ini/name\nPHONE=http://ini/phone\n");
  EXPECT_EQ(
      summary(checkConfig(ini, "", target_.uri)),
      "UNKNOWN_APP 2\nEMAIL ftp://db/ db the scheme is \"ftp\", not http or https\nNAME http://db/name db \n"
      "PHONE http://ini/phone ini \nATTR_URI:NAME http://db/name http://ini/name\n");
}

INSTANTIATE_TEST_SUITE_P(Databases, CheckConfigWithDatabase, ::testing::Values("sqlite"));

}  // namespace
}  // namespace hcs
