// What score calls count, checked in the file the writer leaves (with promtool when it is installed) and
// read back number by number: the plugin's calls against the loopback server.
#include <clocale>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "metrics/callout_metrics.h"
#include "metrics/metrics_file.h"
#include "plugin/init_plugin.h"
#include "plugin/score.h"
#include "support/http_test_server.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;

// The number of one series in an exposition text; -1 when it is missing.
double sample(const std::string& text, const std::string& series) {
  const size_t at = text.find("\n" + series + " ");
  return at == std::string::npos ? -1 : std::strtod(text.c_str() + at + series.size() + 2, nullptr);
}

// Switches the process to de_DE.UTF-8, which writes numbers with a decimal comma, as a host calling
// setlocale(LC_ALL, "") under it does; the locale is built in `dir` when the system has not got it
// (localedef, from the package locales). Whether the decimal point is now a comma.
bool switchToDecimalComma(const test::TempDir& dir) {
  const std::string made = dir.file("de_DE.UTF-8");
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr &&
      std::system(("localedef -i de_DE -f UTF-8 " + made + " > /dev/null 2>&1").c_str()) != -1) {
    ::setenv("LOCPATH", dir.file("").c_str(), 1);
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    ::unsetenv("LOCPATH");
  }
  return std::string(std::localeconv()->decimal_point) == ",";
}

// One call of each kind against one attribute type, and two that find no callout.
TEST(ScoreMetrics, EveryCallIsCountedOnceByHowItEndedAndTheFilePassesPromtool) {
  // Interfaces keep their block until the process ends, so it is never destroyed: a static made here
  // would go before the callout table built by earlier tests, which still points into it.
  static MetricsRegistry& registry = *new MetricsRegistry;
  MetricsRegistry* previous = setActiveMetrics(&registry);
  test::HttpTestServer server;
  test::TempDir dir;
  const std::string key = "15300";
  const std::string doc =
      "<I><CONFIG_FILE>" + dir.write("c.ini", "[ATTR_URI]\nM\"x=" + server.uri("/s") + "\n") +
      "</CONFIG_FILE><ATTR_TYPE>M\"x</ATTR_TYPE><ATTR_TYPE_ID>" + key + "</ATTR_TYPE_ID></I>";
  std::string buffer(4097, '\0');
  ASSERT_EQ(initializePlugin(doc.data(), static_cast<int32_t>(doc.size()), buffer.data()), 0)
      << buffer.c_str();

  const HttpTestAnswer reply = HttpTestAnswer::ok("<S>0.5</S>");
  const HttpTestAnswer status404 = HttpTestAnswer::withStatus(404, "Not Found", "");
  struct Call {
    std::vector<HttpTestAnswer> answers;
    std::string inboundType, matchedType;
    uint32_t maxResult;
  };
  const Call calls[] = {
      {{reply}, key, key, 100},                                                                // ok
      {{HttpTestAnswer::withStatus(500, "Internal Server Error", ""), reply}, key, key, 100},  // ok
      {{HttpTestAnswer::withFault(HttpTestAnswer::Fault::kGarbageStatusLine), reply},
       key,
       key,
       100},                                                          // transport
      {{status404, status404, status404, status404}, key, key, 100},  // exhausted
      {{HttpTestAnswer::ok("")}, key, key, 100},                      // empty
      {{HttpTestAnswer::ok("<ERROR>no</ERROR>")}, key, key, 100},     // service_error
      {{reply}, key, "0" + key, 100},                                 // mismatch
      {{reply}, key, key, 5},                                         // too_large
      {{}, "15399", "15399", 100},                                    // unconfigured
  };
  for (const Call& c : calls) {
    for (const auto& answer : c.answers) server.enqueue(answer);
    const std::string in = "<ATTRIBUTE><ATTR_TYPE_ID>" + c.inboundType + "</ATTR_TYPE_ID></ATTRIBUTE>";
    const std::string matched = "<ATTRIBUTE><ATTR_TYPE_ID>" + c.matchedType + "</ATTR_TYPE_ID></ATTRIBUTE>";
    scoreRequest("<R/>", 4, in.data(), static_cast<int32_t>(in.size()), matched.data(),
                 static_cast<int32_t>(matched.size()), buffer.data(), c.maxResult);
  }
  scoreRequest("<R/>", 4, "<A>", 3, "<A/>", 4, buffer.data(), 100);  // bad_input, type id 0
  setActiveMetrics(previous);

  const std::string file = dir.file("hcs.prom");
  const bool comma = switchToDecimalComma(dir);
  { MetricsFileWriter writer(registry, {file, std::chrono::seconds(3600)}); }  // writes once as it ends
  std::setlocale(LC_ALL, "C");
  ASSERT_TRUE(comma) << "de_DE.UTF-8 cannot be made: is the package locales installed?";
  const std::string text = "\n" + test::TempDir::read(file);
  if (std::system("command -v promtool > /dev/null") == 0) {
    EXPECT_EQ(std::system(("promtool check metrics < " + file).c_str()), 0) << text;
  }
  EXPECT_FALSE(std::regex_search(text, std::regex("[0-9],[0-9]"))) << text;
  const std::string type = "type_id=\"" + key + "\",type=\"M\\\"x\"";
  const std::map<std::string, double> outcomes = {{"ok", 2},        {"service_error", 1}, {"transport", 1},
                                                  {"exhausted", 1}, {"empty", 1},         {"too_large", 1},
                                                  {"mismatch", 1},  {"unconfigured", 0},  {"bad_input", 0},
                                                  {"deadline", 0},  {"circuit_open", 0}};
  for (const auto& [outcome, count] : outcomes) {
    EXPECT_EQ(sample(text, "hcs_score_calls_total{" + type + ",outcome=\"" + outcome + "\"}"), count)
        << outcome;
  }
  const std::map<std::string, double> attempts = {{"ok", 7},      {"connect", 0}, {"tls", 0}, {"reset", 0},
                                                  {"timeout", 0}, {"5xx", 1},     {"4xx", 4}, {"other", 1}};
  const std::string instance = ",instance=\"127.0.0.1:" + std::to_string(server.port()) + "\"";
  for (const auto& [result, count] : attempts) {
    EXPECT_EQ(sample(text, "hcs_attempts_total{" + type + instance + ",result=\"" + result + "\"}"), count)
        << result;
  }
  EXPECT_EQ(sample(text, "hcs_instance_ejected{" + type + instance + "}"), 0);
  EXPECT_EQ(sample(text, "hcs_score_duration_seconds_count{" + type + "}"), 8);
  EXPECT_EQ(sample(text, "hcs_score_duration_seconds_bucket{" + type + ",le=\"60\"}"), 8);
  EXPECT_EQ(sample(text, "hcs_connections{" + type + ",state=\"idle\"}"), 1);
  EXPECT_EQ(sample(text, "hcs_connections{" + type + ",state=\"busy\"}"), 0);
  EXPECT_EQ(sample(text, "hcs_circuit_open{" + type + "}"), 0);
  EXPECT_EQ(sample(text, "hcs_score_calls_total{type_id=\"15399\",type=\"\",outcome=\"unconfigured\"}"), 1);
  EXPECT_EQ(sample(text, "hcs_score_calls_total{type_id=\"0\",type=\"\",outcome=\"bad_input\"}"), 1);
}

}  // namespace
}  // namespace hcs
