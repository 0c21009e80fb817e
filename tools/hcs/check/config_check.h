#pragma once

#include <string>
#include <vector>

namespace hcs::check {

// Why the callout check refuses `uri` (UTF-8), in a few words; "" when isHttpUri accepts it.
std::string httpUriProblem(const std::string& uri);

struct CalloutEntry {
  std::string attrType;  // the name as written in the file
  std::string uri;
  std::string problem;  // "" when accepted
};

struct ConfigReport {
  std::string section;  // the application section the plugin would use
  std::vector<CalloutEntry> entries;
};

// Reads `iniFile` as the plugin's initialisation does (application name `node`, no database) and
// lists every ATTR_URI entry in key order. Throws the configuration's QRM_Exception records.
ConfigReport checkConfig(const std::string& iniFile, const std::string& node);

}  // namespace hcs::check
