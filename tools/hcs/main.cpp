// hcs: plays the host of the scoring plugin, runs the reference scoring service, checks configurations.
#include <CLI/CLI.hpp>

#include "commands/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"hcs - tools around the httpCalloutScoring plugin"};
  app.require_subcommand(1);
  int status = 0;
  hcs::tool::addServeCommand(app, status);
  hcs::tool::addScoreCommand(app, status);
  hcs::tool::addBenchCommand(app, status);
  hcs::tool::addCheckConfigCommand(app, status);
  hcs::tool::addDemoCommand(app, status);
  CLI11_PARSE(app, argc, argv);
  return status;
}
