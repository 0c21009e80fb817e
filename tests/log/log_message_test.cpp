#include "log/log_message.h"

#include <gtest/gtest.h>

#include "support/capturing_dispatcher.h"

namespace hcs {
namespace {

TEST(LogLine, WithoutDispatcherFormatsNothingInstallingReturnsThePreviousDispatcher) {
  ASSERT_EQ(logDispatcher(), nullptr);
  const uint64_t before = formatCallCount();
  logLine("sql", kLogDebug, u"row %d: %S %s", 1, icu::UnicodeString(u"value"), "narrow");
  logLine(kLogError, u"%d", 2);
  sendToLog(CLogMessage(kLogInfo));
  EXPECT_EQ(formatCallCount(), before);

  test::CapturingDispatcher outer;
  {
    test::CapturingDispatcher inner;
    EXPECT_EQ(logDispatcher(), &inner);
    logLine(kLogCritical, u"%s has %d rows", "T", 3);
    ASSERT_EQ(inner.entries().size(), 1u);
    EXPECT_EQ(inner.entries()[0].module, "");
    EXPECT_EQ(inner.entries()[0].level, kLogCritical);
    EXPECT_EQ(inner.entries()[0].lines, std::vector<std::string>{"T has 3 rows"});
  }
  EXPECT_EQ(logDispatcher(), &outer);
  EXPECT_TRUE(outer.entries().empty());
}

}  // namespace
}  // namespace hcs
