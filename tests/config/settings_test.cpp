#include "config/settings.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "util/ucstring.h"

namespace hcs {
namespace {

TEST(Settings, StoredValuesAndFallbacks) {
  // setting stored with the value "v"; then module name and found, config file and found, app name
  // clang-format off
  const std::tuple<const char16_t*, const char16_t*, bool, const char16_t*, bool, const char16_t*> cases[] = {
      {u"OTHER",      u"",  false, u".ini",  false, u"UNKNOWN_APP"},
      {u"CME_MODULE", u"v", true,  u"v.ini", true,  u"UNKNOWN_APP"},
      {u"ConfigFile", u"",  false, u"v",     true,  u"UNKNOWN_APP"},
      {u"APP_NAME",   u"",  false, u".ini",  false, u"v"},
      {u"app_name",   u"",  false, u".ini",  false, u"UNKNOWN_APP"}};  // names are case-sensitive
  // clang-format on
  for (const auto& [name, module, moduleFound, configFile, configFound, app] : cases) {
    CSettings settings;
    settings.setSetting(name, u"v");
    icu::UnicodeString value;
    value.setToBogus();  // lookups must leave a valid string whatever they are given
    EXPECT_EQ(settings.getModuleName(value), moduleFound) << toStdString(name);
    EXPECT_EQ(value, module) << toStdString(name);
    EXPECT_EQ(settings.getConfigFileName(value), configFound) << toStdString(name);
    EXPECT_EQ(value, configFile) << toStdString(name);
    settings.getAppName(value);
    EXPECT_EQ(value, app) << toStdString(name);
  }
}

// Lookups and a writer share the map under one readers-writer lock.
TEST(SettingsThreads, ReadersAndAWriterShareTheMapSafely) {
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
