// The plugin as a host finds it: three C symbols, and a version before any initPlugin.
#include <cstdio>
#include <string>

#include <dlfcn.h>

#include <gtest/gtest.h>

namespace hcs {
namespace {

TEST(Exports, OnlyTheThreeFunctionsAreExported) {
  std::string table;
  FILE* pipe = popen((std::string("nm -D --defined-only -j ") + HCS_PLUGIN_PATH).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  for (int c; (c = std::fgetc(pipe)) != EOF;) table += static_cast<char>(c);
  pclose(pipe);
  EXPECT_EQ(table, "getVersion\ninitPlugin\nscore\n");
}

TEST(Exports, GetVersionAnswersTheSamePointerBeforeAnyInit) {
  void* handle = dlopen(HCS_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto getVersion = reinterpret_cast<const char* (*)()>(dlsym(handle, "getVersion"));
  ASSERT_NE(getVersion, nullptr);
  const char* first = getVersion();
  EXPECT_STREQ(first, "1.0");
  EXPECT_EQ(getVersion(), first);
  dlclose(handle);
}

}  // namespace
}  // namespace hcs
