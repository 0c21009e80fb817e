#include "error/qrm_exception.h"

#include <memory>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support/capturing_dispatcher.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

using Lines = std::vector<std::string>;
using U = icu::UnicodeString;

TEST(QRM_Message, FillsSingleDigitPlaceholdersOnce) {
  const std::tuple<const char16_t*, std::vector<U>, const char*> cases[] = {
      {u"index[{0}] of key[{1}]!", {u"7", u"K"}, "index[7] of key[K]!"},
      {u"{1}", {u"x"}, "{1}"},                          // no such argument: left as it is
      {u"{0}{0}", {u"{0}"}, "{0}{0}"},                  // inserted text is not scanned again
      {u"{10}", std::vector<U>(11, U(u"x")), "{10}"}};  // one digit only
  for (const auto& [templ, args, expected] : cases) {
    EXPECT_EQ(toStdString(QRM_Message(u"9701E", templ, args).text()), expected) << toStdString(templ);
  }
}

// Records are thrown by value: a copy must own its entries.
TEST(QRM_Exception, SeverityIsTheHighestEntryCopiesAreDeep) {
  auto e = std::make_unique<QRM_Exception>("", U(u"Failed somewhere"), 3, 2);
  e->addText("", U(u"detail"), 0, kNoSeverity);  // -1 changes nothing
  EXPECT_EQ(e->severity(), 2);
  e->addEntry("", QRM_Message(u"9107E", u"Cannot get [{0}]", U(u"K")), 7, 3);
  e->setModule("mod");
  e->setProductCode("XYZ");

  QRM_Exception copy(*e);
  QRM_Exception assigned("", U(u"to be replaced"), 1, 1);
  assigned = *e;
  e.reset();  // a shallow copy would now read freed entries
  for (QRM_Exception* c : {&copy, &assigned}) {
    ASSERT_EQ(c->entryCount(), 3);
    EXPECT_STREQ(c->what(), "Failed somewhere");
    EXPECT_EQ(toStdString(c->entry(2).text()), "Cannot get [K]");
    EXPECT_EQ(c->severity(), 3);
    EXPECT_EQ(c->module() + c->productCode(), "modXYZ");
  }
}

// As the system logs records: a failed attempt as a heading with its first entry, a configuration report as
// a heading over its entries. Numbered entries are tagged, the first with the product code.
TEST(RecordLog, HeadingWithTheFirstEntryOrOverTheEntriesBlockNumbersPaddedToFiveDigits) {
  QRM_Exception e("", U(u"first text"), 3, 4);
  e.addText("", U(u"second text"), 0, kNoSeverity).addText("L2", U(u"third text"), 123456, kNoSeverity);
  e.setModule("mymod");
  ASSERT_EQ(logDispatcher(), nullptr);
  const uint64_t before = formatCallCount();
  e.log(1, false, true);
  EXPECT_EQ(formatCallCount(), before) << "without a dispatcher nothing is even formatted";

  test::CapturingDispatcher log;
  e.log(1, false, true);
  e.log(1, false, false);
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].module, "mymod");
  EXPECT_EQ(entries[0].level, kLogWarning);
  EXPECT_EQ(entries[0].lines, (Lines{"CRITICAL ERROR: ", "{", "  [UVO-00003]: first text", "  second text",
                                     "  [123456]: third text", "}"}));
  EXPECT_EQ(entries[1].lines, Lines{"CRITICAL ERROR[UVO-00003]: first text"});
}

}  // namespace
}  // namespace hcs
