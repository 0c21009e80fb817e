#include "error/sql_exception.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

namespace hcs {
namespace {

// Vendor codes grouped by the category each must fall into.
using ByCategory = std::vector<std::pair<int32_t, std::vector<int32_t>>>;

void expectCategories(const char* vendor, const SQLVendorTable& table, const ByCategory& expected) {
  for (const auto& [category, codes] : expected) {
    const SQLErrorCategory* want = findSQLErrorCategory(category);
    ASSERT_NE(want, nullptr);
    for (int32_t code : codes) {
      SQLErrorClass out;
      classifyVendorError(table, code, out);
      EXPECT_EQ(out.number, want->number) << vendor << " " << code;
      EXPECT_EQ(out.severity, want->severity) << vendor << " " << code;
      EXPECT_EQ(out.category, want->text) << vendor << " " << code;
    }
  }
}

// Listed codes beat ranges (mssql 701 sits in the critical range, 515 in the syntax range; oci 1070 starts a
// critical range); ranges are tried top to bottom (mssql 245 is in the data-type and the syntax ranges);
// ranges are pinned at their edges (mssql 421-424 fall between the syntax and the critical ranges).
TEST(VendorErrorTables, ListedCodesFirstThenRangesInOrderThenTheFallback) {
  expectCategories("mssql", mssqlErrorTable(),
                   {{kSQLDeadlock, {1205}},
                    {kSQLUniqueViolation, {2627, 2601}},
                    {kSQLConnectFailure, {18456, 18485, 913, 953, 7413}},
                    {kSQLUnhandled, {18486, 101, 421, 424, 912, 954, 1224, 0, -1, 1104}},
                    {kSQLMemory, {701}},
                    {kSQLDataType, {515, 245, 234}},
                    {kSQLPermissions, {230, 10024}},
                    {kSQLCritical, {21, 427, 911, 7300, 10025}},
                    {kSQLSyntax, {233, 258, 208, 102, 420, 10026}},
                    {kSQLContention, {1201, 1223}},
                    {kSQLConnectionLost, {6006}},
                    {kSQLCursor, {16902, 16999}},
                    {kSQLTableSpace, {1101}}});
  expectCategories("oci", ociErrorTable(),
                   {{kSQLUniqueViolation, {1}},
                    {kSQLCritical, {942, 17, 899, 1072, 1399, 1500, 1699}},
                    {kSQLSyntax, {1001, 900, 1069, 1402, 1499, 1700, 2000}},
                    {kSQLDataType, {1400, 2017}},
                    {kSQLConnectionLost, {3113}},
                    {kSQLConnectFailure, {12500, 12699, 1070}},
                    {kSQLUnhandled, {12700, 5, 16, 2001, 3300, 0}},
                    {kSQLCursor, {1555}},
                    {kSQLTableSpace, {3232, 3299}},
                    {kSQLDeadlock, {60}}});
  expectCategories("db2", db2ErrorTable(),
                   {{kSQLDeadlock, {-911, -913}},
                    {kSQLUniqueViolation, {-803}},
                    {kSQLConnectFailure, {-1013}},
                    {kSQLDataType, {-408, -404}},
                    {kSQLCritical, {-403, -409, 0, 100}}});
}

TEST(VendorErrorTables, NoCodeIsListedTwice) {
  for (const SQLVendorTable* table : {&mssqlErrorTable(), &ociErrorTable(), &db2ErrorTable()}) {
    for (size_t i = 0; i < table->listed.size(); ++i) {
      for (size_t j = i + 1; j < table->listed.size(); ++j) {
        const SQLCodeRule& a = table->listed[i];
        const SQLCodeRule& b = table->listed[j];
        EXPECT_TRUE(a.last < b.first || b.last < a.first) << a.first << " overlaps " << b.first;
      }
    }
  }
}

// PostgreSQL by SQLSTATE; SQLite by its native code under HY000, else by SQLSTATE, and for the primary code
// 19 (the only one its driver reports) by the driver's message.
TEST(SqlStateClassification, PostgresByStateSqliteByNativeCodeOrMessage) {
  const std::pair<const char*, int32_t> states[] = {
      {"23505", kSQLUniqueViolation}, {"23503", kSQLConstraint},     {"40P01", kSQLDeadlock},
      {"40001", kSQLContention},      {"40002", kSQLTransaction},    {"42601", kSQLSyntax},
      {"42P01", kSQLSyntax},          {"42501", kSQLPermissions},    {"42804", kSQLDataType},
      {"22P02", kSQLDataType},        {"08001", kSQLConnectFailure}, {"08S01", kSQLConnectionLost},
      {"57P01", kSQLConnectionLost},  {"53100", kSQLTableSpace},     {"53200", kSQLMemory},
      {"XX000", kSQLCritical},        {"", kSQLUnhandled},           {"4", kSQLUnhandled},
      {"HY000", kSQLUnhandled}};
  const std::tuple<const char*, int32_t, const char*, int32_t> sqlite[] = {
      {"HY000", 2067, "", kSQLUniqueViolation},
      {"HY000", 1555, "", kSQLUniqueViolation},
      {"HY000", 19, "", kSQLConstraint},
      {"HY000", 1, "", kSQLSyntax},
      {"HY000", 5, "", kSQLContention},
      {"HY000", 0, "", kSQLUnhandled},
      {"23000", 0, "", kSQLConstraint},
      {"HY000", 19, "UNIQUE constraint failed: t.k (19)", kSQLUniqueViolation},
      {"23000", 19, "PRIMARY KEY constraint failed", kSQLUniqueViolation},
      {"HY000", 19, "NOT NULL constraint failed: t.k", kSQLConstraint}};
  SQLErrorClass out;
  for (const auto& [state, category] : states) {
    classifySqlState(state, out);
    EXPECT_EQ(out.number, category) << state;
    EXPECT_EQ(out.severity, findSQLErrorCategory(category)->severity) << state;
  }
  for (const auto& [state, native, message, category] : sqlite) {
    classifySqliteError(state, native, message, out);
    EXPECT_EQ(out.number, category) << state << " " << native << " " << message;
  }
}

TEST(SQLException, TextJoinsThePartsClassifyAndHandlersPickTheVendor) {
  EXPECT_STREQ(MSSQLException(DBIStatus(3, "A")).what(), "A");
  EXPECT_STREQ(MSSQLException(DBIStatus(3, "A", "", 0, "", "C")).what(), "A\n\nC");
  EXPECT_STREQ(MSSQLException(DBIStatus(3, "A", "", 0, "B", "C")).what(), "A\nB\nC");
  EXPECT_STREQ(MSSQLException(DBIStatus(3, "")).what(), "");

  SQLErrorClass out{7, 1, "x"};
  SQLException(DBIStatus(3, "A")).classify(out);  // the base class leaves the record alone
  EXPECT_EQ(out.number, 7);
  DB2SQLException(DBIStatus(3, "A", "", -803)).classify(out);
  EXPECT_EQ(out.number, kSQLUniqueViolation);
  EXPECT_EQ(out.category, "Unique Constraint Violation");

  EXPECT_TRUE(mssqlErrorHandler(DBIStatus()));
  EXPECT_THROW(mssqlErrorHandler(DBIStatus(3, "x")), MSSQLException);
  EXPECT_THROW(ociErrorHandler(DBIStatus(3, "x")), OCISQLException);
  EXPECT_THROW(db2ErrorHandler(DBIStatus(3, "x")), DB2SQLException);
  EXPECT_THROW(pgErrorHandler(DBIStatus(3, "x")), PGSQLException);
  EXPECT_THROW(sqliteErrorHandler(DBIStatus(3, "x")), SQLiteSQLException);
}

}  // namespace
}  // namespace hcs
