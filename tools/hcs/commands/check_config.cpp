#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "check/config_check.h"
#include "commands/commands.h"
#include "error/qrm_exception.h"
#include "util/ucstring.h"

namespace hcs::tool {
namespace {

struct CheckOptions {
  std::string config;
  std::string node;
  std::string db;
};

// 0: every callout URI is accepted; 1: some is refused or there is none; 2: the file cannot be read.
int checkConfig(const CheckOptions& options) {
  check::ConfigReport report;
  try {
    report = check::checkConfig(options.config, options.node, options.db);
  } catch (const QRM_Exception& e) {
    std::fprintf(stderr, "hcs check-config: %s\n", e.what());
    for (int32_t i = 1; i < e.entryCount(); ++i) {
      std::fprintf(stderr, "  %s\n", e.entry(i).narrowText().c_str());
    }
    return 2;
  }
  std::printf("%s: application section %s, %zu ATTR_URI entr%s\n", options.config.c_str(),
              report.section.c_str(), report.entries.size(), report.entries.size() == 1 ? "y" : "ies");
  if (report.withDatabase) {
    std::printf("SYSTEM_PARAM: %zu parameter%s; its values win over the .ini file's\n",
                report.databaseParameters, report.databaseParameters == 1 ? "" : "s");
  }
  std::size_t width = 0;
  for (const auto& entry : report.entries) width = std::max(width, entry.attrType.size());
  int refused = 0;
  for (const auto& entry : report.entries) {
    const bool ok = entry.problem.empty();
    refused += ok ? 0 : 1;
    const char* source = !report.withDatabase                            ? ""
                         : entry.source == check::ValueSource::kDatabase ? "[db]  "
                                                                         : "[ini] ";
    std::printf("  %-*s  %s%-8s %s%s%s\n", static_cast<int>(width), entry.attrType.c_str(), source,
                ok ? "ok" : "REFUSED", entry.uri.c_str(), ok ? "" : "  -- ", entry.problem.c_str());
    const int indent = static_cast<int>(width) + 4 + static_cast<int>(std::strlen(source));
    if (!entry.settings.empty()) std::printf("%*s%s\n", indent, "", entry.settings.c_str());
    for (const std::string& warning : entry.warnings)
      std::printf("%*swarning: %s\n", indent, "", warning.c_str());
  }
  for (const auto& conflict : report.conflicts) {
    std::printf("conflict %s: SYSTEM_PARAM [%s] is used, the .ini file's [%s] is not\n", conflict.key.c_str(),
                conflict.databaseValue.c_str(), conflict.iniValue.c_str());
  }
  if (report.entries.empty()) {
    std::printf("no [ATTR_URI] entries: initPlugin would find no callout for any attribute type\n");
    return 1;
  }
  return refused == 0 ? 0 : 1;
}

}  // namespace

void addCheckConfigCommand(CLI::App& app, int& status) {
  auto options = std::make_shared<CheckOptions>();
  CLI::App* command = app.add_subcommand(
      "check-config", "list the callout URIs of a configuration and check them as initPlugin does");
  command->add_option("--config", options->config, ".ini file (CONFIG_FILE)")->required();
  command->add_option("--node", options->node, "application name (NODE_NAME)");
  command->add_option(
      "--db", options->db,
      "database whose SYSTEM_PARAM table is merged in (DB_CONNECTION), e.g. sqlite:///path/app.db");
  command->callback([options, &status] { status = checkConfig(*options); });
}

}  // namespace hcs::tool
