#include "log/file_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "error/qrm_exception.h"
#include "log/writer_test_support.h"
#include "support/capturing_dispatcher.h"

namespace hcs {
namespace {

using test::readFile;

// A clock that moves only when told to, so no test waits a minute.
class FakeClock : public CLogClock {
 public:
  int64_t currentMillis() override { return now; }
  void advanceSeconds(double seconds) { now += static_cast<int64_t>(seconds * 1000); }
  int64_t now = 1'700'000'000'000;
};

class FileWriterTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto& w : writers_) w->close();
  }

  CFileWriter& open(const std::string& query, const std::string& name = "app.log") {
    writers_.push_back(std::make_unique<CFileWriter>(clock_));
    writers_.back()->init(test::uri("file://" + dir_.file(name) + query));
    return *writers_.back();
  }

  static void write(CFileWriter& w, const std::string& line, const char* module = "m") {
    w.write(u"L", UCString(module), u"INFO", test::unicodeLines({line.c_str()}));
  }

  bool exists(const std::string& name) const { return std::filesystem::exists(dir_.file(name)); }
  std::string contents(const std::string& name) const { return readFile(dir_.file(name)); }

  test::TempDir dir_;
  FakeClock clock_;
  std::vector<std::unique_ptr<CFileWriter>> writers_;
};

TEST_F(FileWriterTest, PrintsTheCommonFormatOrBareLines) {
  CFileWriter& full = open("", "full.log");
  full.write(u"L", u"sql", u"WARN", test::unicodeLines({"one", "two"}));
  EXPECT_EQ(contents("full.log"), "L [sql] WARN: one\nL [sql] WARN: two\n");

  CFileWriter& bare = open("?style=bare", "bare.log");
  bare.write(u"L", u"sql", u"WARN", test::unicodeLines({"one", "two"}));
  write(bare, "three", "filewriter");  // its own failure reports never land in its file
  EXPECT_EQ(contents("bare.log"), "one\ntwo\n");
}

TEST_F(FileWriterTest, FileNameReadsBackslashesAsSlashes) {
  CFileWriter& w = open("");
  // CUri turns the path's '/' into '\'; the file system must see the real path again.
  EXPECT_EQ(toStdString(w.fileName()), dir_.file("app.log"));
  write(w, "x");
  EXPECT_TRUE(exists("app.log"));
}

struct RotationCase {
  const char* query;
  // Each file left after four over-size rotations, with the marker line it holds.
  std::map<std::string, std::string> files;
};

class FileRotationTest : public FileWriterTest, public ::testing::WithParamInterface<RotationCase> {};

TEST_P(FileRotationTest, KeepsTheConfiguredCopiesNewestFirst) {
  CFileWriter& w = open(std::string("?style=bare&rotateSize=1") + GetParam().query);
  const std::string padding(1100, '.');
  for (int i = 1; i <= 4; ++i) {
    write(w, "line-" + std::to_string(i) + padding);  // over 1 KiB: the check after it rotates
    EXPECT_FALSE(exists("app.log")) << "rotation " << i;
    clock_.advanceSeconds(61);
  }
  std::map<std::string, std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    found[entry.path().filename().string()] = readFile(entry.path().string()).substr(0, 6);
  }
  EXPECT_EQ(found, GetParam().files);

  write(w, "fresh");
  EXPECT_EQ(contents("app.log"), "fresh\n") << "the next write starts a new, empty file";
}

INSTANTIATE_TEST_SUITE_P(Keep, FileRotationTest,
                         ::testing::Values(RotationCase{"",
                                                        {{"app.log.0", "line-4"},
                                                         {"app.log.1", "line-3"},
                                                         {"app.log.2", "line-2"},
                                                         {"app.log.3", "line-1"}}},
                                           RotationCase{"&keep=0", {}},
                                           RotationCase{"&keep=2",
                                                        {{"app.log.0", "line-4"}, {"app.log.1", "line-3"}}}));

TEST_F(FileWriterTest, ChecksTheSizeAtMostOnceAMinute) {
  CFileWriter& w = open("?rotateSize=1");
  write(w, "small");  // the first write checks at once: too small, nothing happens
  const std::string big(1100, 'x');
  clock_.advanceSeconds(30);
  write(w, big);
  clock_.advanceSeconds(30);  // exactly one minute since the check: still not due
  write(w, "a");
  EXPECT_TRUE(exists("app.log"));
  EXPECT_FALSE(exists("app.log.0"));
  clock_.now += 1;
  write(w, "b");
  EXPECT_FALSE(exists("app.log"));
  EXPECT_TRUE(exists("app.log.0"));
}

TEST_F(FileWriterTest, RotationAgeAloneNeverRotates) {
  CFileWriter& w = open("?rotateAge=1&keep=1");
  EXPECT_EQ(w.rotationAge(), 3600);
  const std::string big(4000, 'x');
  for (int i = 0; i < 5; ++i) {
    write(w, big);
    clock_.advanceSeconds(7200);
  }
  EXPECT_FALSE(exists("app.log.0"));
  EXPECT_GT(contents("app.log").size(), 5 * big.size());
}

TEST_F(FileWriterTest, UnopenableFileThrowsAndIsTriedAgain) {
  CFileWriter& w = open("", "missing/app.log");
  try {
    write(w, "x");
    FAIL() << "no exception";
  } catch (const QRMLog_Exception& e) {
    EXPECT_STREQ(e.what(), ("Failed to open log file: " + dir_.file("missing/app.log")).c_str());
    EXPECT_EQ(e.productCode(), "LOG");
    EXPECT_EQ(e.severity(), kSeverityCritical);
  }
  std::filesystem::create_directory(dir_.file("missing"));
  write(w, "y");
  EXPECT_EQ(contents("missing/app.log"), "L [m] INFO: y\n");
}

TEST_F(FileWriterTest, WriteFailureIsLoggedThenThrown) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  CFileWriter w(clock_);
  w.init(test::uri("file:///dev/full"));
  test::CapturingDispatcher log;
  EXPECT_THROW(write(w, "x"), QRMLog_Exception);
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].module, "filewriter");
  EXPECT_EQ(entries[0].level, kLogCritical);
  EXPECT_EQ(entries[0].lines, std::vector<std::string>{"Failed to write to log file: /dev/full"});
  w.close();
}

TEST_F(FileWriterTest, ConcurrentMessagesKeepTheirLinesTogether) {
  CFileWriter& w = open("?style=bare");
  constexpr int kThreads = 8, kMessages = 500, kLines = 8;
  test::runTogether(kThreads, [&w](int t) {
    for (int m = 0; m < kMessages; ++m) {
      std::vector<icu::UnicodeString> lines;
      for (int l = 0; l < kLines; ++l)
        lines.push_back(UCString(std::to_string(t * kMessages + m) + " " + std::to_string(l)));
      w.write(u"L", u"m", u"INFO", lines);
    }
  });
  const auto lines = test::splitLines(contents("app.log"));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kMessages * kLines));
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& first = lines[i - i % kLines];
    ASSERT_EQ(lines[i], first.substr(0, first.find(' ')) + " " + std::to_string(i % kLines)) << "line " << i;
  }
}

}  // namespace
}  // namespace hcs
