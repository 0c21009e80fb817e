#include "log/event_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/writer_test_support.h"
#include "support/capturing_dispatcher.h"

namespace hcs {
namespace {

bool appName(icu::UnicodeString& name) {
  name = u"app";
  return true;
}

// One event per message, typed by its level name. The source is named by the module name setting (empty
// without one); a failed registration drops the message and is tried again, a failed report keeps the
// source; both failures are logged, never written to the event log itself.
TEST(EventWriter, OneTypedEventPerMessageUnderTheModuleNameFailuresLogged) {
  test::RecordingEventLog eventLog;
  CEventWriter writer(eventLog);
  const auto write = [&writer](const char* level, std::initializer_list<std::string> lines,
                               const char* module = "") {
    writer.write(u"leading", UCString(module), UCString(level), test::unicodeLines(lines));
  };
  test::CapturingDispatcher log;
  writer.init(test::uri("eventlog://ignored/path?x=1"));
  write("CRIT", {"a", "b"});
  write("INFO", {}, "sql");
  write("ERR", {"own failure"}, "eventwriter");
  for (const char* level : {"ERR", "WARN", "warn", "ERROR", "DBUG", ""}) write(level, {"x"});
  writer.close();
  setModuleNameLookup(appName);
  eventLog.registerError = 5;
  write("ERR", {"lost"});
  eventLog.registerError = 0;
  write("ERR", {"kept"});
  eventLog.reportError = 0x6ba;
  write("ERR", {"refused"});
  writer.close();
  setModuleNameLookup([](icu::UnicodeString&) { return false; });
  eventLog.reportError = 0;
  write("INFO", {"x"});
  writer.close();
  setModuleNameLookup(nullptr);

  EXPECT_EQ(
      eventLog.events,
      (std::vector<std::string>{"1|0|1|[CRIT] a\nb\n", "4|0|1|[INFO] ", "1|0|1|[ERR] x\n", "2|0|1|[WARN] x\n",
                                "4|0|1|[warn] x\n", "4|0|1|[ERROR] x\n", "4|0|1|[DBUG] x\n", "4|0|1|[] x\n",
                                "1|0|1|[ERR] kept\n", "1|0|1|[ERR] refused\n", "4|0|1|[INFO] x\n"}));
  EXPECT_EQ(eventLog.registered, (std::vector<std::string>{"", "app", "app", ""}));
  EXPECT_EQ(eventLog.deregistered, 3);
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 2u);
  for (const auto& e : entries) {
    EXPECT_EQ(e.module, "eventwriter");
    EXPECT_EQ(e.level, kLogError);
  }
  EXPECT_EQ(entries[0].lines, std::vector<std::string>{"Failed RegisterEventSource [app]: 0x0005"});
  EXPECT_EQ(entries[1].lines, std::vector<std::string>{"Failed ReportEvent: 0x06ba"});
}

}  // namespace
}  // namespace hcs
