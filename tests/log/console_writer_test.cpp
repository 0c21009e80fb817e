#include "log/console_writer.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <memory>
#include <mutex>
#include <string>

#include "log/writer_test_support.h"

namespace hcs {
namespace {

// A stdio stream that records what reaches its file side, one entry per flush of its (large) buffer.
class RecordingStream {
 public:
  RecordingStream() {
    cookie_io_functions_t io{};
    io.write = [](void* self, const char* data, size_t size) -> ssize_t {
      auto* stream = static_cast<RecordingStream*>(self);
      std::lock_guard lock(stream->mutex_);
      stream->chunks_.emplace_back(data, size);
      return static_cast<ssize_t>(size);
    };
    file_ = fopencookie(this, "w", io);
    setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  }
  ~RecordingStream() { fclose(file_); }

  FILE* file() const { return file_; }
  std::vector<std::string> chunks() const {
    std::lock_guard lock(mutex_);
    return chunks_;
  }
  std::string text() const {
    std::string all;
    for (const auto& c : chunks()) all += c;
    return all;
  }

 private:
  FILE* file_;
  mutable std::mutex mutex_;
  std::vector<std::string> chunks_;
};

struct StreamCase {
  const char* uri;
  bool toStdout;
  bool bare;
};

class ConsoleInitTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(ConsoleInitTest, ChoosesStreamByHostAndStyleByExactValue) {
  CConsoleWriter w;
  w.init(test::uri(GetParam().uri));
  EXPECT_EQ(w.stream(), GetParam().toStdout ? stdout : stderr);
  EXPECT_EQ(w.bare(), GetParam().bare);
}

INSTANTIATE_TEST_SUITE_P(Destinations, ConsoleInitTest,
                         ::testing::Values(StreamCase{"console://stdout", true, false},
                                           StreamCase{"console://stderr", false, false},
                                           StreamCase{"console://", false, false},
                                           StreamCase{"console://STDOUT", false, false},
                                           StreamCase{"console://stdout/?style=bare", true, true},
                                           StreamCase{"console://stderr/?style=Bare", false, false},
                                           StreamCase{"console://stdout/?style=full", true, false}));

TEST(ConsoleWriter, OneMessageIsPrintedAndFlushedOnce) {
  RecordingStream out;
  CConsoleWriter full;
  full.init(test::uri("console://stdout"));
  full.setStream(out.file());
  full.write(u"L", u"sql", u"WARN", test::unicodeLines({"text", "more"}));
  EXPECT_EQ(out.chunks(), std::vector<std::string>{"L [sql] WARN: text\nL [sql] WARN: more\n"});

  CConsoleWriter bare;
  bare.init(test::uri("console://stdout/?style=bare"));
  bare.setStream(out.file());
  bare.write(u"L", u"", u"INFO", test::unicodeLines({"text"}));
  bare.write(u"L", u"", u"INFO", {});
  EXPECT_EQ(out.text(), "L [sql] WARN: text\nL [sql] WARN: more\ntext\n");
  EXPECT_EQ(out.chunks().size(), 2u);
}

TEST(ConsoleWriter, ConcurrentWritersShareOneLockSoMessagesNeverInterleave) {
  RecordingStream out;
  constexpr int kThreads = 8, kMessages = 1000;
  std::vector<std::unique_ptr<CConsoleWriter>> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.push_back(std::make_unique<CConsoleWriter>());
    writers.back()->init(test::uri("console://stderr/?style=bare"));
    writers.back()->setStream(out.file());
  }
  test::runTogether(kThreads, [&writers](int t) {
    for (int m = 0; m < kMessages; ++m) {
      const std::string id = std::to_string(t) + ":" + std::to_string(m);
      writers[t]->write(u"L", u"m", u"INFO", test::unicodeLines({(id + " a").c_str(), (id + " b").c_str()}));
    }
  });
  const auto chunks = out.chunks();
  ASSERT_EQ(chunks.size(), static_cast<size_t>(kThreads * kMessages));
  for (const auto& chunk : chunks) {
    const std::string id = chunk.substr(0, chunk.find(' '));
    ASSERT_EQ(chunk, id + " a\n" + id + " b\n");
  }
}

}  // namespace
}  // namespace hcs
