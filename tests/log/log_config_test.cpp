#include "log/log_config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>

#include "error/qrm_exception.h"
#include "log/console_writer.h"
#include "log/event_writer.h"
#include "log/file_writer.h"
#include "log/log_platform.h"
#include "log/writer_test_support.h"

namespace hcs {
namespace {

// One word picture of a destination: the writer with its settings, and whether it takes tracing.
std::string describe(const CWriterDispatcher::Destination& d) {
  std::string text;
  if (auto* c = dynamic_cast<CConsoleWriter*>(d.writer.get())) {
    text =
        std::string("console ") + (c->stream() == stdout ? "stdout" : "stderr") + (c->bare() ? " bare" : "");
  } else if (auto* f = dynamic_cast<CFileWriter*>(d.writer.get())) {
    text = "file " + toStdString(f->fileName()) + " size=" + std::to_string(f->rotationSize()) +
           " age=" + std::to_string(f->rotationAge()) +
           " keep=" + std::to_string(static_cast<int32_t>(f->keep()));
  } else if (dynamic_cast<CEventWriter*>(d.writer.get()) != nullptr) {
    text = "eventlog";
  }
  return text + (d.filter.takes(u"", kLogDebug) ? " +DBUG" : "");
}

struct ValidCase {
  const char* config;
  std::vector<std::string> destinations;
};

class LogConfigValidTest : public ::testing::TestWithParam<ValidCase> {};

TEST_P(LogConfigValidTest, BuildsOneWriterPerDestination) {
  const auto dispatcher = buildLogDispatcher(GetParam().config);
  std::vector<std::string> found;
  for (const auto& d : dispatcher->destinations()) found.push_back(describe(*d));
  EXPECT_EQ(found, GetParam().destinations) << GetParam().config;
}

INSTANTIATE_TEST_SUITE_P(
    Values, LogConfigValidTest,
    ::testing::Values(
        ValidCase{kDefaultLogDestination, {"console stdout"}},
        ValidCase{"console://stderr", {"console stderr"}},
        ValidCase{"  console://stderr/?style=bare \t *.* ;", {"console stderr bare +DBUG"}},
        ValidCase{";;CONSOLE://stdout sql.*;", {"console stdout"}},
        ValidCase{
            "file:///var/log/hcs/app.log?rotateSize=1024&keep=3&rotateAge=24 *.*;eventlog:// *.ERR,*.CRIT",
            {"file /var/log/hcs/app.log size=1048576 age=86400 keep=3 +DBUG", "eventlog"}},
        ValidCase{"file://./logs/app.log", {"file ./logs/app.log size=0 age=0 keep=-1"}},
        ValidCase{"file:///tmp/a%20b.log?keep=0&style=bare", {"file /tmp/a b.log size=0 age=0 keep=0"}}));

class LogConfigMalformedTest : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(LogConfigMalformedTest, NamesDestinationAndFault) {
  try {
    buildLogDispatcher(GetParam().first);
    FAIL() << "accepted " << GetParam().first;
  } catch (const QRM_Exception& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().second), std::string::npos)
        << GetParam().first << " -> " << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, LogConfigMalformedTest,
    ::testing::Values(std::pair{"", "names no destination"}, std::pair{" ; ", "names no destination"},
                      std::pair{"syslog://", "\"syslog://\": unknown writer"},
                      std::pair{"console://stdot", "console://stdout or console://stderr"},
                      std::pair{"console://stdout?style=bare", "parameters follow a '/'"},
                      std::pair{"console://stdout *.!DBUG extra", "a URI, a blank and one filter"},
                      std::pair{"console://stdout *.FOO", "filter rule \"*.FOO\" names no level"},
                      std::pair{"console://stdout/?keep=1", "unknown parameter \"keep\""},
                      std::pair{"file://", "names no file"}, std::pair{"file:///tmp/", "names no file"},
                      std::pair{"file:///tmp/x.log?keeps=2", "unknown parameter \"keeps\""},
                      std::pair{"file:///tmp/x.log?rotateSize=1M", "rotateSize must be a whole number"},
                      std::pair{"file:///tmp/x.log?rotateSize=2097152", "from 0 to 2097151"},
                      std::pair{"file:///tmp/x.log?keep=-1", "keep must be"},
                      // ';' separates destinations, so a query joined with it splits the destination.
                      std::pair{"file:///tmp/x.log?rotateSize=1;keep=2", "\"keep=2\": unknown writer"},
                      std::pair{"console://stdout;bogus:// *.*", "\"bogus:// *.*\": unknown writer"}));

std::string drain(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

TEST(LogEnvironment, UnsetOrBlankInstallsNothingSilently) {
  std::FILE* errors = std::tmpfile();
  EXPECT_EQ(dispatcherFromEnvironmentValue(nullptr, errors), nullptr);
  EXPECT_EQ(dispatcherFromEnvironmentValue(" \t", errors), nullptr);
  EXPECT_NE(dispatcherFromEnvironmentValue("console://stderr", errors), nullptr);
  EXPECT_EQ(drain(errors), "");
  EXPECT_EQ(dispatcherFromEnvironmentValue("console://stderr *.NOPE", errors), nullptr);
  EXPECT_EQ(
      drain(errors),
      "httpCalloutScoring: HTTPCALLOUT_LOG is ignored and logging stays off: log destination "
      "\"console://stderr *.NOPE\": filter rule \"*.NOPE\" names no level (CRIT, ERR, WARN, NOTE, INFO, "
      "DBUG or *)\n");
  std::fclose(errors);
}

TEST(LogEnvironment, InstallReadsTheVariableOnce) {
  // In a child process: installing is once per process and lasts until exit.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::setenv(kLogEnvironmentVariable, "console://stderr/?style=bare sql.*", 1);
        installLogFromEnvironment();
        logLine("sql", kLogDebug, u"hello %d", 7);
        logLine(kLogError, u"filtered out");
        ::setenv(kLogEnvironmentVariable, "console://stderr/?style=bare *.*", 1);
        installLogFromEnvironment();
        logLine(kLogError, u"still filtered out");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^hello 7\n$");
  EXPECT_EXIT(
      {
        ::setenv(kLogEnvironmentVariable, "bogus://", 1);
        installLogFromEnvironment();
        logLine(kLogCritical, u"nowhere");
        std::exit(logDispatcher() == nullptr ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "^httpCalloutScoring: HTTPCALLOUT_LOG is ignored[^\n]*\n$");
}

// Keeps every write call as it arrives.
class RecordingWriter : public CLogWriter {
 public:
  void init(const CUri&) override {}
  void write(const icu::UnicodeString& leading, const icu::UnicodeString& module,
             const icu::UnicodeString& levelName, const std::vector<icu::UnicodeString>& lines) override {
    std::string call = toStdString(module) + "|" + toStdString(levelName);
    for (const auto& line : lines) call.append(1, '|').append(toStdString(line));
    calls.push_back(call);
    leadings.push_back(toStdString(leading));
    if (fail) throw std::runtime_error("disk on fire");
  }
  void close() override { ++*closes; }

  std::vector<std::string> calls;
  std::vector<std::string> leadings;
  bool fail = false;
  int* closes = &ownCloses;
  int ownCloses = 0;
};

TEST(WriterDispatcher, EachMessageIsOneWriteToEveryDestinationThatTakesIt) {
  auto dispatcher = std::make_unique<CWriterDispatcher>();
  auto* all = new RecordingWriter;
  auto* errors = new RecordingWriter;
  dispatcher->add(test::uri("x://"), CLogFilter::parse("*.*"), std::unique_ptr<CLogWriter>(all));
  dispatcher->add(test::uri("y://"), CLogFilter::parse("*.ERR"), std::unique_ptr<CLogWriter>(errors));

  CLogMessage three("sql", kLogError);
  three.addLine(u"one").addLine(u"two").addLine(u"three");
  dispatcher->dispatch(three);
  dispatcher->dispatch(CLogMessage(kLogDebug).addLine(u"trace"));
  EXPECT_EQ(all->calls, (std::vector<std::string>{"sql|ERR|one|two|three", "|DBUG|trace"}));
  EXPECT_EQ(errors->calls, std::vector<std::string>{"sql|ERR|one|two|three"});

  const std::regex leading(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )" + std::to_string(currentThreadId()));
  EXPECT_TRUE(std::regex_match(all->leadings[0], leading)) << all->leadings[0];
  int closes = 0;
  all->closes = &closes;
  errors->closes = &closes;
  dispatcher.reset();
  EXPECT_EQ(closes, 2) << "the dispatcher closes the writers it owns";
}

TEST(WriterDispatcher, LeadingFieldCarriesTheStampsMilliseconds) {
  const auto stamp = CLogMessage::Clock::time_point(std::chrono::milliseconds(1'700'000'000'042));
  EXPECT_NE(toStdString(logLeadingField(stamp)).find(":20.042 "), std::string::npos);
}

TEST(WriterDispatcher, WriterFailureNeverReachesTheCallerAndIsReportedOncePerRun) {
  std::FILE* errors = std::tmpfile();
  CWriterDispatcher dispatcher(errors);
  auto* writer = new RecordingWriter;
  dispatcher.add(test::uri("file:///x.log"), CLogFilter::parse("*.*"), std::unique_ptr<CLogWriter>(writer));
  writer->fail = true;
  for (int i = 0; i < 3; ++i) EXPECT_NO_THROW(dispatcher.dispatch(CLogMessage(kLogError).addLine(u"x")));
  writer->fail = false;
  dispatcher.dispatch(CLogMessage(kLogError).addLine(u"x"));
  writer->fail = true;
  dispatcher.dispatch(CLogMessage(kLogError).addLine(u"x"));
  EXPECT_EQ(writer->calls.size(), 5u);
  const std::string line = "httpCalloutScoring: log destination \"file:///x.log\" failed: disk on fire\n";
  EXPECT_EQ(drain(errors), line + line);
  std::fclose(errors);
}

TEST(WriterDispatcher, FileDestinationsGetTheirShareOfTheLog) {
  test::TempDir dir;
  auto dispatcher = buildLogDispatcher("file://" + dir.file("all.log") + " *.*;file://" +
                                       dir.file("err.log") + "?style=bare *.ERR,*.CRIT");
  CLogDispatcher* previous = setLogDispatcher(dispatcher.get());
  logLine("sql", kLogError, u"boom %d", 1);
  logLine(kLogInfo, u"fine");
  setLogDispatcher(previous);
  dispatcher.reset();  // closes the files

  const auto all = test::splitLines(test::readFile(dir.file("all.log")));
  ASSERT_EQ(all.size(), 2u);
  EXPECT_TRUE(std::regex_match(all[0], std::regex(R"(\S+ \S+ \d+ \[sql\] ERR: boom 1)"))) << all[0];
  EXPECT_TRUE(std::regex_match(all[1], std::regex(R"(\S+ \S+ \d+ \[\] INFO: fine)"))) << all[1];
  EXPECT_EQ(test::readFile(dir.file("err.log")), "boom 1\n");
}

}  // namespace
}  // namespace hcs
