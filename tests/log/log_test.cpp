// Log messages, filters, the dispatcher that HTTPCALLOUT_LOG builds, and the writers.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "error/qrm_exception.h"
#include "log/console_writer.h"
#include "log/event_log.h"
#include "log/event_writer.h"
#include "log/file_writer.h"
#include "log/log_config.h"
#include "log/log_filter.h"
#include "log/log_message.h"
#include "log/log_platform.h"
#include "support/capturing_dispatcher.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

CUri uri(const std::string& text) { return CUri(UCString(text)); }

std::vector<icu::UnicodeString> lines(std::initializer_list<std::string> texts) {
  std::vector<icu::UnicodeString> out;
  for (const std::string& text : texts) out.push_back(UCString(text));
  return out;
}

// Unset, logging costs a pointer check: nothing is formatted.
TEST(LogLine, WithoutDispatcherFormatsNothing) {
  ASSERT_EQ(logDispatcher(), nullptr);
  const uint64_t before = formatCallCount();
  logLine("sql", kLogDebug, u"row %d: %S %s", 1, icu::UnicodeString(u"value"), "narrow");
  sendToLog(CLogMessage(kLogInfo));
  EXPECT_EQ(formatCallCount(), before);
}

TEST(LogFilter, SelectsByModuleAndLevel) {
  // filter, module, level, taken
  // clang-format off
  const std::tuple<const char*, const char*, uint32_t, bool> cases[] = {
      {"*.!DBUG", "sql", kLogError, true},           {"*.!DBUG", "sql", kLogDebug, false},
      {"sql.*", "sql", kLogDebug, true},             {"sql.*", "sqlx", kLogError, false},
      {".ERR", "", kLogError, true},                 {"*writer.*", "filewriter", kLogCritical, true},
      {"*writer.*", "writers", kLogCritical, false}, {"f*w*r.*", "filewriter", kLogInfo, true},
      {"!sql.*", "sql", kLogCritical, false},        {"!sql.*", "", kLogCritical, true},
      {"*.err", "x", kLogError, true},               {"*.ERR", "x", kLogCritical, false},
      {"a.b.WARN", "a.b", kLogWarning, true},        {"sql.*,*.CRIT", "x", kLogCritical, true},
      {"!sql.*,sql.!DBUG", "sql", kLogDebug, false}, {"!sql.*,sql.!DBUG", "sql", kLogWarning, true}};
  // clang-format on
  for (const auto& [filter, module, level, taken] : cases) {
    EXPECT_EQ(CLogFilter::parse(filter).takes(UCString(module), level), taken)
        << filter << " / " << module << " / " << level;
  }
}

