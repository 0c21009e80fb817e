#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "commands/commands.h"
#include "host/bundled_files.h"
#include "host/metrics_capture.h"
#include "host/pairs.h"
#include "host/plugin_library.h"
#include "util/numbers.h"

namespace hcs::tool {
namespace {

struct ScoreOptions {
  std::string config;
  std::string pairs;
  std::string node;
  std::string db;
  std::string plugin = host::bundledPlugin();
  uint32_t maxResult = 4096;
  std::vector<std::string> types;  // NAME:ID, fixing a type's ATTR_TYPE_ID
};

// "ok" for a delivered reply, else the error text of the reply or error document.
std::string outcome(int32_t result, const char* reply) {
  if (result == 0) return "ok";
  const std::string text(reply);
  const size_t start = text.find("<ERROR>");
  const size_t end = text.find("</ERROR>");
  if (start == std::string::npos || end == std::string::npos || end < start) return "failed: " + text;
  return text.substr(start + 7, end - start - 7);
}

// Calls, results by outcome, latency percentiles and rate, on stderr so stdout stays one line per pair.
void printSummary(std::vector<double>& micros, const std::map<std::string, int>& outcomes, double seconds) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  auto percentile = [&](double p) {
    return micros[std::min(micros.size() - 1, static_cast<size_t>(p * micros.size()))];
  };
  std::fprintf(stderr, "\n%zu calls in %.3f s: %.0f calls/s, p50 %.1f us, p99 %.1f us\n", micros.size(),
               seconds, static_cast<double>(micros.size()) / seconds, percentile(0.50), percentile(0.99));
  for (const auto& [text, count] : outcomes) std::fprintf(stderr, "%8d  %s\n", count, text.c_str());
}

// One initPlugin per attribute type (numbered in order of first appearance), then one score per pair.
int scoreWithPlugin(const host::PluginLibrary* plugin, const std::vector<host::AttributePair>& pairs,
                    const ScoreOptions& options) {
  std::map<std::string, int> typeIds;
  for (const std::string& spec : options.types) {
    const size_t colon = spec.rfind(':');
    StrictNumber id;
    if (colon != std::string::npos && colon != 0) {
      id = readStrict(std::string_view(spec).substr(colon + 1),
                      {.low = INT32_MIN, .high = INT32_MAX, .minus = true});
    }
    if (!id) {
      std::fprintf(stderr, "hcs score: --type wants NAME:ID, got %s\n", spec.c_str());
      return 2;
    }
    typeIds[spec.substr(0, colon)] = static_cast<int>(id.value);
  }
  std::map<std::string, bool> initialised;
  int nextId = 1;
  for (const auto& pair : pairs) {
    if (initialised[pair.type]) continue;
    initialised[pair.type] = true;
    if (typeIds.count(pair.type) == 0) {
      while (std::any_of(typeIds.begin(), typeIds.end(), [&](const auto& t) { return t.second == nextId; }))
        ++nextId;
      typeIds[pair.type] = nextId;
    }
    const int id = typeIds[pair.type];
    const std::string document = host::initDocument(options.config, options.node, pair.type, id, options.db);
    char errorText[1024] = "";
    int32_t result;
    try {
      result = plugin->initPlugin(document.data(), static_cast<int32_t>(document.size()), errorText);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "hcs score: initPlugin for %s failed: %s\n", pair.type.c_str(), e.what());
      return 2;
    }
    if (result != 0) {
      std::fprintf(stderr, "hcs score: initPlugin for %s returned %d: %s\n", pair.type.c_str(), result,
                   errorText);
      return 2;
    }
  }

  std::vector<char> reply(static_cast<std::size_t>(options.maxResult) + 1);
  int failures = 0;
  std::vector<double> micros;
  micros.reserve(pairs.size());
  std::map<std::string, int> outcomes;
  const bool progress = pairs.size() >= 1000 && isatty(STDERR_FILENO) != 0;
  const auto started = std::chrono::steady_clock::now();
  for (const auto& pair : pairs) {
    const int id = typeIds[pair.type];
    const std::string request = host::requestDocument(pair.line);
    const std::string inbound = host::attributeRecord(id, pair.inbound);
    const std::string matched = host::attributeRecord(id, pair.matched);
    reply[0] = '\0';
    const auto before = std::chrono::steady_clock::now();
    const int32_t result =
        plugin->score(request.data(), static_cast<int32_t>(request.size()), inbound.data(),
                      static_cast<int32_t>(inbound.size()), matched.data(),
                      static_cast<int32_t>(matched.size()), reply.data(), options.maxResult);
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - before).count());
    if (result != 0) ++failures;
    ++outcomes[outcome(result, reply.data())];
    std::printf("%d\t%s\t%d\t%s\n", pair.line, pair.type.c_str(), result, reply.data());
    if (progress && micros.size() % 500 == 0) {
      const int done = static_cast<int>(40 * micros.size() / pairs.size());
      std::fprintf(stderr, "\r[%-40s] %zu/%zu", std::string(static_cast<size_t>(done), '#').c_str(),
                   micros.size(), pairs.size());
    }
  }
  if (progress) std::fprintf(stderr, "\n");
  printSummary(micros, outcomes,
               std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  return failures == 0 ? 0 : 1;
}

// Plays the host. 0: every pair scored; 1: some score returned -1; 2: nothing could be scored.
int scorePairs(const ScoreOptions& options) {
  std::ifstream file(options.pairs);
  if (!file) {
    std::fprintf(stderr, "hcs score: cannot read %s\n", options.pairs.c_str());
    return 2;
  }
  std::vector<host::AttributePair> pairs;
  std::string error;
  if (!host::readPairs(file, pairs, error)) {
    std::fprintf(stderr, "hcs score: %s: %s\n", options.pairs.c_str(), error.c_str());
    return 2;
  }
  host::MetricsCapture metrics;
  const std::unique_ptr<host::PluginLibrary> plugin = host::PluginLibrary::open(options.plugin, error);
  if (!plugin) {
    std::fprintf(stderr, "hcs score: %s\n", error.c_str());
    return 2;
  }
  const int status = scoreWithPlugin(plugin.get(), pairs, options);
  if (status != 2) host::printOutcomeCounts(stderr, metrics.outcomeCounts());
  return status;
}

}  // namespace

void addScoreCommand(CLI::App& app, int& status) {
  auto options = std::make_shared<ScoreOptions>();
  CLI::App* command = app.add_subcommand("score", "score the attribute pairs of a file through the plugin");
  command->add_option("--config", options->config, ".ini file naming the callout of each attribute type")
      ->required();
  command->add_option("--pairs", options->pairs, "pairs file: type, inbound value, matched value per line")
      ->required();
  command->add_option("--node", options->node, "application name (NODE_NAME)");
  command->add_option("--db", options->db,
                      "database whose SYSTEM_PARAM table the plugin reads too (DB_CONNECTION)");
  command->add_option("--plugin", options->plugin, "plugin library to load")->capture_default_str();
  command->add_option("--max-result", options->maxResult, "largest reply accepted, in bytes")
      ->check(CLI::Range(1u, 64u << 20))
      ->capture_default_str();
  command->add_option("--type", options->types,
                      "NAME:ID fixes the ATTR_TYPE_ID of a type (default: 1, 2, … in order of appearance)");
  command->callback([options, &status] { status = scorePairs(*options); });
}

}  // namespace hcs::tool
