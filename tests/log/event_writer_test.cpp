#include "log/event_writer.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>

#include "log/writer_test_support.h"
#include "support/capturing_dispatcher.h"

namespace hcs {
namespace {

// Stands in for the system's event log: records every call and fails on request.
class RecordingEventLog : public CEventLog {
 public:
  struct Event {
    uint16_t type;
    uint16_t category;
    uint32_t id;
    std::string text;
  };

  Source registerSource(const std::string& name, uint32_t& error) override {
    std::lock_guard lock(mutex);
    registered.push_back(name);
    if (registerError != 0) {
      error = registerError;
      return nullptr;
    }
    return &registered;
  }
  bool report(Source source, uint16_t type, uint16_t category, uint32_t id, const std::string& text,
              uint32_t& error) override {
    std::lock_guard lock(mutex);
    EXPECT_EQ(source, &registered);
    events.push_back({type, category, id, text});
    error = reportError;
    return reportError == 0;
  }
  void deregisterSource(Source source) override {
    std::lock_guard lock(mutex);
    EXPECT_EQ(source, &registered);
    ++deregistered;
  }

  std::mutex mutex;
  std::vector<std::string> registered;
  std::vector<Event> events;
  int deregistered = 0;
  uint32_t registerError = 0;
  uint32_t reportError = 0;
};

class EventWriterTest : public ::testing::Test {
 protected:
  void TearDown() override {
    writer.close();
    setModuleNameLookup(nullptr);
  }
  void write(const char* level, std::initializer_list<const char*> lines, const char* module = "") {
    writer.write(u"leading", UCString(module), UCString(level), test::unicodeLines(lines));
  }

  RecordingEventLog eventLog;
  CEventWriter writer{eventLog};
};

TEST_F(EventWriterTest, OneEventPerMessageWithLevelTagAndEveryLine) {
  writer.init(test::uri("eventlog://ignored/path?x=1"));
  write("CRIT", {"a", "b"});
  ASSERT_EQ(eventLog.events.size(), 1u);
  EXPECT_EQ(eventLog.events[0].text, "[CRIT] a\nb\n");
  EXPECT_EQ(eventLog.events[0].type, kEventError);
  EXPECT_EQ(eventLog.events[0].category, 0);
  EXPECT_EQ(eventLog.events[0].id, 1u);
  write("INFO", {}, "sql");
  EXPECT_EQ(eventLog.events.back().text, "[INFO] ");
  write("ERR", {"own failure"}, "eventwriter");
  EXPECT_EQ(eventLog.events.size(), 2u) << "the writer's own module is never reported";
  EXPECT_EQ(eventLog.registered.size(), 1u) << "registered once, on the first write";
}

struct TypeCase {
  const char* level;
  uint16_t type;
};

class EventTypeTest : public EventWriterTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(EventTypeTest, LevelNameGivesEventType) {
  write(GetParam().level, {"x"});
  ASSERT_EQ(eventLog.events.size(), 1u);
  EXPECT_EQ(eventLog.events[0].type, GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, EventTypeTest,
    ::testing::Values(TypeCase{"CRIT", kEventError}, TypeCase{"ERR", kEventError},
                      TypeCase{"WARN", kEventWarning}, TypeCase{"warn", kEventInformation},
                      TypeCase{"ERROR", kEventInformation}, TypeCase{"INFO", kEventInformation},
                      TypeCase{"DBUG", kEventInformation}, TypeCase{"", kEventInformation}));

TEST_F(EventWriterTest, SourceIsTheModuleNameSettingOrEmpty) {
  write("INFO", {"x"});
  writer.close();
  setModuleNameLookup([](icu::UnicodeString& name) {
    name = u"scoring";
    return true;
  });
  write("INFO", {"x"});
  writer.close();
  setModuleNameLookup([](icu::UnicodeString& name) { return false; });
  write("INFO", {"x"});
  EXPECT_EQ(eventLog.registered, (std::vector<std::string>{"", "scoring", ""}));
  EXPECT_EQ(eventLog.deregistered, 2);
}

TEST_F(EventWriterTest, FailedRegistrationDropsTheMessageAndIsRetried) {
  test::CapturingDispatcher log;
  setModuleNameLookup([](icu::UnicodeString& name) {
    name = u"app";
    return true;
  });
  eventLog.registerError = 5;
  write("ERR", {"lost"});
  EXPECT_TRUE(eventLog.events.empty());
  eventLog.registerError = 0;
  write("ERR", {"kept"});
  ASSERT_EQ(eventLog.events.size(), 1u);
  EXPECT_EQ(eventLog.events[0].text, "[ERR] kept\n");

  eventLog.reportError = 0x6ba;
  write("ERR", {"refused"});
  EXPECT_EQ(eventLog.registered.size(), 2u) << "a failed report keeps the source";
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 2u);
  for (const auto& e : entries) {
    EXPECT_EQ(e.module, "eventwriter");
    EXPECT_EQ(e.level, kLogError);
  }
  EXPECT_EQ(entries[0].lines, std::vector<std::string>{"Failed RegisterEventSource [app]: 0x0005"});
  EXPECT_EQ(entries[1].lines, std::vector<std::string>{"Failed ReportEvent: 0x06ba"});
}

TEST_F(EventWriterTest, ConcurrentWritersRegisterOnce) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([this] {
      for (int m = 0; m < 50; ++m) write("WARN", {"x"});
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(eventLog.registered.size(), 1u);
  EXPECT_EQ(eventLog.events.size(), 400u);
}

}  // namespace
}  // namespace hcs
