#include <cstdio>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "host/pairs.h"
#include "host/plugin_library.h"

namespace hcs::tool {
namespace {

struct ScoreOptions {
  std::string config;
  std::string pairs;
  std::string node;
  std::string plugin = HCS_DEFAULT_PLUGIN;
  uint32_t maxResult = 4096;
};

// Plays the host: one initPlugin per attribute type (numbered in order of first appearance), then one
// score per pair. 0: every pair scored; 1: some score returned -1; 2: nothing could be scored.
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
  const std::unique_ptr<host::PluginLibrary> plugin = host::PluginLibrary::open(options.plugin, error);
  if (!plugin) {
    std::fprintf(stderr, "hcs score: %s\n", error.c_str());
    return 2;
  }

  std::map<std::string, int> typeIds;
  for (const auto& pair : pairs) {
    if (typeIds.count(pair.type) != 0) continue;
    const int id = static_cast<int>(typeIds.size()) + 1;
    typeIds[pair.type] = id;
    const std::string document = host::initDocument(options.config, options.node, pair.type, id);
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
  for (const auto& pair : pairs) {
    const int id = typeIds[pair.type];
    const std::string request = host::requestDocument(pair.line);
    const std::string inbound = host::attributeRecord(id, pair.inbound);
    const std::string matched = host::attributeRecord(id, pair.matched);
    reply[0] = '\0';
    const int32_t result =
        plugin->score(request.data(), static_cast<int32_t>(request.size()), inbound.data(),
                      static_cast<int32_t>(inbound.size()), matched.data(),
                      static_cast<int32_t>(matched.size()), reply.data(), options.maxResult);
    if (result != 0) ++failures;
    std::printf("%d\t%s\t%d\t%s\n", pair.line, pair.type.c_str(), result, reply.data());
  }
  return failures == 0 ? 0 : 1;
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
  command->add_option("--plugin", options->plugin, "plugin library to load")->capture_default_str();
  command->add_option("--max-result", options->maxResult, "largest reply accepted, in bytes")
      ->check(CLI::Range(1u, 64u << 20))
      ->capture_default_str();
  command->callback([options, &status] { status = scorePairs(*options); });
}

}  // namespace hcs::tool
