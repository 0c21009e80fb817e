#include "config/parameter_store.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "error/qrm_exception.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

using icu::UnicodeString;

using Rows = std::vector<std::pair<std::string, std::string>>;

// The base class needs a source; this one hands out fixed rows and counts how often it is read.
class RowStore : public CCMEParameterStore {
 public:
  explicit RowStore(Rows rows = {}, bool caseSensitive = false)
      : CCMEParameterStore(caseSensitive), rows_(std::move(rows)) {}
  void load() override {
    ++loads;
    for (const auto& [group, name] : rows_) setValue(UCString(group), UCString(name), u"from source", true);
  }
  void save() override {}
  int loads = 0;

 private:
  Rows rows_;
};

std::string str(const UnicodeString& text) { return toStdString(text); }

std::vector<std::string> keys(const CCMEParameterStore& store) {
  std::vector<std::string> out;
  for (const auto& [key, record] : store.records()) out.push_back(str(key));
  return out;
}

TEST(ParameterDataType, ReadsAndNamesTypes) {
  const std::pair<const char16_t*, ParameterDataType> fromText[] = {
      {u"STRING", ParameterDataType::STRING},   {u"integer", ParameterDataType::INTEGER},
      {u"Boolean", ParameterDataType::BOOLEAN}, {u"BOOL", ParameterDataType::STRING},
      {u" INTEGER", ParameterDataType::STRING}, {u"", ParameterDataType::STRING}};
  for (const auto& [text, type] : fromText) EXPECT_EQ(parameterDataTypeFromText(text), type) << str(text);
  EXPECT_STREQ(parameterDataTypeName(0), "STRING");
  EXPECT_STREQ(parameterDataTypeName(1), "INTEGER");
  EXPECT_STREQ(parameterDataTypeName(2), "BOOLEAN");
  EXPECT_STREQ(parameterDataTypeName(3), "UNKNOWN TYPE");
  EXPECT_STREQ(parameterDataTypeName(-1), "UNKNOWN TYPE");
}

TEST(MakeKey, UpperCasesUnlessCaseSensitive) {
  EXPECT_EQ(str(CCMEParameterStore::makeKey(u"ATTR_URI", u"phone", false)), "ATTR_URI:PHONE");
  EXPECT_EQ(str(CCMEParameterStore::makeKey(u"attr_Uri", u"Straße", false)), "ATTR_URI:STRASSE");
  EXPECT_EQ(str(CCMEParameterStore::makeKey(u"attr_Uri", u"phone", true)), "attr_Uri:phone");
}

// Rows that differ only in case are one parameter, whichever store flavour holds them.
class OneKey : public ::testing::TestWithParam<bool> {};

