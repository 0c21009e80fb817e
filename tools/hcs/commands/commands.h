#pragma once

#include <CLI/CLI.hpp>

namespace hcs::tool {

// Each adds its subcommand to `app`; the subcommand's callback stores its exit status in `status`.
void addServeCommand(CLI::App& app, int& status);
void addCheckConfigCommand(CLI::App& app, int& status);
void addScoreCommand(CLI::App& app, int& status);
// A declared subcommand whose work is not there yet: says so and exits with status 2.
void addPendingCommand(CLI::App& app, int& status, const char* name, const char* description);

}  // namespace hcs::tool
