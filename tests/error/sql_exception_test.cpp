#include "error/sql_exception.h"

#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace hcs {
namespace {

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

// The rules, not the tables' data: listed codes (single or spans) beat ranges, ranges are tried top to
// bottom and hold both edges, anything else gets the vendor's fallback.
TEST(VendorErrorTables, ListedCodesFirstThenRangesInOrderThenTheFallback) {
  const SQLVendorTable *mssql = &mssqlErrorTable(), *oci = &ociErrorTable(), *db2 = &db2ErrorTable();
  // clang-format off
  const std::tuple<const SQLVendorTable*, int32_t, int32_t> cases[] = {
      {mssql, 701, kSQLMemory},        {oci, 1070, kSQLConnectFailure}, {mssql, 1102, kSQLTableSpace},
      {db2, -406, kSQLDataType},       {mssql, 245, kSQLDataType},      {mssql, 420, kSQLSyntax},
      {mssql, 421, kSQLUnhandled},     {mssql, 424, kSQLUnhandled},     {mssql, 427, kSQLCritical},
      {mssql, 911, kSQLCritical},      {mssql, 912, kSQLUnhandled},     {oci, 1069, kSQLSyntax},
      {mssql, 0, kSQLUnhandled},       {db2, 0, kSQLCritical}};
  // clang-format on
  for (const auto& [table, code, category] : cases) {
    SQLErrorClass out;
    classifyVendorError(*table, code, out);
    EXPECT_EQ(out.number, category) << code;
    EXPECT_EQ(out.severity, findSQLErrorCategory(category)->severity) << code;
    EXPECT_EQ(out.category, findSQLErrorCategory(category)->text) << code;
  }
}

// PostgreSQL by SQLSTATE, exact codes before their classes; SQLite by its native code under HY000, else by
// SQLSTATE, and for the primary code 19 (the only one its driver reports) by the driver's message.
TEST(SqlStateClassification, PostgresByStateSqliteByNativeCodeOrMessage) {
  // clang-format off
  const std::pair<const char*, int32_t> states[] = {
      {"23505", kSQLUniqueViolation}, {"23503", kSQLConstraint},     {"40P01", kSQLDeadlock},
      {"40001", kSQLContention},      {"40002", kSQLTransaction},    {"42601", kSQLSyntax},
      {"42501", kSQLPermissions},     {"08001", kSQLConnectFailure}, {"08S01", kSQLConnectionLost},
      {"53100", kSQLTableSpace},      {"53200", kSQLMemory},         {"XX000", kSQLCritical},
      {"", kSQLUnhandled},            {"4", kSQLUnhandled},          {"HY000", kSQLUnhandled}};
  // The low byte of an extended native code counts.
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

TEST(SQLException, TextJoinsTheMessagesAndHandlersThrowTheVendorsClass) {
  EXPECT_STREQ(MSSQLException(DBIStatus(3, "A")).what(), "A");
  EXPECT_STREQ(MSSQLException(DBIStatus(3, "A", "", 0, "", "C")).what(), "A\n\nC");
  EXPECT_STREQ(MSSQLException(DBIStatus(3, "A", "", 0, "B", "C")).what(), "A\nB\nC");

  EXPECT_TRUE(mssqlErrorHandler(DBIStatus()));
  EXPECT_THROW(mssqlErrorHandler(DBIStatus(3, "x")), MSSQLException);
  EXPECT_THROW(ociErrorHandler(DBIStatus(3, "x")), OCISQLException);
  EXPECT_THROW(db2ErrorHandler(DBIStatus(3, "x")), DB2SQLException);
  EXPECT_THROW(pgErrorHandler(DBIStatus(3, "x")), PGSQLException);
  EXPECT_THROW(sqliteErrorHandler(DBIStatus(3, "x")), SQLiteSQLException);
}

}  // namespace
}  // namespace hcs
