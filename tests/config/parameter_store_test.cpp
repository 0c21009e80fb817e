#include "config/parameter_store.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "config/ini_fixture.h"
#include "error/qrm_exception.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

std::string str(const icu::UnicodeString& text) { return toStdString(text); }

std::vector<std::string> keys(const CCMEParameterStore& store) {
  std::vector<std::string> out;
  for (const auto& [key, record] : store.records()) out.push_back(str(key));
  return out;
}

// Keys are upper-cased and compared case-folded ('_' sorts before 'I' folded, after it upper-cased):
// spellings that differ in case are one parameter, whose record keeps the spelling first written.
TEST(ParameterStore, KeysIgnoreCaseAndSortCaseFolded) {
  CCMEParameterMemoryStore store;
  store.setValue(u"ATTRIBUTES", u"X", u"1", true);
  store.setValue(u"Attr_Uri", u"Phone", u"first", true);
  store.setValue(u"attr_uri", u"phone", u"second", true);
  store.setValue(u"A", u"X", u"3", true);
  EXPECT_EQ(keys(store), (std::vector<std::string>{"A:X", "ATTR_URI:PHONE", "ATTRIBUTES:X"}));
  const CCMEParameterRecord* record = store.findRecord(u"attr_uri:phone");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(str(record->group) + ":" + str(record->name), "Attr_Uri:Phone");
  EXPECT_EQ(str(store.getParameter(u"aTTR_uRI", u"pHONE")), "second");
}

TEST(ParameterStore, ValueOrDefaultAbsentThrowsSetValueCreatesOnlyWhenAsked) {
  const CCMEParameterDef table[] = {{"G", "WITH_DEFAULT", "STRING", "", "dflt", "N", "N"},
                                    {"G", "NO_DEFAULT", "STRING", "", "", "N", "N"}};
  CCMEParameterMemoryStore store;
  store.setup(u"", table, 2);
  EXPECT_EQ(str(store.getParameter(u"G", u"WITH_DEFAULT")), "dflt");
  EXPECT_EQ(str(store.getParameter(u"G", u"NO_DEFAULT")), "");
  store.setValue(u"g", u"with_default", u"", true);  // an empty value is still a value
  EXPECT_EQ(str(store.getParameter(u"G", u"WITH_DEFAULT")), "");
  store.setValue(u"G", u"NO_DEFAULT", u"set", false);
  EXPECT_EQ(str(store.getParameter(u"G", u"NO_DEFAULT")), "set");
  EXPECT_EQ(store.setValue(u"G", u"ABSENT", u"v", false), nullptr);
  for (const auto& [group, key] : {std::pair{u"G", "G:PHONE"}, std::pair{u"*", "UNKNOWN_APP:PHONE"}}) {
    try {
      store.getParameter(group, u"phone");
      ADD_FAILURE() << "no exception for " << key;
    } catch (const QRM_Exception& e) {
      EXPECT_EQ(test::describe(e),
                "9107E|Cannot get parameter [" + std::string(key) + "] from parameter store|4");
    }
  }
  EXPECT_EQ(store.records().size(), 2u);
  const CCMEParameterRecord* created = store.setValue(u"*", u"N", u"v", true);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(str(created->group), "*");  // "*" is resolved only when reading
  EXPECT_TRUE(created->hasValue && !created->programmed);
}

const CCMEParameterDef kTable[] = {
    {"*", "RETRIES", "INTEGER", "attempts", "3", "Y", "N"},
    {"ATTR_URI", "PHONE", "string", "", "http://h/", "y", "Y"},
    {"attr_uri", "phone", "BOOLEAN", "", "later", "N", "N"},  // same key: replaces the row above
};

TEST(ParameterStore, SetupChoosesTheSectionAndReplacesTheRecordsByTheDefinitions) {
  // application name, rows used, section, keys
  const std::tuple<const char16_t*, uint16_t, const char*, std::vector<std::string>> cases[] = {
      {u"MYAPP", 3, "MYAPP", {"ATTR_URI:PHONE", "MYAPP:RETRIES"}},
      {u"myapp", 3, "UNKNOWN_APP", {"ATTR_URI:PHONE", "UNKNOWN_APP:RETRIES"}},  // groups match exactly
      {u"", 1, "UNKNOWN_APP", {"UNKNOWN_APP:RETRIES"}},
      {u"", 0, "UNKNOWN_APP", {}}};
  for (const auto& [app, rows, section, expected] : cases) {
    CCMEParameterMemoryStore store;
    store.setValue(u"MYAPP", u"X", u"what the source holds", true);
    store.setup(app, kTable, rows);
    EXPECT_EQ(str(store.section()), section) << str(app) << " " << rows;
    EXPECT_EQ(keys(store), expected) << str(app) << " " << rows;
  }

  CCMEParameterMemoryStore store;
  store.setup(u"", kTable, 2);
  const CCMEParameterRecord* retries = store.findRecord(u"UNKNOWN_APP:RETRIES");
  ASSERT_NE(retries, nullptr);
  EXPECT_EQ(str(retries->group), "UNKNOWN_APP");
  EXPECT_EQ(retries->storeType, ParameterDataType::INTEGER);
  EXPECT_EQ(str(store.getParameter(u"*", u"retries")), "3");
  EXPECT_TRUE(store.findRecord(u"ATTR_URI:PHONE")->required);  // "y" counts as "Y"
  store.setup(u"", kTable, 3);
  const CCMEParameterRecord* phone = store.findRecord(u"ATTR_URI:PHONE");
  EXPECT_EQ(str(phone->defaultValue), "later");
  EXPECT_FALSE(phone->required || phone->hidden);
}

TEST(ParameterStore, CopyFromCarriesValuesAndTheSectionNeverDefinitions) {
  CCMEParameterMemoryStore source;
  source.setup(u"", kTable, 2);  // PHONE: programmed, required, hidden, default only
  source.setValue(u"extra", u"k", u"v", true);
  source.setSection(u"SRC");
  CCMEParameterMemoryStore destination;
  const CCMEParameterDef own[] = {{"EXTRA", "K", "INTEGER", "", "0", "Y", "N"}};
  destination.setup(u"", own, 1);

  destination.copyFrom(source);
  EXPECT_EQ(str(destination.section()), "SRC");
  const CCMEParameterRecord* phone = destination.findRecord(u"ATTR_URI:PHONE");
  ASSERT_NE(phone, nullptr);
  EXPECT_EQ(str(phone->currentValue), "http://h/");  // the source's default became a value
  EXPECT_TRUE(phone->hasValue);
  EXPECT_FALSE(phone->programmed || phone->required || phone->hidden);
  const CCMEParameterRecord* extra = destination.findRecord(u"EXTRA:K");
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(str(extra->value()), "v");
  EXPECT_TRUE(extra->programmed && extra->required);  // the destination's own definition stays
  EXPECT_EQ(extra->programmedType, ParameterDataType::INTEGER);
}

}  // namespace
}  // namespace hcs
