// What the library must never do to its host: block on a configuration name that is no file.
#include <filesystem>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "config/ini_store.h"
#include "error/qrm_exception.h"

namespace hcs {
namespace {

class ConfigFileKind : public ::testing::TestWithParam<const char*> {};

TEST_P(ConfigFileKind, IsRefusedAtOnce) {
  test::TempDir dir;
  std::string name = GetParam();
  if (name == "fifo") {
    name = dir.file("fifo.ini");
    ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
  } else if (name == "big") {
    name = dir.write("big.ini", "[ATTR_URI]\n");
    std::filesystem::resize_file(name, CCMEParameterINIStore::kMaxFileBytes + 1);  // sparse
  }
  try {
    CCMEParameterINIStore store(name.c_str(), u"APP", nullptr, 0);
    ADD_FAILURE() << name << " was read";
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(toStdString(e.entry(0).message().code()), "9113E") << name;
    EXPECT_EQ(e.what(), "Failed to open ini file for reading [" + name + "]");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ConfigFileKind, ::testing::Values("fifo", "/dev/zero", "big", "/"));

}  // namespace
}  // namespace hcs
