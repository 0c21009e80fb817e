#include "error/sql_exception.h"

#include <gtest/gtest.h>

namespace hcs {
namespace {

struct VendorCase {
  const char* vendor;
  int32_t code;
  int32_t category;
};

const SQLVendorTable& tableOf(const std::string& vendor) {
  if (vendor == "mssql") return mssqlErrorTable();
  if (vendor == "oci") return ociErrorTable();
  return db2ErrorTable();
}

class VendorTableTest : public ::testing::TestWithParam<VendorCase> {};

TEST_P(VendorTableTest, MapsCodeToCategory) {
  const VendorCase& c = GetParam();
  SQLErrorClass out;
  classifyVendorError(tableOf(c.vendor), c.code, out);
  const SQLErrorCategory* expected = findSQLErrorCategory(c.category);
  ASSERT_NE(expected, nullptr);
  EXPECT_EQ(out.number, expected->number) << c.vendor << " " << c.code;
  EXPECT_EQ(out.severity, expected->severity) << c.vendor << " " << c.code;
  EXPECT_EQ(out.category, expected->text) << c.vendor << " " << c.code;
}

INSTANTIATE_TEST_SUITE_P(
    Mssql, VendorTableTest,
    ::testing::Values(
        VendorCase{"mssql", 1205, kSQLDeadlock}, VendorCase{"mssql", 2627, kSQLUniqueViolation},
        VendorCase{"mssql", 2601, kSQLUniqueViolation}, VendorCase{"mssql", 18456, kSQLConnectFailure},
        VendorCase{"mssql", 18485, kSQLConnectFailure}, VendorCase{"mssql", 18486, kSQLUnhandled},
        // listed codes beat ranges: 701 sits inside the critical range, 515 inside the syntax range
        VendorCase{"mssql", 701, kSQLMemory}, VendorCase{"mssql", 515, kSQLDataType},
        VendorCase{"mssql", 230, kSQLPermissions}, VendorCase{"mssql", 21, kSQLCritical},
        // range order: 245 is in both the data-type and the syntax ranges; data type comes first
        VendorCase{"mssql", 245, kSQLDataType}, VendorCase{"mssql", 234, kSQLDataType},
        VendorCase{"mssql", 233, kSQLSyntax}, VendorCase{"mssql", 258, kSQLSyntax},
        VendorCase{"mssql", 208, kSQLSyntax}, VendorCase{"mssql", 102, kSQLSyntax},
        VendorCase{"mssql", 101, kSQLUnhandled}, VendorCase{"mssql", 420, kSQLSyntax},
        // 421-424 fall between the syntax and the critical ranges
        VendorCase{"mssql", 421, kSQLUnhandled}, VendorCase{"mssql", 424, kSQLUnhandled},
        VendorCase{"mssql", 427, kSQLCritical}, VendorCase{"mssql", 911, kSQLCritical},
        VendorCase{"mssql", 912, kSQLUnhandled}, VendorCase{"mssql", 913, kSQLConnectFailure},
        VendorCase{"mssql", 953, kSQLConnectFailure}, VendorCase{"mssql", 954, kSQLUnhandled},
        VendorCase{"mssql", 1201, kSQLContention}, VendorCase{"mssql", 1223, kSQLContention},
        VendorCase{"mssql", 1224, kSQLUnhandled}, VendorCase{"mssql", 6006, kSQLConnectionLost},
        VendorCase{"mssql", 7300, kSQLCritical}, VendorCase{"mssql", 7413, kSQLConnectFailure},
        VendorCase{"mssql", 10025, kSQLCritical}, VendorCase{"mssql", 10026, kSQLSyntax},
        VendorCase{"mssql", 10024, kSQLPermissions}, VendorCase{"mssql", 16902, kSQLCursor},
        VendorCase{"mssql", 16999, kSQLCursor}, VendorCase{"mssql", 0, kSQLUnhandled},
        VendorCase{"mssql", -1, kSQLUnhandled}, VendorCase{"mssql", 1101, kSQLTableSpace},
        VendorCase{"mssql", 1104, kSQLUnhandled}));

INSTANTIATE_TEST_SUITE_P(
    Oci, VendorTableTest,
    ::testing::Values(VendorCase{"oci", 1, kSQLUniqueViolation}, VendorCase{"oci", 942, kSQLCritical},
                      VendorCase{"oci", 1001, kSQLSyntax}, VendorCase{"oci", 1400, kSQLDataType},
                      VendorCase{"oci", 3113, kSQLConnectionLost},
                      VendorCase{"oci", 12500, kSQLConnectFailure},
                      VendorCase{"oci", 12699, kSQLConnectFailure}, VendorCase{"oci", 12700, kSQLUnhandled},
                      VendorCase{"oci", 5, kSQLUnhandled}, VendorCase{"oci", 16, kSQLUnhandled},
                      VendorCase{"oci", 17, kSQLCritical}, VendorCase{"oci", 899, kSQLCritical},
                      VendorCase{"oci", 900, kSQLSyntax}, VendorCase{"oci", 1069, kSQLSyntax},
                      // 1070 is listed (connection failure) and also starts a critical range
                      VendorCase{"oci", 1070, kSQLConnectFailure}, VendorCase{"oci", 1072, kSQLCritical},
                      VendorCase{"oci", 1399, kSQLCritical}, VendorCase{"oci", 1402, kSQLSyntax},
                      VendorCase{"oci", 1499, kSQLSyntax}, VendorCase{"oci", 1500, kSQLCritical},
                      VendorCase{"oci", 1555, kSQLCursor}, VendorCase{"oci", 1699, kSQLCritical},
                      VendorCase{"oci", 1700, kSQLSyntax}, VendorCase{"oci", 2000, kSQLSyntax},
                      VendorCase{"oci", 2001, kSQLUnhandled}, VendorCase{"oci", 3232, kSQLTableSpace},
                      VendorCase{"oci", 3299, kSQLTableSpace}, VendorCase{"oci", 3300, kSQLUnhandled},
                      VendorCase{"oci", 0, kSQLUnhandled}, VendorCase{"oci", 60, kSQLDeadlock},
                      VendorCase{"oci", 2017, kSQLDataType}));

INSTANTIATE_TEST_SUITE_P(
    Db2, VendorTableTest,
    ::testing::Values(VendorCase{"db2", -911, kSQLDeadlock}, VendorCase{"db2", -913, kSQLDeadlock},
                      VendorCase{"db2", -803, kSQLUniqueViolation},
                      VendorCase{"db2", -1013, kSQLConnectFailure}, VendorCase{"db2", -408, kSQLDataType},
                      VendorCase{"db2", -404, kSQLDataType}, VendorCase{"db2", -403, kSQLCritical},
                      VendorCase{"db2", -409, kSQLCritical}, VendorCase{"db2", 0, kSQLCritical},
                      VendorCase{"db2", 100, kSQLCritical}));

TEST(VendorTableData, NoCodeIsListedTwice) {
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

struct StateCase {
  const char* state;
  int32_t native;
  bool sqlite;
  int32_t category;
  const char* message = "";
};

class SqlStateTest : public ::testing::TestWithParam<StateCase> {};

TEST_P(SqlStateTest, MapsStateToCategory) {
  const StateCase& c = GetParam();
  SQLErrorClass out;
  if (c.sqlite) {
    classifySqliteError(c.state, c.native, c.message, out);
  } else {
    classifySqlState(c.state, out);
  }
  EXPECT_EQ(out.number, c.category) << c.state << " " << c.native;
  EXPECT_EQ(out.severity, findSQLErrorCategory(c.category)->severity);
}

INSTANTIATE_TEST_SUITE_P(
    States, SqlStateTest,
    ::testing::Values(
        StateCase{"23505", 0, false, kSQLUniqueViolation}, StateCase{"23503", 0, false, kSQLConstraint},
        StateCase{"40P01", 0, false, kSQLDeadlock}, StateCase{"40001", 0, false, kSQLContention},
        StateCase{"40002", 0, false, kSQLTransaction}, StateCase{"42601", 0, false, kSQLSyntax},
        StateCase{"42P01", 0, false, kSQLSyntax}, StateCase{"42501", 0, false, kSQLPermissions},
        StateCase{"42804", 0, false, kSQLDataType}, StateCase{"22P02", 0, false, kSQLDataType},
        StateCase{"08001", 0, false, kSQLConnectFailure}, StateCase{"08S01", 0, false, kSQLConnectionLost},
        StateCase{"57P01", 0, false, kSQLConnectionLost}, StateCase{"53100", 0, false, kSQLTableSpace},
        StateCase{"53200", 0, false, kSQLMemory}, StateCase{"XX000", 0, false, kSQLCritical},
        StateCase{"", 0, false, kSQLUnhandled}, StateCase{"4", 0, false, kSQLUnhandled},
        StateCase{"HY000", 0, false, kSQLUnhandled}, StateCase{"HY000", 2067, true, kSQLUniqueViolation},
        StateCase{"HY000", 1555, true, kSQLUniqueViolation}, StateCase{"HY000", 19, true, kSQLConstraint},
        StateCase{"HY000", 1, true, kSQLSyntax}, StateCase{"HY000", 5, true, kSQLContention},
        StateCase{"HY000", 0, true, kSQLUnhandled}, StateCase{"23000", 0, true, kSQLConstraint},
        StateCase{"HY000", 19, true, kSQLUniqueViolation, "UNIQUE constraint failed: t.k (19)"},
        StateCase{"23000", 19, true, kSQLUniqueViolation, "PRIMARY KEY constraint failed"},
        StateCase{"HY000", 19, true, kSQLConstraint, "NOT NULL constraint failed: t.k"}));

TEST(SQLExceptionText, JoinsPartsAndDropsOnlyTrailingNewlines) {
  EXPECT_STREQ(MSSQLException(DBIStatus(3, "A")).what(), "A");
  EXPECT_STREQ(MSSQLException(DBIStatus(3, "A", "", 0, "", "C")).what(), "A\n\nC");
  EXPECT_STREQ(MSSQLException(DBIStatus(3, "A", "", 0, "B", "C")).what(), "A\nB\nC");
  EXPECT_STREQ(MSSQLException(DBIStatus(3, "")).what(), "");
}

TEST(SQLExceptionText, CopyKeepsCachedText) {
  OCISQLException original(DBIStatus(3, "A", "", 1, "B"));
  const char* first = original.what();
  EXPECT_EQ(first, original.what());  // cached, not rebuilt
  OCISQLException copy(original);
  EXPECT_STREQ(copy.what(), "A\nB");
}

TEST(SQLExceptionClassify, BaseLeavesRecordAloneVendorResetsIt) {
  SQLErrorClass out{7, 1, "x"};
  SQLException(DBIStatus(3, "A")).classify(out);
  EXPECT_EQ(out.number, 7);
  DB2SQLException(DBIStatus(3, "A", "", -803)).classify(out);
  EXPECT_EQ(out.number, kSQLUniqueViolation);
  EXPECT_EQ(out.category, "Unique Constraint Violation");
}

TEST(SQLErrorHandlers, ThrowTheVendorClassOnlyForFailures) {
  EXPECT_TRUE(mssqlErrorHandler(DBIStatus()));
  EXPECT_THROW(mssqlErrorHandler(DBIStatus(3, "x")), MSSQLException);
  EXPECT_THROW(ociErrorHandler(DBIStatus(3, "x")), OCISQLException);
  EXPECT_THROW(db2ErrorHandler(DBIStatus(3, "x")), DB2SQLException);
  EXPECT_THROW(pgErrorHandler(DBIStatus(3, "x")), PGSQLException);
  EXPECT_THROW(sqliteErrorHandler(DBIStatus(3, "x")), SQLiteSQLException);
}

}  // namespace
}  // namespace hcs
