#include "config/settings.h"

#include <gtest/gtest.h>

#include <thread>

namespace hcs {
namespace {

struct SettingCase {
  const char16_t* name;  // stored with the value "v"
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
  settings.setSetting(c.name, u"v");
  icu::UnicodeString value;
  value.setToBogus();  // lookups must leave a valid string whatever they are given
  EXPECT_EQ(settings.getModuleName(value), c.moduleFound);
  EXPECT_EQ(value, c.module);
  EXPECT_EQ(settings.getConfigFileName(value), c.configFound);
  EXPECT_EQ(value, c.configFile);
  settings.getAppName(value);
  EXPECT_EQ(value, c.app);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SettingsLookup,
    testing::Values(SettingCase{u"OTHER", u"", false, u".ini", false, u"UNKNOWN_APP"},
                    SettingCase{u"CME_MODULE", u"v", true, u"v.ini", true, u"UNKNOWN_APP"},
                    SettingCase{u"ConfigFile", u"", false, u"v", true, u"UNKNOWN_APP"},
                    SettingCase{u"APP_NAME", u"", false, u".ini", false, u"v"},
                    // Names are case-sensitive.
                    SettingCase{u"app_name", u"", false, u".ini", false, u"UNKNOWN_APP"}));

TEST(Settings, LibraryInstanceStaysEmpty) {
  icu::UnicodeString value;
  EXPECT_FALSE(theSettings.getConfigFileName(value));
  EXPECT_EQ(value, u".ini");
}

// Under ThreadSanitizer this shows lookups and a writer share the map safely.
TEST(Settings, ConcurrentReadersAndAWriterShareTheMapSafely) {
  CSettings settings;
  std::thread reader([&] {
    icu::UnicodeString value;
    for (int i = 0; i < 1000; ++i) settings.getAppName(value);
  });
  for (int i = 0; i < 1000; ++i) settings.setSetting(u"APP_NAME", i % 2 == 0 ? u"a" : u"b");
  reader.join();
  icu::UnicodeString value;
  settings.getAppName(value);
  EXPECT_EQ(value, u"b");
}

}  // namespace
}  // namespace hcs
