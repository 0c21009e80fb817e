// The tests' main: the environment every test runs in, then GoogleTest.
#include <cstdlib>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // The tests' own ODBC configuration, unless the caller chose one: no driver logs left behind.
  ::setenv("ODBCSYSINI", HCS_SOURCE_DIR "/tests/support/odbc", 0);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