std::string drain(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

// Unset or blank, nothing is installed; a malformed value installs nothing either and says why, once,
// naming the destination and the fault.
TEST(LogEnvironment, UnsetOrBlankInstallsNothingMalformedNamesTheDestinationAndTheFault) {
  std::FILE* errors = std::tmpfile();
  EXPECT_EQ(dispatcherFromEnvironmentValue(nullptr, errors), nullptr);
  EXPECT_EQ(dispatcherFromEnvironmentValue(" \t", errors), nullptr);
  EXPECT_EQ(dispatcherFromEnvironmentValue("console://stderr *.NOPE", errors), nullptr);
  EXPECT_EQ(
      drain(errors),
      "httpCalloutScoring: HTTPCALLOUT_LOG is ignored and logging stays off: log destination "
      "\"console://stderr *.NOPE\": filter rule \"*.NOPE\" names no level (CRIT, ERR, WARN, NOTE, INFO, "
      "DBUG or *)\n");
  std::fclose(errors);

  const std::pair<const char*, const char*> cases[] = {
      {" ; ", "names no destination"},
      {"console://stdot", "console://stdout or console://stderr"},
      {"console://stdout?style=bare", "parameters follow a '/'"},
      {"console://stdout *.!DBUG extra", "a URI, a blank and one filter"},
      {"file://", "names no file"},
      {"file:///tmp/x.log?keeps=2", "unknown parameter \"keeps\""},
      {"file:///tmp/x.log?rotateSize=1M", "rotateSize must be a whole number"},
      {"file:///tmp/x.log?rotateSize=2097152", "from 0 to 2097151"},
      // ';' separates destinations, so a query joined with it splits the destination.
      {"file:///tmp/x.log?rotateSize=1;keep=2", "\"keep=2\": unknown writer"},
      {"console:// *.ERR,", "empty rule"},
      {"console:// sql", "\"sql\" needs a \".\""},
      {"console:// s!ql.*", "\"!\" only at the start"}};
  for (const auto& [config, fault] : cases) {
    try {
      buildLogDispatcher(config);
      ADD_FAILURE() << "accepted " << config;
    } catch (const QRM_Exception& e) {
      EXPECT_NE(std::string(e.what()).find(fault), std::string::npos) << config << " -> " << e.what();
    }
  }
}

// Keeps every write call ("module|level|line|line…") and throws while `fail` is set.
class RecordingWriter : public CLogWriter {
 public:
  explicit RecordingWriter(int& closes) : closes_(closes) {}
  void init(const CUri&) override {}
  void write(const icu::UnicodeString& leading, const icu::UnicodeString& module,
             const icu::UnicodeString& levelName, const std::vector<icu::UnicodeString>& lines) override {
    std::string call = toStdString(module) + "|" + toStdString(levelName);
    for (const auto& line : lines) call += "|" + toStdString(line);
    calls.push_back(call);
    leadings.push_back(toStdString(leading));
    if (fail) throw std::runtime_error("disk on fire");
  }
  void close() override { ++closes_; }

  std::vector<std::string> calls, leadings;
  bool fail = false;

 private:
  int& closes_;
};

TEST(WriterDispatcher, EachMessageIsOneWriteToEveryDestinationThatTakesIt) {
  int closes = 0;
  std::FILE* errors = std::tmpfile();
  auto dispatcher = std::make_unique<CWriterDispatcher>(errors);
  auto* all = new RecordingWriter(closes);
  auto* failing = new RecordingWriter(closes);
  dispatcher->add(uri("x://"), CLogFilter::parse("*.*"), std::unique_ptr<CLogWriter>(all));
  dispatcher->add(uri("file:///x.log"), CLogFilter::parse("*.ERR"), std::unique_ptr<CLogWriter>(failing));

  CLogMessage three("sql", kLogError);
  three.addLine(u"one").addLine(u"two").addLine(u"three");
  dispatcher->dispatch(three);
  dispatcher->dispatch(CLogMessage(kLogDebug).addLine(u"trace"));
  EXPECT_EQ(all->calls, (std::vector<std::string>{"sql|ERR|one|two|three", "|DBUG|trace"}));
  EXPECT_EQ(failing->calls, std::vector<std::string>{"sql|ERR|one|two|three"});
  const std::regex leading(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )" + std::to_string(currentThreadId()));
  EXPECT_TRUE(std::regex_match(all->leadings[0], leading)) << all->leadings[0];
  const auto stamp = CLogMessage::Clock::time_point(std::chrono::milliseconds(1'700'000'000'042));
  EXPECT_NE(toStdString(logLeadingField(stamp)).find(":20.042 "), std::string::npos);

  // A failing writer never reaches the caller; each run of failures is reported once.
  failing->fail = true;
  for (int i = 0; i < 3; ++i) EXPECT_NO_THROW(dispatcher->dispatch(CLogMessage(kLogError).addLine(u"x")));
  failing->fail = false;
  dispatcher->dispatch(CLogMessage(kLogError).addLine(u"x"));
  failing->fail = true;
  dispatcher->dispatch(CLogMessage(kLogError).addLine(u"x"));
  EXPECT_EQ(failing->calls.size(), 6u);
  EXPECT_EQ(all->calls.size(), 7u) << "the other destinations still get every message";
  const std::string line = "httpCalloutScoring: log destination \"file:///x.log\" failed: disk on fire\n";
  EXPECT_EQ(drain(errors), line + line);
  dispatcher.reset();
  EXPECT_EQ(closes, 2) << "the dispatcher closes the writers it owns";
  std::fclose(errors);
}

// stderr unless the host names stdout; each message is flushed at once.
TEST(ConsoleWriter, WritesToTheStreamTheHostNamesFlushingEachMessage) {
  CConsoleWriter w;
  w.init(uri("console://"));
  EXPECT_EQ(w.stream(), stderr);
  w.init(uri("console://stdout"));
  EXPECT_EQ(w.stream(), stdout);
  test::TempDir dir;
  std::FILE* file = std::fopen(dir.file("out").c_str(), "w");
  ASSERT_NE(file, nullptr);
  w.setStream(file);
  w.write(u"L", u"sql", u"WARN", lines({"text", "more"}));
  EXPECT_EQ(test::TempDir::read(dir.file("out")), "L [sql] WARN: text\nL [sql] WARN: more\n");
  std::fclose(file);
}

// A clock that moves only when told to, so no test waits a minute.
class FakeClock : public CLogClock {
 public:
  int64_t currentMillis() override { return now; }
  int64_t now = 1'700'000'000'000;
};

class FileWriterTest : public ::testing::Test {
 protected:
  std::unique_ptr<CFileWriter> open(const std::string& query, const std::string& name = "app.log") {
    auto w = std::make_unique<CFileWriter>(clock_);
    w->init(uri("file://" + dir_.file(name) + query));
    return w;
  }
  static void write(CFileWriter& w, const std::string& line, const char* module = "m") {
    w.write(u"L", UCString(module), u"INFO", lines({line}));
  }
  void advanceSeconds(int seconds) { clock_.now += seconds * 1000; }
  bool exists(const std::string& name) const { return std::filesystem::exists(dir_.file(name)); }
  std::string contents(const std::string& name) const { return test::TempDir::read(dir_.file(name)); }

  test::TempDir dir_;
  FakeClock clock_;
};

// Four over-size rotations, a minute apart: the files left, each with the marker line it holds.
TEST_F(FileWriterTest, RotationKeepsTheConfiguredCopiesNewestFirst) {
  const std::pair<const char*, std::map<std::string, std::string>> cases[] = {
      {"",
       {{"app.log.0", "line-4"}, {"app.log.1", "line-3"}, {"app.log.2", "line-2"}, {"app.log.3", "line-1"}}},
      {"&keep=0", {}},
      {"&keep=2", {{"app.log.0", "line-4"}, {"app.log.1", "line-3"}}}};
  for (const auto& [keep, expected] : cases) {
    std::filesystem::remove_all(dir_.file(""));
    std::filesystem::create_directory(dir_.file(""));
    auto w = open(std::string("?style=bare&rotateSize=1") + keep);
    for (int i = 1; i <= 4; ++i) {
      // Over 1 KiB: the check after it rotates.
      write(*w, "line-" + std::to_string(i) + std::string(1100, '.'));
      EXPECT_FALSE(exists("app.log")) << keep << " rotation " << i;
      advanceSeconds(61);
    }
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.file(""))) {
      found[entry.path().filename().string()] = test::TempDir::read(entry.path().string()).substr(0, 6);
    }
    EXPECT_EQ(found, expected) << keep;
    write(*w, "fresh");
    EXPECT_EQ(contents("app.log"), "fresh\n") << "the next write starts a new, empty file";
    w->close();
  }
}

