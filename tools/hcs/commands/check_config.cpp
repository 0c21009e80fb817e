#include "commands/commands.h"

namespace hcs::tool {

void addCheckConfigCommand(CLI::App& app, int& status) {
  addPendingCommand(app, status, "check-config", "list the callout URIs of a configuration and check them");
}

}  // namespace hcs::tool
