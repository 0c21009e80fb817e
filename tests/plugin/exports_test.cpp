// The library as a host sees it: loaded with dlopen, three C symbols and nothing else.
#include <dlfcn.h>

#include <array>
#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string run(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return out;
  std::array<char, 512> buf{};
  while (fgets(buf.data(), buf.size(), pipe.get()) != nullptr) out += buf.data();
  return out;
}

TEST(Exports, OnlyTheThreeFunctionsAreExported) {
  const std::string table = run(std::string("nm -D --defined-only ") + HCS_PLUGIN_PATH);
  std::set<std::string> names;
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) names.insert(name);
  }
  EXPECT_EQ(names, (std::set<std::string>{"getVersion", "initPlugin", "score"})) << table;
}

TEST(Exports, GetVersionAnswersTheSamePointerBeforeAnyInit) {
  void* handle = dlopen(HCS_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  using GetVersion = const char* (*)();
  auto getVersion = reinterpret_cast<GetVersion>(dlsym(handle, "getVersion"));
  ASSERT_NE(getVersion, nullptr);
  const char* first = getVersion();
  EXPECT_STREQ(first, "1.0");
  EXPECT_EQ(getVersion(), first);
  dlclose(handle);
}

}  // namespace
