#include "error/qrm_exception.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include "util/ucstring.h"

namespace hcs {
namespace {

using U = icu::UnicodeString;

TEST(QRM_Message, FillsSingleDigitPlaceholdersOnce) {
  const std::tuple<const char16_t*, std::vector<U>, const char*> cases[] = {
      {u"index[{0}] of key[{1}]!", {u"7", u"K"}, "index[7] of key[K]!"},
      {u"{1}", {u"x"}, "{1}"},                         // no such argument: left as it is
      {u"{0}{0}", {u"{0}"}, "{0}{0}"},                 // inserted text is not scanned again
      {u"{10}", std::vector<U>(11, U(u"x")), "{10}"},  // one digit only
      {u"ab{0}", {u"xyz"}, "abxyz"},
      {u"{0}{1}", {u"", u"B"}, "B"}};
  for (const auto& [templ, args, expected] : cases) {
    EXPECT_EQ(toStdString(QRM_Message(u"9701E", templ, args).text()), expected) << toStdString(templ);
  }
}

TEST(QRM_Exception, SeverityIsTheHighestEntryCopiesAreDeepClearResets) {
  auto e = std::make_unique<QRM_Exception>("lbl", U(u"Failed somewhere"), 3, 2);
  EXPECT_EQ(e->entry(0).message().code(), U(u"0000E"));
  EXPECT_EQ(e->entry(0).message().templ(), U(u"{0}"));
  e->addText("", U(u"detail"), 0, kNoSeverity);  // -1 changes nothing
  EXPECT_EQ(e->severity(), 2);
  e->addEntry("", QRM_Message(u"9107E", u"Cannot get [{0}]", U(u"K")), 7, 3);
  EXPECT_EQ(e->severity(), 3);
  e->setModule("mod");
  e->setProductCode("XYZ");

  QRM_Exception copy(*e);
  QRM_Exception assigned("", U(u"to be replaced"), 1, 1);
  assigned = *e;
  e.reset();  // a shallow copy would now read freed entries
  for (QRM_Exception* c : {&copy, &assigned}) {
    ASSERT_EQ(c->entryCount(), 3);
    EXPECT_STREQ(c->what(), "Failed somewhere");
    EXPECT_EQ(c->entry(0).label(), "lbl");
    EXPECT_EQ(c->entry(0).number(), 3u);
    EXPECT_EQ(c->entry(2).message().code(), U(u"9107E"));
    EXPECT_EQ(toStdString(c->entry(2).text()), "Cannot get [K]");
    EXPECT_EQ(c->entry(2).severity(), 3);
    EXPECT_EQ(c->severity(), 3);
    EXPECT_EQ(c->module(), "mod");
    EXPECT_EQ(c->productCode(), "XYZ");
  }
  copy.clear();
  EXPECT_EQ(copy.entryCount(), 0);
  EXPECT_EQ(copy.severity(), 4);
  EXPECT_STREQ(copy.what(), "");
  EXPECT_EQ(QRM_Exception().severity(), 4);
}

}  // namespace
}  // namespace hcs
