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

// The severity of a category decides whether a failure is absorbed, so it is pinned here, not read back.
TEST(SqlErrorCategories, SixteenNumbersWithTheirTextsAndSeverities) {
  using Category = std::tuple<int32_t, std::string, int32_t>;
  // clang-format off
  const std::vector<Category> expected{
      {1, "Unhandled Database Error", 4},            {2, "Critical Database Error", 4},
      {10, "Database Memory Error", 4},              {20, "Table Space or Log Violation", 4},
      {30, "Resource Contention", 3},                {40, "User Defined Procedure or Function Error", 4},
      {50, "Database Connection Failure", 4},        {60, "Database Connection Lost", 3},
      {65, "Deadlock Error", 3},                     {70, "Insufficient Permissions", 4},
      {80, "Transaction Error", 3},                  {90, "Unique Constraint Violation", 2},
      {100, "Constraint Violation", 3},              {110, "Syntax Error", 3},
      {120, "Cursor Error", 3},                      {130, "Data Type Error", 3}};
  // clang-format on
  std::vector<Category> found;
  for (const SQLErrorCategory& c : sqlErrorCategories()) found.emplace_back(c.number, c.text, c.severity);
  EXPECT_EQ(found, expected);
  EXPECT_EQ(findSQLErrorCategory(3), nullptr);
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
  // SQLite under HY000 by its native code (the low byte of an extended one), else by state and message.
  // clang-format off
  const std::pair<int32_t, int32_t> natives[] = {
      {2067, kSQLUniqueViolation}, {1555, kSQLUniqueViolation}, {19, kSQLConstraint},   {1, kSQLSyntax},
      {5, kSQLContention},         {6, kSQLContention},         {261, kSQLContention},  {7, kSQLMemory},
      {13, kSQLTableSpace},        {3, kSQLPermissions},        {8, kSQLPermissions},   {23, kSQLPermissions},
      {14, kSQLConnectFailure},    {26, kSQLConnectFailure},    {20, kSQLDataType},     {25, kSQLDataType},
      {10, kSQLCritical},          {11, kSQLCritical},          {0, kSQLUnhandled},     {4, kSQLUnhandled}};
  // clang-format on
  const std::tuple<const char*, int32_t, const char*, int32_t> sqlite[] = {
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
  for (const auto& [native, category] : natives) {
    classifySqliteError("HY000", native, "", out);
    EXPECT_EQ(out.number, category) << "HY000 " << native;
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
