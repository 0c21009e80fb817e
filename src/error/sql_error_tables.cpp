// The vendor classification tables. Listed codes come first, then ranges in the order they are tried.
#include "error/sql_exception.h"

namespace hcs {
namespace {

constexpr SQLCodeRule one(int32_t code, int32_t category) { return {code, code, category}; }

constexpr SQLCodeRule kMssqlListed[] = {
    one(21, kSQLCritical),
    one(701, kSQLMemory),
    one(708, kSQLMemory),
    one(802, kSQLMemory),
    one(804, kSQLMemory),
    one(809, kSQLMemory),
    one(818, kSQLMemory),
    one(667, kSQLTableSpace),
    {1101, 1103, kSQLTableSpace},
    one(1105, kSQLTableSpace),
    one(1109, kSQLTableSpace),
    one(1703, kSQLTableSpace),
    one(1804, kSQLTableSpace),
    one(2523, kSQLTableSpace),
    one(2529, kSQLTableSpace),
    {9001, 9002, kSQLTableSpace},
    one(9004, kSQLTableSpace),
    one(2812, kSQLUserRoutine),
    one(15019, kSQLUserRoutine),
    one(2502, kSQLConnectFailure),
    one(2521, kSQLConnectFailure),
    one(2525, kSQLConnectFailure),
    {4060, 4064, kSQLConnectFailure},
    one(4301, kSQLConnectFailure),
    one(5002, kSQLConnectFailure),
    one(7413, kSQLConnectFailure),
    one(7415, kSQLConnectFailure),
    one(14415, kSQLConnectFailure),
    one(15015, kSQLConnectFailure),
    {18450, 18452, kSQLConnectFailure},
    {6001, 6006, kSQLConnectionLost},
    one(1205, kSQLDeadlock),
    {229, 230, kSQLPermissions},
    one(259, kSQLPermissions),
    one(262, kSQLPermissions),
    one(1777, kSQLPermissions),
    one(2734, kSQLPermissions),
    one(2760, kSQLPermissions),
    {2763, 2764, kSQLPermissions},
    one(4604, kSQLPermissions),
    one(4834, kSQLPermissions),
    one(5011, kSQLPermissions),
    one(5063, kSQLPermissions),
    one(5065, kSQLPermissions),
    one(5828, kSQLPermissions),
    one(10024, kSQLPermissions),
    one(10028, kSQLPermissions),
    one(15247, kSQLPermissions),
    one(6401, kSQLTransaction),
    one(15626, kSQLTransaction),
    one(2601, kSQLUniqueViolation),
    one(2627, kSQLUniqueViolation),
    one(547, kSQLConstraint),
    one(551, kSQLConstraint),
    {506, 507, kSQLSyntax},
    one(512, kSQLSyntax),
    one(536, kSQLSyntax),
    one(542, kSQLSyntax),
    {544, 545, kSQLSyntax},
    {556, 558, kSQLSyntax},
    one(2706, kSQLSyntax),
    one(210, kSQLDataType),
    one(260, kSQLDataType),
    {425, 426, kSQLDataType},
    one(515, kSQLDataType),
    {517, 518, kSQLDataType},
    one(529, kSQLDataType),
    one(535, kSQLDataType),
    one(2736, kSQLDataType),
    one(3245, kSQLDataType),
    {3606, 3607, kSQLDataType},
};

constexpr SQLCodeRule kMssqlRanges[] = {
    {427, 911, kSQLCritical},           {7300, 7403, kSQLCritical},
    {10000, 10025, kSQLCritical},       {1201, 1223, kSQLContention},
    {913, 953, kSQLConnectFailure},     {15007, 15010, kSQLConnectFailure},
    {18456, 18485, kSQLConnectFailure}, {234, 257, kSQLDataType},
    {291, 299, kSQLDataType},           {102, 420, kSQLSyntax},
    {1045, 1062, kSQLSyntax},           {10026, 10035, kSQLSyntax},
    {16902, 16999, kSQLCursor},
};

constexpr SQLCodeRule kOciListed[] = {
    {903, 904, kSQLCritical},
    one(942, kSQLCritical),
    one(1002, kSQLCritical),
    {1020, 1022, kSQLCritical},
    one(1019, kSQLMemory),
    one(1037, kSQLMemory),
    one(1043, kSQLMemory),
    one(1062, kSQLMemory),
    one(1046, kSQLTableSpace),
    one(1050, kSQLTableSpace),
    one(1536, kSQLTableSpace),
    one(1539, kSQLTableSpace),
    one(54, kSQLContention),
    one(104, kSQLContention),
    one(1047, kSQLUserRoutine),
    {6575, 6576, kSQLUserRoutine},
    one(107, kSQLConnectFailure),
    one(1017, kSQLConnectFailure),
    one(1034, kSQLConnectFailure),
    one(1061, kSQLConnectFailure),
    {1070, 1071, kSQLConnectFailure},
    one(1090, kSQLConnectFailure),
    one(1092, kSQLConnectFailure),
    {21520, 21521, kSQLConnectFailure},
    {1012, 1014, kSQLConnectionLost},
    one(1033, kSQLConnectionLost),
    one(1089, kSQLConnectionLost),
    {1219, 1220, kSQLConnectionLost},
    {3113, 3114, kSQLConnectionLost},
    one(60, kSQLDeadlock),
    {1004, 1005, kSQLPermissions},
    one(1015, kSQLPermissions),
    one(1032, kSQLPermissions),
    one(1035, kSQLPermissions),
    {1039, 1040, kSQLPermissions},
    one(9911, kSQLPermissions),
    one(1086, kSQLTransaction),
    one(1, kSQLUniqueViolation),
    one(1463, kSQLConstraint),
    {2290, 2293, kSQLConstraint},
    one(1016, kSQLCursor),
    one(1555, kSQLCursor),
    {1400, 1401, kSQLDataType},
    one(1406, kSQLDataType),
    one(1412, kSQLDataType),
    {1454, 1455, kSQLDataType},
    {1457, 1462, kSQLDataType},
    one(1465, kSQLDataType),
    one(1476, kSQLDataType),
    one(1526, kSQLDataType),
    one(1704, kSQLDataType),
    one(1722, kSQLDataType),
    one(1768, kSQLDataType),
    one(2017, kSQLDataType),
};

constexpr SQLCodeRule kOciRanges[] = {
    {3232, 3299, kSQLTableSpace}, {12500, 12699, kSQLConnectFailure}, {900, 1069, kSQLSyntax},
    {1402, 1499, kSQLSyntax},     {1700, 2000, kSQLSyntax},           {17, 899, kSQLCritical},
    {1070, 1399, kSQLCritical},   {1500, 1699, kSQLCritical},
};

constexpr SQLCodeRule kDb2Listed[] = {
    one(-1013, kSQLConnectFailure), one(-911, kSQLDeadlock), one(-913, kSQLDeadlock),
    one(-803, kSQLUniqueViolation), one(-413, kSQLDataType), one(-410, kSQLDataType),
    {-408, -404, kSQLDataType},     one(-401, kSQLDataType),
};

const SQLVendorTable kMssql{kMssqlListed, kMssqlRanges, kSQLUnhandled};
const SQLVendorTable kOci{kOciListed, kOciRanges, kSQLUnhandled};
// DB2 has no ranges, and an unknown code is critical rather than unhandled.
const SQLVendorTable kDb2{kDb2Listed, {}, kSQLCritical};

}  // namespace

const SQLVendorTable& mssqlErrorTable() { return kMssql; }
const SQLVendorTable& ociErrorTable() { return kOci; }
const SQLVendorTable& db2ErrorTable() { return kDb2; }

}  // namespace hcs
