#include "log/log_filter.h"

#include <gtest/gtest.h>

#include <string>

#include "error/qrm_exception.h"
#include "log/log_message.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

struct TakesCase {
  const char* filter;
  const char* module;
  uint32_t level;
  bool taken;
};

class FilterTakesTest : public ::testing::TestWithParam<TakesCase> {};

TEST_P(FilterTakesTest, SelectsByModuleAndLevel) {
  const auto& c = GetParam();
  EXPECT_EQ(CLogFilter::parse(c.filter).takes(UCString(c.module), c.level), c.taken)
      << c.filter << " / " << c.module << " / " << c.level;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FilterTakesTest,
    ::testing::Values(
        TakesCase{"*.!DBUG", "sql", kLogError, true}, TakesCase{"*.!DBUG", "", kLogInfo, true},
        TakesCase{"*.!DBUG", "sql", kLogDebug, false}, TakesCase{"*.*", "", kLogDebug, true},
        TakesCase{"*.*", "x", 32, true}, TakesCase{"sql.*", "sql", kLogDebug, true},
        TakesCase{"sql.*", "sqlx", kLogError, false}, TakesCase{"sql.*", "", kLogError, false},
        TakesCase{".ERR", "", kLogError, true}, TakesCase{".ERR", "sql", kLogError, false},
        TakesCase{"*writer.*", "filewriter", kLogCritical, true},
        TakesCase{"*writer.*", "writers", kLogCritical, false},
        TakesCase{"f*w*r.*", "filewriter", kLogInfo, true}, TakesCase{"!sql.*", "sql", kLogCritical, false},
        TakesCase{"!sql.*", "", kLogCritical, true}, TakesCase{"*.err", "x", kLogError, true},
        TakesCase{"*.ERR", "x", kLogCritical, false}, TakesCase{"*.!*", "x", kLogCritical, false},
        TakesCase{"!sql.*,sql.!DBUG", "sql", kLogDebug, false},
        TakesCase{"!sql.*,sql.!DBUG", "sql", kLogWarning, true},
        TakesCase{"!sql.*,sql.!DBUG", "", kLogDebug, true},
        TakesCase{"sql.*,*.CRIT", "x", kLogCritical, true}, TakesCase{"sql.*,*.CRIT", "x", kLogError, false},
        TakesCase{"a.b.WARN", "a.b", kLogWarning, true}));

class FilterMalformedTest : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(FilterMalformedTest, NamesTheFault) {
  try {
    CLogFilter::parse(GetParam().first);
    FAIL() << "accepted " << GetParam().first;
  } catch (const QRM_Exception& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().second), std::string::npos)
        << GetParam().first << " -> " << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, FilterMalformedTest,
                         ::testing::Values(std::pair{"", "empty rule"}, std::pair{"*.ERR,", "empty rule"},
                                           std::pair{"*.ERR,,sql.*", "empty rule"},
                                           std::pair{"sql", "\"sql\" needs a \".\""},
                                           std::pair{"*.ERROR", "\"*.ERROR\" names no level"},
                                           std::pair{"*.", "names no level"},
                                           std::pair{"*.!!ERR", "names no level"},
                                           std::pair{"s!ql.*", "\"!\" only at the start"}));

}  // namespace
}  // namespace hcs