TEST_F(FileWriterTest, ChecksTheSizeAtMostOnceAMinute) {
  auto w = open("?rotateSize=1");
  write(*w, "small");  // the first write checks at once: too small, nothing happens
  advanceSeconds(30);
  write(*w, std::string(1100, 'x'));
  advanceSeconds(30);  // exactly one minute since the check: still not due
  write(*w, "a");
  EXPECT_TRUE(exists("app.log"));
  clock_.now += 1;
  write(*w, "b");
  EXPECT_FALSE(exists("app.log"));
  EXPECT_TRUE(exists("app.log.0"));
}

// Failures are thrown for the dispatcher to report. A file that cannot be opened is tried again with the
// next message; a failed write is logged too, for the other destinations (a writer skips its own reports).
TEST_F(FileWriterTest, FailuresAreThrownAnUnopenableFileIsTriedAgainAFailedWriteIsLogged) {
  auto w = open("", "missing/app.log");
  try {
    write(*w, "x");
    FAIL() << "no exception";
  } catch (const QRMLog_Exception& e) {
    EXPECT_STREQ(e.what(), ("Failed to open log file: " + dir_.file("missing/app.log")).c_str());
  }
  std::filesystem::create_directory(dir_.file("missing"));
  write(*w, "own failure report", "filewriter");
  write(*w, "y");
  EXPECT_EQ(contents("missing/app.log"), "L [m] INFO: y\n");

  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  w->init(uri("file:///dev/full"));
  test::CapturingDispatcher log;
  EXPECT_THROW(write(*w, "x"), QRMLog_Exception);
  EXPECT_EQ(log.allLines(), std::vector<std::string>{"Failed to write to log file: /dev/full"});
  EXPECT_EQ(log.entries().at(0).module + "/" + logLevelName(log.entries().at(0).level), "filewriter/CRIT");
}

