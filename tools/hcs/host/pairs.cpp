#include "host/pairs.h"

#include "service/score_document.h"

namespace hcs::host {

bool readPairs(std::istream& in, std::vector<AttributePair>& pairs, std::string& error) {
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty() || text[0] == '#') continue;
    const std::size_t first = text.find('\t');
    const std::size_t second = first == std::string::npos ? first : text.find('\t', first + 1);
    if (second == std::string::npos || text.find('\t', second + 1) != std::string::npos) {
      error =
          "line " + std::to_string(line) + ": expected three tab-separated fields (type, inbound, matched)";
      return false;
    }
    if (first == 0) {
      error = "line " + std::to_string(line) + ": the attribute type is empty";
      return false;
    }
    pairs.push_back(
        {line, text.substr(0, first), text.substr(first + 1, second - first - 1), text.substr(second + 1)});
  }
  return true;
}

std::string initDocument(std::string_view configFile, std::string_view node, std::string_view type,
                         int typeId, std::string_view database) {
  const std::string connection =
      database.empty() ? "" : "<DB_CONNECTION>" + service::xmlEscape(database) + "</DB_CONNECTION>";
  return "<INIT>" + connection + "<CONFIG_FILE>" + service::xmlEscape(configFile) +
         "</CONFIG_FILE><NODE_NAME>" + service::xmlEscape(node) + "</NODE_NAME><ATTR_TYPE>" +
         service::xmlEscape(type) + "</ATTR_TYPE><ATTR_TYPE_ID>" + std::to_string(typeId) +
         "</ATTR_TYPE_ID></INIT>";
}

std::string attributeRecord(int typeId, std::string_view value) {
  return "<ATTRIBUTE><ATTR_TYPE_ID>" + std::to_string(typeId) + "</ATTR_TYPE_ID><VALUE>" +
         service::xmlEscape(value) + "</VALUE></ATTRIBUTE>";
}

std::string requestDocument(int line) {
  return "<REQUEST><PAIR>" + std::to_string(line) + "</PAIR></REQUEST>";
}

}  // namespace hcs::host
