// The temporary directories the tests write their files into.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace hcs::test {
namespace {

// A death-test child ends with exit(), which runs no destructor of the body it ran: its directory goes
// all the same, and the parent's, which it inherited, stays.
TEST(TempDir, ADirectoryOfAProcessThatEndsWithExitIsRemovedAndNotTheParents) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "fast");  // a fork, so the child shares this body's variables
  TempDir parent;
  const std::string record = parent.file("child");
  EXPECT_EXIT(
      {
        TempDir child;
        std::ofstream(record) << child.file("");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  GTEST_FLAG_SET(death_test_style, style);
  const std::string left = TempDir::read(record);
  ASSERT_FALSE(left.empty());
  EXPECT_FALSE(std::filesystem::exists(left)) << left;
}

}  // namespace
}  // namespace hcs::test
