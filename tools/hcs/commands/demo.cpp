#include <cstdio>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "commands/local_service.h"
#include "host/bundled_files.h"
#include "host/pairs.h"
#include "host/plugin_library.h"
#include "text/columns.h"

namespace hcs::tool {
namespace {

struct DemoOptions {
  std::string pairs = host::bundledExample("pairs.tsv");
  std::string plugin = host::bundledPlugin();
};

// The score of a reply, or the error text of an error document.
std::string shown(const std::string& reply) {
  for (const char* tag : {"SCORE", "ERROR"}) {
    const std::string open = std::string("<") + tag + ">";
    const size_t start = reply.find(open);
    if (start == std::string::npos) continue;
    const size_t end = reply.find(std::string("</") + tag + ">", start);
    return (tag[0] == 'E' ? "error: " : "") + reply.substr(start + open.size(), end - start - open.size());
  }
  return reply;
}

int runDemo(const DemoOptions& options) {
  if (options.pairs.empty()) {
    std::fprintf(stderr,
                 "hcs demo: no examples/pairs.tsv installed or in the source tree; name one with "
                 "--pairs\n");
    return 2;
  }
  std::ifstream file(options.pairs);
  std::vector<host::AttributePair> pairs;
  std::string error;
  if (!file || !host::readPairs(file, pairs, error)) {
    std::fprintf(stderr, "hcs demo: cannot read %s %s\n", options.pairs.c_str(), error.c_str());
    return 2;
  }
  const std::unique_ptr<host::PluginLibrary> plugin = host::PluginLibrary::open(options.plugin, error);
  if (!plugin) {
    std::fprintf(stderr, "hcs demo: %s\n", error.c_str());
    return 2;
  }
  LocalService service;
  TempDirectory dir;
  const std::string config = dir.write(
      "demo.ini", "[ATTR_URI]\nNAME=" + service.url() + "\nPHONE=" + service.url() + "?retries=1\n");
  std::printf("plugin %s, version %s\nreference service at %s\nconfiguration %s\n\n", options.plugin.c_str(),
              plugin->getVersion(), service.url().c_str(), config.c_str());

  std::map<std::string, int> typeIds;
  for (const auto& pair : pairs) {
    if (typeIds.count(pair.type) != 0) continue;
    const int id = static_cast<int>(typeIds.size()) + 1;
    typeIds[pair.type] = id;
    const std::string document = host::initDocument(config, "DEMO", pair.type, id);
    char errorText[1024] = "";
    try {
      if (plugin->initPlugin(document.data(), static_cast<int32_t>(document.size()), errorText) != 0) {
        std::printf("initPlugin %s: %s\n", pair.type.c_str(), errorText);
      }
    } catch (const std::exception& e) {
      std::printf("initPlugin %s: %s\n", pair.type.c_str(), e.what());
    }
  }

  // Columns by display width, not bytes: names may hold accents, combining marks or CJK characters.
  const auto row = [](const std::string& line, const std::string& type, const std::string& inbound,
                      const std::string& matched, const std::string& result) {
    std::printf("%s %s %s %s %s\n", text::fitColumn(line, 5).c_str(), text::fitColumn(type, 6).c_str(),
                text::fitColumn(inbound, 24).c_str(), text::fitColumn(matched, 24).c_str(), result.c_str());
  };
  row("line", "type", "inbound", "matched", "score or error");
  std::vector<char> reply(4097);
  // One pair of a type nobody initialised, to show what a failure looks like.
  pairs.push_back({0, "(none)", "x", "y"});
  typeIds["(none)"] = 99;
  for (const auto& pair : pairs) {
    const int id = typeIds[pair.type];
    const std::string request = host::requestDocument(pair.line);
    const std::string inbound = host::attributeRecord(id, pair.inbound);
    const std::string matched = host::attributeRecord(id, pair.matched);
    plugin->score(request.data(), static_cast<int32_t>(request.size()), inbound.data(),
                  static_cast<int32_t>(inbound.size()), matched.data(), static_cast<int32_t>(matched.size()),
                  reply.data(), static_cast<uint32_t>(reply.size() - 1));
    row(std::to_string(pair.line), pair.type, pair.inbound, pair.matched, shown(reply.data()));
  }
  return 0;
}

}  // namespace

void addDemoCommand(CLI::App& app, int& status) {
  auto options = std::make_shared<DemoOptions>();
  CLI::App* command = app.add_subcommand(
      "demo", "start the reference service and score the example pairs through the plugin");
  command->add_option("--pairs", options->pairs, "pairs file")->capture_default_str();
  command->add_option("--plugin", options->plugin, "plugin library to load")->capture_default_str();
  command->callback([options, &status] {
    try {
      status = runDemo(*options);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "hcs demo: %s\n", e.what());
      status = 2;
    }
  });
}

}  // namespace hcs::tool
