#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hcs::host {

// What hcs ships with, found from the folder of the running executable: first where an install puts it
// (<prefix>/bin/hcs), then where the build tree has it. Only paths relative to the executable are
// kept, so an installed or unpacked tree works wherever it lies and no build-tree path is needed.

// The places the plugin is looked for, in order.
std::vector<std::string> bundledPluginCandidates();
// The first of them that exists, or "" when none does.
std::string bundledPlugin();
// An example file (pairs.tsv, hcs.ini) as installed with the documentation or in the source tree, or ""
// when neither has it.
std::string bundledExample(std::string_view name);

}  // namespace hcs::host
