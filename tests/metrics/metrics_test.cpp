// Metrics: how the HTTPCALLOUT_METRICS value is read, which block and name a type counts under, and how
// the file is put in place.
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "metrics/callout_metrics.h"
#include "metrics/metrics_file.h"
#include "metrics/metrics_platform.h"
#include "plugin/init_plugin.h"

namespace hcs {
namespace {

struct SettingCase {
  std::string value;
  std::string expected;  // "path|seconds", or the refusal's text
};

class MetricsSetting : public ::testing::TestWithParam<SettingCase> {};

TEST_P(MetricsSetting, IsReadOrRefusedWithAReason) {
  const SettingCase& c = GetParam();
  try {
    const MetricsFileSetting setting = parseMetricsSetting(c.value);
    EXPECT_EQ(setting.path + "|" + std::to_string(setting.interval.count()), c.expected);
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(e.what(), c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MetricsSetting,
    ::testing::Values(SettingCase{"file:///var/lib/hcs/hcs.prom?interval=15", "/var/lib/hcs/hcs.prom|15"},
                      SettingCase{" FILE://./rel%20dir/hcs.prom ", "rel dir/hcs.prom|10"},
                      SettingCase{"http://h/x", "\"http://h/x\" is no file URI (file:///absolute/hcs.prom)"},
                      SettingCase{"file:///var/lib/",
                                  "\"file:///var/lib/\" names no file (file:///absolute/hcs.prom "
                                  "or file://./relative/hcs.prom)"},
                      SettingCase{"file:///x.prom?interval=0",
                                  "interval must be a whole number of seconds from 1 to 86400, not \"0\""},
                      SettingCase{"file:///x.prom?every=5", "unknown parameter \"every\""}));

// A score before the type's initPlugin, initPlugin naming and renaming it, and the cap on identifiers
// calls bring, which a configured type never falls under.
TEST(MetricsRegistry, ATypeHasTheNameOfItsLatestInitPluginAndABlockOfItsOwn) {
  MetricsRegistry registry;
  CalloutMetrics* early = registry.forUnconfiguredType(7);
  early->countCall(CallOutcome::kUnconfigured, {});
  for (const char* name : {"NAME", "RENAMED"}) EXPECT_EQ(registry.forType(7, name), early);
  int32_t id = 1000;
  while (registry.forUnconfiguredType(id)->typeId() == id) ++id;
  EXPECT_EQ(id, 1000 + static_cast<int32_t>(MetricsRegistry::kMaxTypes));
  EXPECT_EQ(registry.forType(id, "LATE")->typeId(), id);
  EXPECT_EQ(registry.forUnconfiguredType(7), early);
  const std::string text = registry.exposition();
  EXPECT_NE(text.find("calls_total{type_id=\"7\",type=\"RENAMED\",outcome=\"unconfigured\"} 1\n"),
            std::string::npos);
  EXPECT_NE(text.find("open{type_id=\"" + std::to_string(id) + "\",type=\"LATE\"} 0\n"), std::string::npos);
  EXPECT_NE(text.find("open{type_id=\"-1\",type=\"other\"} 0\n"), std::string::npos);
}

// initPlugin renaming a type while the writer reads the names: ThreadSanitizer watches this one.
TEST(MetricsRegistryThreads, ATypeIsRenamedWhileTheFileIsWritten) {
  MetricsRegistry registry;
  CalloutMetrics* block = registry.forUnconfiguredType(1);
  std::thread writer([&] {
    for (int i = 0; i < 200; ++i) registry.exposition();
  });
  for (int i = 0; i < 200; ++i) EXPECT_EQ(registry.forType(1, i % 2 == 0 ? "EVEN" : "ODD"), block);
  writer.join();
  EXPECT_NE(registry.exposition().find("type=\"ODD\""), std::string::npos);
}

// A link planted at the temporary name the writer once used (<path>.<pid>.tmp) and one on a name it
// creates: neither is followed nor replaced, and the file is a plain file readable by all.
TEST(MetricsFile, APlantedLinkIsNeitherFollowedNorReplaced) {
  test::TempDir dir;
  const std::string file = dir.file("hcs.prom"), victim = dir.write("victim", "kept");
  const std::string planted = file + "." + std::to_string(::getpid()) + ".tmp";
  std::filesystem::create_symlink(victim, planted);
  std::string failure;
  EXPECT_EQ(writeNewFile(planted, "written", failure), NewFileResult::kExists);
  MetricsRegistry registry;
  const mode_t umask = ::umask(022);
  {
    MetricsFileWriter writer(registry, {file, std::chrono::seconds(3600)});
    EXPECT_TRUE(writer.writeNow());
  }
  ::umask(umask);
  EXPECT_EQ(test::TempDir::read(victim), "kept");
  EXPECT_TRUE(std::filesystem::is_symlink(planted));
  EXPECT_EQ(std::filesystem::symlink_status(file).permissions(), std::filesystem::perms(0644));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("")), {}), 3);  // no .tmp left
}

}  // namespace
}  // namespace hcs
