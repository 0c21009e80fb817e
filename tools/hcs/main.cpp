// hcs: plays the host of the scoring plugin, runs the reference scoring service, checks configurations.
#include <CLI/CLI.hpp>

#include "commands/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"hcs - tools around the httpCalloutScoring plugin"};
  app.require_subcommand(1);
  int status = 0;
  hcs::tool::addServeCommand(app, status);
  hcs::tool::addScoreCommand(app, status);
  hcs::tool::addPendingCommand(app, status, "bench", "measure scoring throughput through the plugin");
  hcs::tool::addCheckConfigCommand(app, status);
  hcs::tool::addPendingCommand(app, status, "demo", "run a service and score the example pairs");
  CLI11_PARSE(app, argc, argv);
  return status;
}
