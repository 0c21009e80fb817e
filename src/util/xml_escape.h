#pragma once

#include <string_view>

namespace hcs {

// How a character is written in character data (`inAttribute` false) or in an attribute value between
// double quotes: the reference that stands for it, or "" when it is written as it is. This is what
// Xerces-C's DOMLSSerializer writes by default, and both ways of writing the outgoing document (the
// DOM writer and the record scanner) follow it, so their bytes agree. White space a parser would
// normalise away (a carriage return anywhere, a line feed or tab in a value) stays a reference.
constexpr std::string_view xmlEscape(char32_t c, bool inAttribute) {
  switch (c) {
    case U'&':
      return "&amp;";
    case U'<':
      return "&lt;";
    case U'>':
      return inAttribute ? "" : "&gt;";
    case U'"':
      return inAttribute ? "&quot;" : "";
    case U'\r':
      return "&#xD;";
    case U'\n':
      return inAttribute ? "&#xA;" : "";
    case U'\t':
      return inAttribute ? "&#x9;" : "";
    default:
      return "";
  }
}

}  // namespace hcs
