#include "config/settings.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace hcs {
namespace {

TEST(Settings, EmptyRegistryGivesDefaults) {
  CSettings settings;
  icu::UnicodeString value(u"stale");
  EXPECT_FALSE(settings.getModuleName(value));
  EXPECT_EQ(value, u"");
  value.setToBogus();
  EXPECT_FALSE(settings.getConfigFileName(value));
  EXPECT_EQ(value, u".ini");
  settings.getAppName(value);
  EXPECT_EQ(value, u"UNKNOWN_APP");
  // The library itself never stores a setting.
  theSettings.getAppName(value);
  EXPECT_EQ(value, u"UNKNOWN_APP");
}

struct SettingCase {
  const char16_t* name;
  const char16_t* stored;
  const char16_t* module;
  bool moduleFound;
  const char16_t* configFile;
  bool configFound;
  const char16_t* app;
};

class SettingsLookup : public testing::TestWithParam<SettingCase> {};

TEST_P(SettingsLookup, StoredValuesAndFallbacks) {
  const SettingCase& c = GetParam();
  CSettings settings;
  settings.setSetting(c.name, c.stored);
  icu::UnicodeString value;
  EXPECT_EQ(settings.getModuleName(value), c.moduleFound);
  EXPECT_EQ(value, c.module);
  EXPECT_EQ(settings.getConfigFileName(value), c.configFound);
  EXPECT_EQ(value, c.configFile);
  settings.getAppName(value);
  EXPECT_EQ(value, c.app);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SettingsLookup,
    testing::Values(SettingCase{u"CME_MODULE", u"matcher", u"matcher", true, u"matcher.ini", true, u"UNKNOWN_APP"},
                    SettingCase{u"ConfigFile", u"/etc/x.cfg", u"", false, u"/etc/x.cfg", true, u"UNKNOWN_APP"},
                    SettingCase{u"APP_NAME", u"node1", u"", false, u".ini", false, u"node1"},
                    // Names are case-sensitive.
                    SettingCase{u"app_name", u"node1", u"", false, u".ini", false, u"UNKNOWN_APP"},
                    SettingCase{u"cme_module", u"m", u"", false, u".ini", false, u"UNKNOWN_APP"}));

TEST(Settings, ReadersAndAWriterRunTogether) {
  CSettings settings;
  settings.setSetting(u"APP_NAME", u"a");
  std::atomic<int> odd{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      icu::UnicodeString value;
      for (int i = 0; i < 2000; ++i) {
        settings.getAppName(value);
        if (value != u"a" && value != u"b") ++odd;
      }
    });
  }
  for (int i = 0; i < 2000; ++i) settings.setSetting(u"APP_NAME", i % 2 == 0 ? u"b" : u"a");
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(odd.load(), 0);
}

}  // namespace
}  // namespace hcs
