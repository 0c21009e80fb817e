#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace hcs::host {

// One line of a pairs file: attribute type, inbound value, matched value (tab-separated, UTF-8).
struct AttributePair {
  int line;
  std::string type;
  std::string inbound;
  std::string matched;
};

// Reads every pair; empty lines and lines starting with '#' are skipped, a trailing CR is dropped.
// Returns false with "line N: …" in `error` at the first line that is not three fields or has an
// empty type.
bool readPairs(std::istream& in, std::vector<AttributePair>& pairs, std::string& error);

// The documents a host hands the plugin. A non-empty `database` becomes DB_CONNECTION.
std::string initDocument(std::string_view configFile, std::string_view node, std::string_view type,
                         int typeId, std::string_view database = "");
std::string attributeRecord(int typeId, std::string_view value);
std::string requestDocument(int line);

}  // namespace hcs::host
