#include "util/ucstring.h"

#include <gtest/gtest.h>

#include "error/qrm_exception.h"

namespace hcs {
namespace {

TEST(UCString, HostTextBecomesTerminatedUnicodeWithoutError) {
  const UCString fromBytes("abcdef", 3);
  EXPECT_EQ(fromBytes, icu::UnicodeString(u"abc"));
  EXPECT_EQ(fromBytes.getBuffer()[3], 0);
  EXPECT_EQ(UCString(icu::UnicodeString(u"xy")).getBuffer()[2], 0);
  EXPECT_EQ(UCString().getBuffer()[0], 0);
  for (const UCString& empty : {UCString(nullptr, 0), UCString(nullptr, 12), UCString("abc", -1),
                                UCString(static_cast<const char*>(nullptr))}) {
    EXPECT_TRUE(empty.isEmpty());
  }
  // Invalid UTF-8 becomes substitution characters.
  const UCString text("a\xff\xc3(b", 5);
  EXPECT_EQ(text.charAt(0), u'a');
  EXPECT_EQ(text.indexOf(static_cast<UChar>(0xFFFD)), 1);
  EXPECT_EQ(text.charAt(text.length() - 1), u'b');
}

// toStdString substitutes what it cannot convert; toUtf8, which feeds the wire, refuses it.
TEST(Conversions, NonAsciiRoundTripsAndALoneSurrogateIsRefusedOnlyByToUtf8) {
  const std::string utf8 = "Ren\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
  const UCString text(utf8);
  EXPECT_EQ(text.length(), 7);  // R e n é € and a surrogate pair
  EXPECT_EQ(toUtf8(text), utf8);
  EXPECT_EQ(toStdString(text), utf8);
  EXPECT_EQ(toUtf8(icu::UnicodeString()), "");
  const icu::UnicodeString lone = icu::UnicodeString(u"ab").append(static_cast<UChar>(0xD800)).append(u'c');
  EXPECT_NO_THROW(toStdString(lone));
  try {
    ADD_FAILURE() << "toUtf8 accepted a lone surrogate: " << toUtf8(lone);
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(e.entry(0).message().code(), icu::UnicodeString(u"0000E"));
    EXPECT_STREQ(e.what(), "U_INVALID_CHAR_FOUND");
    EXPECT_EQ(e.severity(), 4);
    EXPECT_EQ(e.entry(0).number(), 0u);
  }
}

}  // namespace
}  // namespace hcs
