#pragma once

#include <CLI/CLI.hpp>

namespace hcs::tool {

// Each adds its subcommand to `app`; the subcommand's callback stores its exit status in `status`.
void addServeCommand(CLI::App& app, int& status);
void addCheckConfigCommand(CLI::App& app, int& status);
void addScoreCommand(CLI::App& app, int& status);
void addBenchCommand(CLI::App& app, int& status);
void addDemoCommand(CLI::App& app, int& status);

}  // namespace hcs::tool
