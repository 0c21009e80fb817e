// The temporary directories the tests write their files into.
#include "support/temp_dir.h"

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

namespace hcs::test {
namespace {

// A death-test child ends with exit(), which runs no destructor of the body it ran: its directories go
// all the same.
TEST(TempDir, ADirectoryOfAProcessThatEndsWithExitIsRemoved) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  // The child runs this body again from the start; where to say which directory it made travels to it
  // through the environment (it keeps the value it inherited).
  ::setenv("HCS_TEMP_DIR_TEST_RECORD", dir.file("child").c_str(), 0);
  const std::string record = ::getenv("HCS_TEMP_DIR_TEST_RECORD");
  EXPECT_EXIT(
      {
        TempDir child;
        std::ofstream(record) << child.file("");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  ::unsetenv("HCS_TEMP_DIR_TEST_RECORD");
  const std::string left = TempDir::read(record);
  ASSERT_FALSE(left.empty());
  EXPECT_FALSE(std::filesystem::exists(left)) << left;
}

}  // namespace
}  // namespace hcs::test
