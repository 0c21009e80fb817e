// Writers under contention, for ThreadSanitizer as much as for the checks.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "log/console_writer.h"
#include "log/event_writer.h"
#include "log/file_writer.h"
#include "log/writer_test_support.h"

namespace hcs {
namespace {

// Console writers share one process-wide lock and a file writer has one of its own, so the lines of a
// message stay together; an event writer registers its source once.
TEST(LogWriterThreads, MessagesStayWholeAndTheEventSourceIsRegisteredOnce) {
  test::TempDir dir;
  std::FILE* stream = std::fopen(dir.file("console").c_str(), "w");
  ASSERT_NE(stream, nullptr);
  constexpr int kThreads = 8, kMessages = 250;
  std::vector<std::unique_ptr<CConsoleWriter>> consoles;
  for (int t = 0; t < kThreads; ++t) {
    consoles.push_back(std::make_unique<CConsoleWriter>());
    consoles.back()->init(test::uri("console://stderr/?style=bare"));
    consoles.back()->setStream(stream);
  }
  CFileWriter file;
  file.init(test::uri("file://" + dir.file("file") + "?style=bare"));
  test::RecordingEventLog eventLog;
  CEventWriter events(eventLog);
  test::runTogether(kThreads, [&](int t) {
    for (int m = 0; m < kMessages; ++m) {
      const std::string id = std::to_string(t) + ":" + std::to_string(m);
      const auto lines = test::unicodeLines({id + " a", id + " b"});
      consoles[t]->write(u"L", u"m", u"INFO", lines);
      file.write(u"L", u"m", u"INFO", lines);
      events.write(u"L", u"m", u"INFO", lines);
    }
  });
  std::fclose(stream);
  file.close();
  events.close();
  for (const char* name : {"console", "file"}) {
    const auto lines = test::splitLines(test::TempDir::read(dir.file(name)));
    ASSERT_EQ(lines.size(), 2u * kThreads * kMessages) << name;
    for (size_t i = 0; i < lines.size(); i += 2) {
      const std::string id = lines[i].substr(0, lines[i].find(' '));
      ASSERT_EQ(lines[i] + "|" + lines[i + 1], id + " a|" + id + " b") << name << " line " << i;
    }
  }
  EXPECT_EQ(eventLog.registered.size(), 1u);
  EXPECT_EQ(eventLog.events.size(), static_cast<size_t>(kThreads * kMessages));
}

}  // namespace
}  // namespace hcs