TEST_P(OneKey, CaseVariantsShareOneRecord) {
  RowStore store({}, GetParam());
  store.setValue(u"ATTR_URI", u"PHONE", u"first", true);
  store.setValue(u"attr_uri", u"phone", u"second", true);
  store.setValue(u"Attr_Uri", u"Phone", u"third", true);
  ASSERT_EQ(store.records().size(), 1u);
  const CCMEParameterRecord& record = store.records().begin()->second;
  EXPECT_EQ(str(record.group), "ATTR_URI");  // as first written
  EXPECT_EQ(str(record.name), "PHONE");
  EXPECT_EQ(str(store.getParameter(u"aTTR_uRI", u"pHONE")), "third");
  EXPECT_NE(store.findRecord(u"attr_uri:phone"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Flavours, OneKey, ::testing::Bool());

TEST(KeyOrder, FollowsCaseFoldingNotUpperCase) {
  RowStore store;
  // Upper-cased, 'I' (0x49) sorts before '_' (0x5F); folded, 'i' (0x69) sorts after it.
  store.setValue(u"ATTRIBUTES", u"X", u"1", true);
  store.setValue(u"ATTR_URI", u"X", u"2", true);
  store.setValue(u"A", u"X", u"3", true);
  EXPECT_EQ(keys(store), (std::vector<std::string>{"A:X", "ATTR_URI:X", "ATTRIBUTES:X"}));
}

TEST(GetParameter, DefaultUntilAValueArrives) {
  const CCMEParameterDef table[] = {{"G", "WITH_DEFAULT", "STRING", "", "dflt", "N", "N"},
                                    {"G", "NO_DEFAULT", "STRING", "", "", "N", "N"}};
  RowStore store;
  store.setup(u"", table, 2);
  EXPECT_EQ(str(store.getParameter(u"G", u"WITH_DEFAULT")), "dflt");
  EXPECT_EQ(str(store.getParameter(u"G", u"NO_DEFAULT")), "");
  store.setValue(u"g", u"with_default", u"", true);  // an empty value is still a value
  EXPECT_EQ(str(store.getParameter(u"G", u"WITH_DEFAULT")), "");
  store.setValue(u"G", u"NO_DEFAULT", u"set", false);
  EXPECT_EQ(str(store.getParameter(u"G", u"NO_DEFAULT")), "set");
}

TEST(GetParameter, AbsentThrows9107WithTheKey) {
  RowStore store(Rows{{"ATTR_URI", "NAME"}});
  store.load();
  const std::pair<UnicodeString, std::string> cases[] = {
      {u"ATTR_URI", "9107E|Cannot get parameter [ATTR_URI:PHONE] from parameter store|4"},
      {u"*", "9107E|Cannot get parameter [:PHONE] from parameter store|4"},  // no setup: empty section
  };
  for (const auto& [group, expected] : cases) {
    try {
      store.getParameter(group, u"phone");
      ADD_FAILURE() << "no exception for " << str(group);
    } catch (const QRM_Exception& e) {
      EXPECT_EQ(test::describe(e), expected);
    }
  }
  EXPECT_EQ(store.records().size(), 1u);
}

TEST(SetValue, WithoutCreateLeavesAbsentParametersAbsent) {
  RowStore store;
  EXPECT_EQ(store.setValue(u"G", u"N", u"v", false), nullptr);
  EXPECT_TRUE(store.records().empty());
  CCMEParameterRecord* created = store.setValue(u"*", u"N", u"v", true);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(str(created->group), "*");  // "*" is resolved only when reading
  EXPECT_TRUE(created->hasValue);
  EXPECT_FALSE(created->programmed);
}

struct SetupCase {
  const char* label;
  Rows sourceRows;
  const char16_t* appName;
  uint16_t rowCount;
  int expectedLoads;
  const char* expectedSection;
  std::vector<std::string> expectedKeys;
};

const CCMEParameterDef kTable[] = {
    {"*", "RETRIES", "INTEGER", "attempts", "3", "Y", "N"},
    {"ATTR_URI", "PHONE", "string", "", "http://h/", "y", "Y"},
    {"attr_uri", "phone", "BOOLEAN", "", "later", "N", "N"},  // same key: replaces the row above
};

class Setup : public ::testing::TestWithParam<SetupCase> {};

TEST_P(Setup, ChoosesSectionAndReplacesRecordsByDefinitions) {
  const SetupCase& c = GetParam();
  RowStore store(c.sourceRows);
  store.setValue(u"OLD", u"GONE", u"x", true);
  store.setup(c.appName, kTable, c.rowCount);
  EXPECT_EQ(store.loads, c.expectedLoads);
  EXPECT_EQ(str(store.section()), c.expectedSection);
  EXPECT_EQ(keys(store), c.expectedKeys);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Setup,
    ::testing::Values(
        SetupCase{"AppFound", {{"MYAPP", "X"}}, u"MYAPP", 3, 1, "MYAPP", {"ATTR_URI:PHONE", "MYAPP:RETRIES"}},
        SetupCase{"CaseDiffers",
                  {{"MYAPP", "X"}},
                  u"myapp",
                  3,
                  1,
                  "UNKNOWN_APP",
                  {"ATTR_URI:PHONE", "UNKNOWN_APP:RETRIES"}},
        SetupCase{"NoAppName", {{"MYAPP", "X"}}, u"", 1, 0, "UNKNOWN_APP", {"UNKNOWN_APP:RETRIES"}},
        SetupCase{"NoRows", {}, u"", 0, 0, "UNKNOWN_APP", {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Setup, RecordsCarryTheDefinitions) {
  RowStore store;
  store.setup(u"", kTable, 3);
  const CCMEParameterRecord* retries = store.findRecord(u"UNKNOWN_APP:RETRIES");
  ASSERT_NE(retries, nullptr);
  EXPECT_EQ(str(retries->group), "UNKNOWN_APP");
  EXPECT_EQ(str(retries->description), "attempts");
  EXPECT_EQ(retries->programmedType, ParameterDataType::INTEGER);
  EXPECT_EQ(retries->storeType, ParameterDataType::INTEGER);
  EXPECT_TRUE(retries->programmed && retries->required && !retries->hidden && !retries->hasValue);
  EXPECT_EQ(str(store.getParameter(u"*", u"retries")), "3");

  const CCMEParameterRecord* phone = store.findRecord(u"ATTR_URI:PHONE");
  ASSERT_NE(phone, nullptr);
  EXPECT_EQ(str(phone->defaultValue), "later");  // the later row won
  EXPECT_EQ(phone->programmedType, ParameterDataType::BOOLEAN);
  EXPECT_FALSE(phone->required || phone->hidden);
}

TEST(CopyFrom, OnlyValuesAndSectionTravel) {
  RowStore source;
  source.setup(u"", kTable, 2);  // PHONE: programmed, required, hidden, default only
  source.setValue(u"extra", u"k", u"v", true);
  RowStore destination;
  const CCMEParameterDef own[] = {{"EXTRA", "K", "INTEGER", "", "0", "Y", "N"}};
  destination.setup(u"", own, 1);
  destination.setSection(u"OTHER");
  source.setSection(u"SRC");

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
