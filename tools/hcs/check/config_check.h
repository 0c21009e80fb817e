#pragma once

#include <string>
#include <vector>

namespace hcs::check {

enum class ValueSource { kIni, kDatabase };

struct CalloutEntry {
  std::string attrType;  // the name as written in the source it came from
  std::string uri;
  std::string problem;  // "" when accepted
  ValueSource source = ValueSource::kIni;
  std::string settings;               // the callout's settings as in force; "" when refused
  std::vector<std::string> warnings;  // what initPlugin would log about the URI
};

// A parameter SYSTEM_PARAM and the .ini file give different values; the database's is used.
struct ConfigConflict {
  std::string key;  // GROUP:NAME as the table writes it
  std::string databaseValue;
  std::string iniValue;
};

struct ConfigReport {
  std::string section;  // the application section the plugin would use
  std::vector<CalloutEntry> entries;
  bool withDatabase = false;
  std::size_t databaseParameters = 0;  // parameters SYSTEM_PARAM gave
  std::vector<ConfigConflict> conflicts;
};

// Reads the configuration as the plugin's initialisation does (the callout settings included) (application
// name `node`; the SYSTEM_PARAM table of `databaseUri` as well when not empty) and lists every ATTR_URI entry
// in key order with the source of its value, and every conflict between the two sources. Throws the
// configuration's QRM_Exception records; a database that cannot be opened throws its record with the
// entry "Unable to open database specified in the following URI [...]" (password masked) in front.
ConfigReport checkConfig(const std::string& iniFile, const std::string& node,
                         const std::string& databaseUri = "");

}  // namespace hcs::check
