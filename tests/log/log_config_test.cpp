#include "log/log_config.h"

#include <gtest/gtest.h>

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

// A destination in a few words: the writer with its settings, and whether it takes tracing.
std::string describe(const CWriterDispatcher::Destination& d) {
  std::string text = "eventlog";
  if (auto* c = dynamic_cast<CConsoleWriter*>(d.writer.get())) {
    text =
        std::string("console ") + (c->stream() == stdout ? "stdout" : "stderr") + (c->bare() ? " bare" : "");
  } else if (auto* f = dynamic_cast<CFileWriter*>(d.writer.get())) {
    text = "file " + toStdString(f->fileName()) + " size=" + std::to_string(f->rotationSize());
  }
  return text + (d.filter.takes(u"", kLogDebug) ? " +DBUG" : "");
}

TEST(BuildLogDispatcher, OneWriterPerDestination) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {kDefaultLogDestination, {"console stdout"}},
      {"  console://stderr/?style=bare \t *.* ;", {"console stderr bare +DBUG"}},
      {";;CONSOLE://stdout sql.*;", {"console stdout"}},
      {"file:///var/log/app.log?rotateSize=1024 *.*;eventlog:// *.ERR",
       {"file /var/log/app.log size=1048576 +DBUG", "eventlog"}},
      {"file://./logs/app.log", {"file ./logs/app.log size=0"}}};
  for (const auto& [config, destinations] : cases) {
    std::vector<std::string> found;
    const auto dispatcher = buildLogDispatcher(config);
    for (const auto& d : dispatcher->destinations()) found.push_back(describe(*d));
    EXPECT_EQ(found, destinations) << config;
  }
}

TEST(BuildLogDispatcher, MalformedTextNamesTheDestinationAndTheFault) {
  const std::pair<const char*, const char*> cases[] = {
      {" ; ", "names no destination"},
      {"console://stdot", "console://stdout or console://stderr"},
      {"console://stdout?style=bare", "parameters follow a '/'"},
      {"console://stdout *.!DBUG extra", "a URI, a blank and one filter"},
      {"console://stdout *.FOO", "filter rule \"*.FOO\" names no level"},
      {"console://stdout/?keep=1", "unknown parameter \"keep\""},
      {"file://", "names no file"},
      {"file:///tmp/", "names no file"},
      {"file:///tmp/x.log?keeps=2", "unknown parameter \"keeps\""},
      {"file:///tmp/x.log?rotateSize=1M", "rotateSize must be a whole number"},
      {"file:///tmp/x.log?rotateSize=2097152", "from 0 to 2097151"},
      {"file:///tmp/x.log?keep=-1", "keep must be"},
      {"eventlog:///?x=1", "unknown parameter \"x\""},
      // ';' separates destinations, so a query joined with it splits the destination.
      {"file:///tmp/x.log?rotateSize=1;keep=2", "\"keep=2\": unknown writer"},
      {"console://stdout;bogus:// *.*", "\"bogus:// *.*\": unknown writer"}};
  for (const auto& [config, fault] : cases) {
    try {
      buildLogDispatcher(config);
      ADD_FAILURE() << "accepted " << config;
    } catch (const QRM_Exception& e) {
      EXPECT_NE(std::string(e.what()).find(fault), std::string::npos) << config << " -> " << e.what();
    }
  }
}

std::string drain(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

TEST(LogEnvironment, UnsetOrBlankInstallsNothingMalformedSaysWhyOnce) {
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

// Keeps every write call ("module|level|line|line…") and throws while `fail` is set.
class RecordingWriter : public CLogWriter {
 public:
  explicit RecordingWriter(int& closes) : closes_(closes) {}
  void init(const CUri&) override {}
  void write(const icu::UnicodeString& leading, const icu::UnicodeString& module,
             const icu::UnicodeString& levelName, const std::vector<icu::UnicodeString>& lines) override {
    std::string call = toStdString(module) + "|" + toStdString(levelName);
    for (const auto& line : lines) call.append(1, '|').append(toStdString(line));
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
  dispatcher->add(test::uri("x://"), CLogFilter::parse("*.*"), std::unique_ptr<CLogWriter>(all));
  dispatcher->add(test::uri("file:///x.log"), CLogFilter::parse("*.ERR"),
                  std::unique_ptr<CLogWriter>(failing));

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

}  // namespace
}  // namespace hcs
