#include "log/file_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "error/qrm_exception.h"
#include "log/writer_test_support.h"
#include "support/capturing_dispatcher.h"

namespace hcs {
namespace {

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
    w->init(test::uri("file://" + dir_.file(name) + query));
    return w;
  }
  static void write(CFileWriter& w, const std::string& line, const char* module = "m") {
    w.write(u"L", UCString(module), u"INFO", test::unicodeLines({line}));
  }
  void advanceSeconds(int seconds) { clock_.now += seconds * 1000; }
  bool exists(const std::string& name) const { return std::filesystem::exists(dir_.file(name)); }
  std::string contents(const std::string& name) const { return test::TempDir::read(dir_.file(name)); }

  test::TempDir dir_;
  FakeClock clock_;
};

TEST_F(FileWriterTest, PrintsTheCommonFormatOrBareLinesToTheRealPath) {
  auto full = open("", "full.log");
  // CUri turns the path's '/' into '\'; the file system must see the real path again.
  EXPECT_EQ(toStdString(full->fileName()), dir_.file("full.log"));
  full->write(u"L", u"sql", u"WARN", test::unicodeLines({"one", "two"}));
  EXPECT_EQ(contents("full.log"), "L [sql] WARN: one\nL [sql] WARN: two\n");

  auto bare = open("?style=bare", "bare.log");
  bare->write(u"L", u"sql", u"WARN", test::unicodeLines({"one", "two"}));
  write(*bare, "three", "filewriter");  // its own failure reports never land in its file
  EXPECT_EQ(contents("bare.log"), "one\ntwo\n");
}

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

TEST_F(FileWriterTest, ChecksTheSizeAtMostOnceAMinuteAndNeverRotatesByAge) {
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

  auto aged = open("?rotateAge=1&keep=1", "aged.log");
  EXPECT_EQ(aged->rotationAge(), 3600);
  for (int i = 0; i < 2; ++i) {
    write(*aged, "x");
    advanceSeconds(7200);
  }
  EXPECT_EQ(contents("aged.log"), "L [m] INFO: x\nL [m] INFO: x\n");
}

TEST_F(FileWriterTest, UnopenableFileThrowsAndIsTriedAgain) {
  auto w = open("", "missing/app.log");
  try {
    write(*w, "x");
    FAIL() << "no exception";
  } catch (const QRMLog_Exception& e) {
    EXPECT_STREQ(e.what(), ("Failed to open log file: " + dir_.file("missing/app.log")).c_str());
    EXPECT_EQ(e.productCode(), "LOG");
    EXPECT_EQ(e.severity(), kSeverityCritical);
    EXPECT_EQ(e.entry(0).number(), 1u);
  }
  std::filesystem::create_directory(dir_.file("missing"));
  write(*w, "y");
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
}

}  // namespace
}  // namespace hcs
