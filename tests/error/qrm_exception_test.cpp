#include "error/qrm_exception.h"

#include <gtest/gtest.h>

#include "util/ucstring.h"

namespace hcs {
namespace {

using U = icu::UnicodeString;

struct FillCase {
  const char* name;
  std::u16string templ;
  std::vector<std::u16string> args;
  std::u16string expected;
};

class MessageFill : public ::testing::TestWithParam<FillCase> {};

TEST_P(MessageFill, FillsSingleDigitPlaceholdersOnce) {
  const auto& p = GetParam();
  std::vector<U> args;
  for (const auto& a : p.args) args.emplace_back(a.data(), static_cast<int32_t>(a.size()));
  const QRM_Message m(U(u"9701E"), U(p.templ.data(), static_cast<int32_t>(p.templ.size())), args);
  EXPECT_EQ(toStdString(m.text()), toStdString(U(p.expected.data(), static_cast<int32_t>(p.expected.size()))));
  EXPECT_EQ(m.arguments().size(), p.args.size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, MessageFill,
    ::testing::Values(
        FillCase{"two_arguments", u"Cannot retrieve index[{0}] from memory row of key[{1}], out of range!",
                 {u"7", u"K"}, u"Cannot retrieve index[7] from memory row of key[K], out of range!"},
        FillCase{"missing_argument_stays", u"{1}", {u"x"}, u"{1}"},
        FillCase{"inserted_text_not_rescanned", u"{0}{0}", {u"{0}"}, u"{0}{0}"},
        FillCase{"two_digits_are_no_placeholder", u"{10}",
                 {u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h", u"i", u"j", u"k"}, u"{10}"},
        FillCase{"shorter_than_three", u"{}", {u"x"}, u"{}"},
        FillCase{"placeholder_at_end", u"ab{0}", {u"xyz"}, u"abxyz"},
        FillCase{"argument_shorter_than_placeholder", u"{0}{1}", {u"", u"B"}, u"B"},
        FillCase{"letter_is_no_placeholder", u"{a}{0}", {u"z"}, u"{a}z"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QRM_Exception, SeverityIsTheHighestOfItsEntriesAndMinusOneChangesNothing) {
  QRM_Exception e("", U(u"first"), 0, 2);
  EXPECT_EQ(e.severity(), 2);
  e.addText("", U(u"second"), 0, 4);
  e.addText("", U(u"detail"), 0, kNoSeverity);
  EXPECT_EQ(e.severity(), 4);
  EXPECT_EQ(e.entryCount(), 3);

  QRM_Exception low("", U(u"low"), 0, 1);
  low.addText("", U(u"detail"), 0, kNoSeverity);
  EXPECT_EQ(low.severity(), 1);

  // A record whose own severity is -1 takes its first entry's.
  QRM_Exception unset("", U(u"x"), 0, kNoSeverity);
  unset.addText("", U(u"y"), 0, 3);
  EXPECT_EQ(unset.severity(), 3);

  e.clear();
  EXPECT_EQ(e.entryCount(), 0);
  EXPECT_EQ(e.severity(), 4);
  EXPECT_STREQ(e.what(), "");
  EXPECT_EQ(e.productCode(), "UVO");
}

TEST(QRM_Exception, TextRecordUsesTheReadyTextMessage) {
  const QRM_Exception e("", U(u"Failed somewhere"), 3, 4);
  EXPECT_EQ(e.entry(0).message().code(), U(u"0000E"));
  EXPECT_EQ(e.entry(0).message().templ(), U(u"{0}"));
  EXPECT_STREQ(e.what(), "Failed somewhere");
  EXPECT_EQ(e.entry(0).number(), 3u);
  EXPECT_EQ(e.module(), "");
  const QRM_Exception empty;
  EXPECT_STREQ(empty.what(), "");
  EXPECT_EQ(empty.severity(), 4);
}

TEST(QRM_Exception, CopiesAreIndependentOfTheirSource) {
  auto source = std::make_unique<QRM_Exception>("lbl", QRM_Message(U(u"9107E"),
      U(u"Cannot get parameter [{0}] from parameter store"), U(u"ATTR_URI:NAME")), 0, 4);
  source->addText("", U(u"more"), 7, 2);
  source->setModule("mod");
  QRM_Exception copy(*source);
  QRM_Exception assigned("", U(u"to be replaced"), 1, 1);
  assigned = *source;
  const void* sourceEntry = &source->entry(0);
  source.reset();
  for (const QRM_Exception* e : {&copy, &assigned}) {
    ASSERT_EQ(e->entryCount(), 2);
    EXPECT_NE(static_cast<const void*>(&e->entry(0)), sourceEntry);
    EXPECT_STREQ(e->what(), "Cannot get parameter [ATTR_URI:NAME] from parameter store");
    EXPECT_EQ(e->entry(0).message().code(), U(u"9107E"));
    EXPECT_EQ(e->entry(0).label(), "lbl");
    EXPECT_EQ(e->entry(1).number(), 7u);
    EXPECT_EQ(e->entry(1).severity(), 2);
    EXPECT_EQ(e->severity(), 4);
    EXPECT_EQ(e->module(), "mod");
  }
}

TEST(QRMSQL_Exception, CarriesItsFieldsThroughCopiesAndClear) {
  QRMSQL_Exception e("", U(u"deadlock"), 1205, "UPDATE T SET A=1", "Deadlock Error", 65, 3);
  EXPECT_EQ(e.productCode(), "SQL");
  EXPECT_EQ(e.module(), "sql");
  QRMSQL_Exception copy;
  copy = e;
  EXPECT_EQ(copy.vendorCode(), 1205u);
  EXPECT_EQ(copy.statement(), "UPDATE T SET A=1");
  EXPECT_EQ(copy.category(), "Deadlock Error");
  EXPECT_STREQ(copy.what(), "deadlock");
  // Thrown and caught as the base type, the copy keeps the derived fields.
  try {
    throw QRMSQL_Exception(copy);
  } catch (const QRM_Exception& caught) {
    const auto* sql = dynamic_cast<const QRMSQL_Exception*>(&caught);
    ASSERT_NE(sql, nullptr);
    EXPECT_EQ(sql->entry(0).number(), 65u);
  }
  copy.clear();
  EXPECT_EQ(copy.vendorCode(), 0u);
  EXPECT_EQ(copy.statement(), "");
  EXPECT_EQ(copy.category(), "");
  EXPECT_EQ(copy.severity(), 4);
  EXPECT_EQ(copy.productCode(), "SQL");
}

TEST(QRMLog_Exception, IsACriticalNumberOneRecordWithProductCodeLog) {
  const QRMLog_Exception e(QRM_Message(U(u"    E"), U(u"Failed to open log file: {0}"), U(u"/x/y.log")));
  EXPECT_EQ(e.productCode(), "LOG");
  EXPECT_EQ(e.severity(), 4);
  EXPECT_EQ(e.entry(0).number(), 1u);
  EXPECT_STREQ(e.what(), "Failed to open log file: /x/y.log");
}

}  // namespace
}  // namespace hcs