// Stands in for the system's event log: records every call ("type|category|id|text") and fails on request.
class RecordingEventLog : public CEventLog {
 public:
  Source registerSource(const std::string&, uint32_t& error) override {
    std::lock_guard lock(mutex);
    ++registered;
    error = registerError;
    return registerError == 0 ? &registered : nullptr;
  }
  bool report(Source source, uint16_t type, uint16_t category, uint32_t id, const std::string& text,
              uint32_t& error) override {
    std::lock_guard lock(mutex);
    EXPECT_EQ(source, &registered);
    events.push_back(std::to_string(type) + "|" + std::to_string(category) + "|" + std::to_string(id) + "|" +
                     text);
    error = reportError;
    return reportError == 0;
  }
  void deregisterSource(Source) override { ++deregistered; }

  std::mutex mutex;
  std::vector<std::string> events;
  int registered = 0, deregistered = 0;
  uint32_t registerError = 0;
  uint32_t reportError = 0;
};

// One event per message, typed by its level name. A failed registration drops the message and is tried
// again, a failed report keeps the source; both failures are logged, never written to the event log itself.
TEST(EventWriter, OneTypedEventPerMessageFailuresLoggedElsewhere) {
  RecordingEventLog eventLog;
  CEventWriter writer(eventLog);
  const auto write = [&writer](const char* level, std::initializer_list<std::string> texts,
                               const char* module = "") {
    writer.write(u"leading", UCString(module), UCString(level), lines(texts));
  };
  test::CapturingDispatcher log;
  write("CRIT", {"a", "b"});
  write("INFO", {}, "sql");
  write("ERR", {"own failure"}, "eventwriter");
  for (const char* level : {"ERR", "WARN", "warn", "DBUG"}) write(level, {"x"});
  writer.close();
  eventLog.registerError = 5;
  write("ERR", {"lost"});
  eventLog.registerError = 0;
  write("ERR", {"kept"});
  eventLog.reportError = 0x6ba;
  write("ERR", {"refused"});
  writer.close();

  EXPECT_EQ(eventLog.events,
            (std::vector<std::string>{"1|0|1|[CRIT] a\nb\n", "4|0|1|[INFO] ", "1|0|1|[ERR] x\n",
                                      "2|0|1|[WARN] x\n", "4|0|1|[warn] x\n", "4|0|1|[DBUG] x\n",
                                      "1|0|1|[ERR] kept\n", "1|0|1|[ERR] refused\n"}));
  EXPECT_EQ(eventLog.registered, 3);
  EXPECT_EQ(eventLog.deregistered, 2);
  EXPECT_EQ(log.allLines(), (std::vector<std::string>{"Failed RegisterEventSource []: 0x0005",
                                                      "Failed ReportEvent: 0x06ba"}));
  for (const auto& e : log.entries()) EXPECT_EQ(e.module + "/" + logLevelName(e.level), "eventwriter/ERR");
}

// Console writers share one process-wide lock and a file writer has one of its own, so the lines of a
// message stay together; an event writer registers its source once.
TEST(LogWriterThreads, MessagesStayWholeAndTheEventSourceIsRegisteredOnce) {
  test::TempDir dir;
  std::FILE* stream = std::fopen(dir.file("console").c_str(), "w");
  ASSERT_NE(stream, nullptr);
  constexpr int kThreads = 8, kMessages = 250;
  CConsoleWriter consoles[kThreads];
  for (CConsoleWriter& console : consoles) {
    console.init(uri("console://stderr/?style=bare"));
    console.setStream(stream);
  }
  CFileWriter file;
  file.init(uri("file://" + dir.file("file") + "?style=bare"));
  RecordingEventLog eventLog;
  CEventWriter events(eventLog);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (ready.fetch_add(1); ready.load() < kThreads;) std::this_thread::yield();  // start together
      for (int m = 0; m < kMessages; ++m) {
        const std::string id = std::to_string(t) + ":" + std::to_string(m);
        const auto message = lines({id + " a", id + " b"});
        consoles[t].write(u"L", u"m", u"INFO", message);
        file.write(u"L", u"m", u"INFO", message);
        events.write(u"L", u"m", u"INFO", message);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::fclose(stream);
  file.close();
  events.close();
  for (const char* name : {"console", "file"}) {
    std::istringstream in(test::TempDir::read(dir.file(name)));
    int count = 0;
    for (std::string a, b; std::getline(in, a) && std::getline(in, b); count += 2) {
      ASSERT_EQ(a.substr(0, a.size() - 1) + "b", b) << name << " line " << count;
    }
    EXPECT_EQ(count, 2 * kThreads * kMessages) << name;
  }
  EXPECT_EQ(eventLog.registered, 1);
  EXPECT_EQ(eventLog.events.size(), static_cast<size_t>(kThreads * kMessages));
}

}  // namespace
}  // namespace hcs
