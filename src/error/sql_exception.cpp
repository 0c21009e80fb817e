#include "error/sql_exception.h"

#include <algorithm>
#include <array>

namespace hcs {
namespace {

constexpr std::array<SQLErrorCategory, 16> kCategories{{
    {kSQLUnhandled, "Unhandled Database Error", kSeverityCritical},
    {kSQLCritical, "Critical Database Error", kSeverityCritical},
    {kSQLMemory, "Database Memory Error", kSeverityCritical},
    {kSQLTableSpace, "Table Space or Log Violation", kSeverityCritical},
    {kSQLContention, "Resource Contention", kSeverityMajor},
    {kSQLUserRoutine, "User Defined Procedure or Function Error", kSeverityCritical},
    {kSQLConnectFailure, "Database Connection Failure", kSeverityCritical},
    {kSQLConnectionLost, "Database Connection Lost", kSeverityMajor},
    {kSQLDeadlock, "Deadlock Error", kSeverityMajor},
    {kSQLPermissions, "Insufficient Permissions", kSeverityCritical},
    {kSQLTransaction, "Transaction Error", kSeverityMajor},
    {kSQLUniqueViolation, "Unique Constraint Violation", kSeverityMinor},
    {kSQLConstraint, "Constraint Violation", kSeverityMajor},
    {kSQLSyntax, "Syntax Error", kSeverityMajor},
    {kSQLCursor, "Cursor Error", kSeverityMajor},
    {kSQLDataType, "Data Type Error", kSeverityMajor},
}};

void fill(int32_t categoryNumber, SQLErrorClass& out) {
  const SQLErrorCategory* category = findSQLErrorCategory(categoryNumber);
  if (category == nullptr) category = findSQLErrorCategory(kSQLUnhandled);
  out.number = category->number;
  out.severity = category->severity;
  out.category = category->text;
}

void reset(SQLErrorClass& out) {
  out.number = 0;
  out.severity = kNoSeverity;
  out.category.clear();
}

const SQLCodeRule* findRule(std::span<const SQLCodeRule> rules, int32_t code) {
  for (const SQLCodeRule& rule : rules) {
    if (code >= rule.first && code <= rule.last) return &rule;
  }
  return nullptr;
}

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::span<const SQLErrorCategory> sqlErrorCategories() { return kCategories; }

const SQLErrorCategory* findSQLErrorCategory(int32_t number) {
  auto found = std::find_if(kCategories.begin(), kCategories.end(),
                            [number](const SQLErrorCategory& c) { return c.number == number; });
  return found == kCategories.end() ? nullptr : &*found;
}

void classifyVendorError(const SQLVendorTable& table, int32_t vendorError, SQLErrorClass& out) {
  reset(out);
  const SQLCodeRule* rule = findRule(table.listed, vendorError);
  if (rule == nullptr) rule = findRule(table.ranges, vendorError);
  fill(rule != nullptr ? rule->category : table.fallback, out);
}

void classifySqlState(const std::string& state, SQLErrorClass& out) {
  reset(out);
  // Exact codes before their classes: the order of these checks is the mapping documented in the header.
  struct Exact {
    const char* state;
    int32_t category;
  };
  static constexpr Exact kExact[] = {
      {"23505", kSQLUniqueViolation}, {"40P01", kSQLDeadlock},       {"40001", kSQLContention},
      {"55P03", kSQLContention},      {"55006", kSQLContention},     {"57014", kSQLContention},
      {"HYT00", kSQLContention},      {"08003", kSQLConnectionLost}, {"08006", kSQLConnectionLost},
      {"08S01", kSQLConnectionLost},  {"57P01", kSQLConnectionLost}, {"57P02", kSQLConnectionLost},
      {"57P03", kSQLConnectionLost},  {"3D000", kSQLConnectFailure}, {"42501", kSQLPermissions},
      {"42804", kSQLDataType},        {"42846", kSQLDataType},       {"07006", kSQLDataType},
      {"37000", kSQLSyntax},          {"24000", kSQLCursor},         {"34000", kSQLCursor},
      {"HY010", kSQLCursor},          {"53100", kSQLTableSpace},     {"HY001", kSQLMemory},
  };
  static constexpr Exact kClasses[] = {
      {"23", kSQLConstraint},     {"40", kSQLTransaction}, {"25", kSQLTransaction},
      {"2D", kSQLTransaction},    {"3B", kSQLTransaction}, {"08", kSQLConnectFailure},
      {"28", kSQLConnectFailure}, {"22", kSQLDataType},    {"42", kSQLSyntax},
      {"38", kSQLUserRoutine},    {"39", kSQLUserRoutine}, {"P0", kSQLUserRoutine},
      {"53", kSQLMemory},         {"XX", kSQLCritical},    {"58", kSQLCritical},
  };
  for (const Exact& exact : kExact) {
    if (state == exact.state) return fill(exact.category, out);
  }
  if (state.size() == 5) {
    for (const Exact& cls : kClasses) {
      if (startsWith(state, cls.state)) return fill(cls.category, out);
    }
  }
  fill(kSQLUnhandled, out);
}

void classifySqliteError(const std::string& state, int32_t nativeError, const std::string& message,
                         SQLErrorClass& out) {
  const bool uniqueText = message.find("UNIQUE constraint failed") != std::string::npos ||
                          message.find("PRIMARY KEY constraint failed") != std::string::npos ||
                          message.find("is not unique") != std::string::npos;
  if ((nativeError & 0xff) == 19 && uniqueText) {
    reset(out);
    return fill(kSQLUniqueViolation, out);
  }
  if (state != "HY000" && state != "S1000") return classifySqlState(state, out);
  reset(out);
  int32_t category = kSQLUnhandled;
  switch (nativeError) {
    case 2067:  // SQLITE_CONSTRAINT_UNIQUE
    case 1555:  // SQLITE_CONSTRAINT_PRIMARYKEY
      category = kSQLUniqueViolation;
      break;
    default:
      switch (nativeError & 0xff) {
        case 19:
          category = kSQLConstraint;
          break;
        case 5:
        case 6:
          category = kSQLContention;
          break;
        case 7:
          category = kSQLMemory;
          break;
        case 13:
          category = kSQLTableSpace;
          break;
        case 3:
        case 8:
        case 23:
          category = kSQLPermissions;
          break;
        case 14:
        case 26:
          category = kSQLConnectFailure;
          break;
        case 20:
        case 25:
          category = kSQLDataType;
          break;
        case 1:
          category = kSQLSyntax;
          break;
        case 10:
        case 11:
          category = kSQLCritical;
          break;
        default:
          break;
      }
  }
  fill(category, out);
}

SQLException::SQLException(const DBIStatus& status) : status_(status) {}
SQLException::~SQLException() = default;

const char* SQLException::what() const noexcept {
  if (text_.empty()) {
    try {
      std::string text;
      text.reserve(1024);
      text.append(status_.message()).append("\n");
      text.append(status_.vendorMessage1()).append("\n");
      text.append(status_.vendorMessage2()).append("\n");
      while (!text.empty() && text.back() == '\n') text.pop_back();
      text_ = std::move(text);
    } catch (...) {
      return "";
    }
  }
  return text_.c_str();
}

void SQLException::classify(SQLErrorClass&) const {}

void MSSQLException::classify(SQLErrorClass& out) const {
  classifyVendorError(mssqlErrorTable(), status().vendorError1(), out);
}
void OCISQLException::classify(SQLErrorClass& out) const {
  classifyVendorError(ociErrorTable(), status().vendorError1(), out);
}
void DB2SQLException::classify(SQLErrorClass& out) const {
  classifyVendorError(db2ErrorTable(), status().vendorError1(), out);
}
void PGSQLException::classify(SQLErrorClass& out) const { classifySqlState(status().sqlState(), out); }
void SQLiteSQLException::classify(SQLErrorClass& out) const {
  classifySqliteError(status().sqlState(), status().vendorError1(), status().vendorMessage1(), out);
}

namespace {
template <class E>
bool throwUnlessValid(const DBIStatus& status) {
  if (!status.isValid()) throw E(status);
  return true;
}
}  // namespace

bool mssqlErrorHandler(const DBIStatus& status) { return throwUnlessValid<MSSQLException>(status); }
bool ociErrorHandler(const DBIStatus& status) { return throwUnlessValid<OCISQLException>(status); }
bool db2ErrorHandler(const DBIStatus& status) { return throwUnlessValid<DB2SQLException>(status); }
bool pgErrorHandler(const DBIStatus& status) { return throwUnlessValid<PGSQLException>(status); }
bool sqliteErrorHandler(const DBIStatus& status) { return throwUnlessValid<SQLiteSQLException>(status); }

}  // namespace hcs
