#include "log/log_message.h"

#include <gtest/gtest.h>

#include "support/capturing_dispatcher.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

TEST(LogLine, WithoutDispatcherFormatsNothing) {
  ASSERT_EQ(logDispatcher(), nullptr);
  const uint64_t before = formatCallCount();
  const icu::UnicodeString text(u"value");
  for (int i = 0; i < 1000; ++i) {
    logLine("sql", kLogDebug, u"row %d: %S %s", i, text, "narrow");
    logLine(kLogError, u"%d", i);
  }
  sendToLog(CLogMessage(kLogInfo));
  EXPECT_EQ(formatCallCount(), before);
}

TEST(LogLine, WithDispatcherDeliversOneFormattedLine) {
  test::CapturingDispatcher log;
  logLine("sql", kLogWarning, u"%s has %d rows", "T", 3);
  logLine(kLogCritical, u"plain");
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].module, "sql");
  EXPECT_EQ(entries[0].level, kLogWarning);
  EXPECT_EQ(entries[0].lines, std::vector<std::string>{"T has 3 rows"});
  EXPECT_EQ(entries[1].module, "");
  EXPECT_EQ(entries[1].level, kLogCritical);
}

TEST(CLogMessage, LineLongerThanTheFirstBufferIsKeptWhole) {
  const std::string longText(3000, 'q');
  CLogMessage m("m", kLogInfo);
  m.addLine(u"<%s>", longText).addLine(u"second");
  ASSERT_EQ(m.lines().size(), 2u);
  EXPECT_EQ(toStdString(m.lines()[0]), "<" + longText + ">");
}

TEST(LogDispatcher, InstallingReturnsThePreviousOne) {
  test::CapturingDispatcher outer;
  {
    test::CapturingDispatcher inner;
    EXPECT_EQ(logDispatcher(), &inner);
    logLine(kLogInfo, u"to inner");
  }
  EXPECT_EQ(logDispatcher(), &outer);
  EXPECT_TRUE(outer.entries().empty());
}

TEST(LogLevelName, NamesEveryLevelInUse) {
  EXPECT_STREQ(logLevelName(kLogCritical), "CRIT");
  EXPECT_STREQ(logLevelName(kLogError), "ERR");
  EXPECT_STREQ(logLevelName(kLogWarning), "WARN");
  EXPECT_STREQ(logLevelName(kLogNote), "NOTE");
  EXPECT_STREQ(logLevelName(kLogInfo), "INFO");
  EXPECT_STREQ(logLevelName(kLogDebug), "DBUG");
  EXPECT_STREQ(logLevelName(32), "");
}

}  // namespace
}  // namespace hcs
