#include "log/console_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "log/writer_test_support.h"

namespace hcs {
namespace {

TEST(ConsoleWriter, ChoosesTheStreamByHostAndTheStyleByExactValue) {
  const std::tuple<const char*, std::FILE*, bool> cases[] = {{"console://stdout", stdout, false},
                                                             {"console://stderr", stderr, false},
                                                             {"console://STDOUT", stderr, false},
                                                             {"console://stdout/?style=bare", stdout, true},
                                                             {"console://stderr/?style=Bare", stderr, false}};
  for (const auto& [destination, stream, bare] : cases) {
    CConsoleWriter w;
    w.init(test::uri(destination));
    EXPECT_EQ(w.stream(), stream) << destination;
    EXPECT_EQ(w.bare(), bare) << destination;
  }
}

TEST(ConsoleWriter, EachMessageIsFlushedAtOnce) {
  test::TempDir dir;
  std::FILE* file = std::fopen(dir.file("out").c_str(), "w");
  ASSERT_NE(file, nullptr);
  CConsoleWriter w;
  w.init(test::uri("console://stdout"));
  w.setStream(file);
  w.write(u"L", u"sql", u"WARN", test::unicodeLines({"text", "more"}));
  EXPECT_EQ(test::TempDir::read(dir.file("out")), "L [sql] WARN: text\nL [sql] WARN: more\n");
  std::fclose(file);
}

}  // namespace
}  // namespace hcs
