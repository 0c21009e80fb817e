#pragma once

#include <string>
#include <string_view>

namespace hcs::service {

// What the service needs from an ATTRS_TO_SCORE document: the character data of ATTR1 and ATTR2, each
// case-folded with white space runs collapsed to one blank and trimmed (text of separate elements is
// kept apart by a blank), leaving out every ATTR_TYPE_ID element, plus the ATTR_TYPE_ID texts.
struct ScoreInput {
  std::u32string attr1;
  std::u32string attr2;
  std::string typeId1;
  std::string typeId2;
};

// Reads `document` (UTF-8): root ATTRS_TO_SCORE holding ATTR1 and ATTR2 somewhere among its children.
// Comments, processing instructions, CDATA sections, attributes and the five predefined and numeric
// character references are understood; a DOCTYPE is refused. Returns false with a one-line reason in
// `error` for anything that is not such a well-formed document. Reuses `out`'s buffers.
bool readScoreDocument(std::string_view document, ScoreInput& out, std::string& error);

// "<SCORE_RESULT><SCORE>0.9417</SCORE></SCORE_RESULT>": four decimals.
std::string scoreReply(double score);
// "<SCORE_RESULT><ERROR>reason</ERROR></SCORE_RESULT>" with the reason's markup characters escaped.
std::string errorReply(std::string_view reason);
// `text` with &, < and > escaped for element content.
std::string xmlEscape(std::string_view text);

// The whole service in one call: 200 and the score reply, or 400 and the error reply.
struct ServiceAnswer {
  int status;
  std::string body;
};
ServiceAnswer answerScoreRequest(std::string_view document);

}  // namespace hcs::service
