#include "log/log_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "error/qrm_exception.h"
#include "log/log_message.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

TEST(LogFilter, SelectsByModuleAndLevel) {
  // filter, module, level, taken
  // clang-format off
  const std::tuple<const char*, const char*, uint32_t, bool> cases[] = {
      {"*.!DBUG", "sql", kLogError, true},           {"*.!DBUG", "", kLogInfo, true},
      {"*.!DBUG", "sql", kLogDebug, false},          {"*.*", "", kLogDebug, true},
      {"*.*", "x", 32, true},                        {"sql.*", "sql", kLogDebug, true},
      {"sql.*", "sqlx", kLogError, false},           {"sql.*", "", kLogError, false},
      {".ERR", "", kLogError, true},                 {".ERR", "sql", kLogError, false},
      {"*writer.*", "filewriter", kLogCritical, true}, {"*writer.*", "writers", kLogCritical, false},
      {"f*w*r.*", "filewriter", kLogInfo, true},     {"!sql.*", "sql", kLogCritical, false},
      {"!sql.*", "", kLogCritical, true},            {"*.err", "x", kLogError, true},
      {"*.ERR", "x", kLogCritical, false},           {"*.!*", "x", kLogCritical, false},
      {"*.NOTE", "x", kLogNote, true},               {"a.b.WARN", "a.b", kLogWarning, true},
      {"sql.*,*.CRIT", "x", kLogCritical, true},     {"sql.*,*.CRIT", "x", kLogError, false},
      {"!sql.*,sql.!DBUG", "sql", kLogDebug, false}, {"!sql.*,sql.!DBUG", "sql", kLogWarning, true},
      {"!sql.*,sql.!DBUG", "", kLogDebug, true}};
  // clang-format on
  for (const auto& [filter, module, level, taken] : cases) {
    EXPECT_EQ(CLogFilter::parse(filter).takes(UCString(module), level), taken)
        << filter << " / " << module << " / " << level;
  }
}

TEST(LogFilter, MalformedTextNamesTheFault) {
  const std::pair<const char*, const char*> cases[] = {
      {"*.ERR,", "empty rule"},         {"*.ERR,,sql.*", "empty rule"},
      {"sql", "\"sql\" needs a \".\""}, {"*.ERROR", "\"*.ERROR\" names no level"},
      {"*.!!ERR", "names no level"},    {"s!ql.*", "\"!\" only at the start"}};
  for (const auto& [text, fault] : cases) {
    try {
      CLogFilter::parse(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const QRM_Exception& e) {
      EXPECT_NE(std::string(e.what()).find(fault), std::string::npos) << text << " -> " << e.what();
    }
  }
}

}  // namespace
}  // namespace hcs
