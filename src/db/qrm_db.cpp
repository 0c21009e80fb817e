#include "db/qrm_db.h"

#include "db/dbi/odbc_database.h"
#include "db/index_metadata.h"
#include "db/string_table_row.h"
#include "log/log_message.h"
#include "log/log_platform.h"
#include "util/format.h"
#include "util/numbers.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

std::mutex& moduleMutex() {
  static std::mutex mutex;
  return mutex;
}
icu::UnicodeString& moduleText() {
  static icu::UnicodeString text;
  return text;
}

DBIErrorHandler handlerFor(const icu::UnicodeString& scheme) {
  if (scheme == u"mssql") return mssqlErrorHandler;
  if (scheme == u"oci") return ociErrorHandler;
  if (scheme == u"db2") return db2ErrorHandler;
  if (scheme == u"pg") return pgErrorHandler;
  if (scheme == u"sqlite") return sqliteErrorHandler;
  return nullptr;
}

QRMSQL_Exception connectionFailure(const icu::UnicodeString& text) {
  return QRMSQL_Exception("", text, 999999, "", "", 999, kSeverityCritical);
}

// The path part of a URI as a database name or file: CUri writes '\' for '/' outside http.
std::string pathText(const icu::UnicodeString& path, bool keepLeadingSlash) {
  icu::UnicodeString text(path);
  text.findAndReplace(u"\\", u"/");
  if (!keepLeadingSlash) {
    while (text.startsWith(u"/")) text.remove(0, 1);
  }
  return toUtf8(text);
}

bool isDb2Identifier(const icu::UnicodeString& name) {
  if (name.isEmpty() || name.length() > 128) return false;
  for (int32_t i = 0; i < name.length(); ++i) {
    const char16_t c = name.charAt(i);
    const bool letter = (c >= u'A' && c <= u'Z') || c == u'@' || c == u'#' || c == u'$';
    const bool follower = (c >= u'0' && c <= u'9') || c == u'_';
    if (!letter && !(follower && i > 0)) return false;
  }
  return true;
}

// Read where the mask does not read it, a password would reach the host, port or database name, and
// from there the connection string and the driver's messages: refuse the URI before anything is sent.
void refuseAmbiguousUserInfo(const icu::UnicodeString& uriText) {
  if (!userInfoIsAmbiguous(uriText)) return;
  icu::UnicodeString text;
  formatUnicode(text,
                u"Database URI [%S] is refused: the URI parser would cut its password apart; percent-encode "
                u"the password (%%2F for '/', %%3A for ':', %%40 for '@', %%25 for '%%') and any '@' after "
                u"the host",
                maskedUri(uriText));
  logLine("sql", kLogCritical, u"%S", text);
  throw connectionFailure(text);
}

}  // namespace

icu::UnicodeString db2Schema(const icu::UnicodeString& uriText, bool orUser) {
  CUri uri(uriText);
  icu::UnicodeString schema;
  if (!uri.findParam(u"schema", schema) && orUser) schema = uri.user;
  schema.toUpper();
  if (!schema.isEmpty() && !isDb2Identifier(schema)) {
    icu::UnicodeString text;
    formatUnicode(text,
                  u"Invalid DB2 schema [%S] in %S: a schema is a name of letters, digits, '_', '@', '#' "
                  u"and '$' that starts with a letter, '@', '#' or '$'",
                  schema, maskedUri(uriText));
    throw connectionFailure(text);
  }
  return schema;
}

QRMDB::QRMDB(const icu::UnicodeString& uri) : uriText_(uri) {}

QRMDB::~QRMDB() {
  try {
    close();
  } catch (...) {
    // A failing rollback while going away has nobody left to tell.
  }
}

void QRMDB::setModuleName(const icu::UnicodeString& name) {
  std::lock_guard lock(moduleMutex());
  moduleText() = name;
}

icu::UnicodeString QRMDB::moduleName() {
  std::lock_guard lock(moduleMutex());
  return moduleText();
}

uint32_t QRMDB::uriNumber(const icu::UnicodeString& text) {
  return static_cast<uint32_t>(readLenient(text, {.digits = DigitSet::kUnicodeUnits, .minus = false}).value);
}

bool QRMDB::isValid() const { return connection_ && connection_->isValid(); }

int32_t QRMDB::open() {
  try {
    if (isValid()) {
      // A reopen: same connection, same settings; only the session set-up runs again.
      close();
      // The connection hands a failure to the vendor's handler; one that only says so by its result
      // gets its status reported here, so the diagnostic is classified, logged and kept all the same.
      if (!connection_->open()) {
        reportStatus(connection_->errorHandler(), connection_->status());
        return -1;
      }
      setUpSession();
      return 0;
    }
    refuseAmbiguousUserInfo(uriText_);
    CUri uri(uriText_);
    if (!opened_) {
      opened_ = true;
      databaseType_ = uri.scheme;
      icu::UnicodeString value;
      if (uri.findParam(u"scache", value)) {
        uint32_t capacity = uriNumber(value);
        if (capacity != 0) cache_.setCapacity(capacity);
      }
      if (uri.findParam(u"fetching", value)) {
        uint32_t rows = uriNumber(value);
        if (rows > 1) fetchSize_ = static_cast<int32_t>(rows);
      }
      numberedPlaceholders_ = databaseType_ == u"oci";
    }
    logLine(kLogDebug, u"Database Type: %S", databaseType_);
    // The schema goes into SQL texts: refuse a bad one before anything reaches the server.
    if (databaseType_ == u"db2") db2Schema(uriText_, true);
    connect(uri);
    fillIndexMetadata(*this, uri);
    setUpSession();
    return 0;
  } catch (const SQLException& e) {
    reportSqlError(e, nullptr);
    return -1;
  }
}

void QRMDB::connect(const CUri& uri) {
  DBIConnectParams params;
  params.vendor = toUtf8(databaseType_);
  params.errorHandler = handlerFor(databaseType_);
  if (params.errorHandler == nullptr) {
    icu::UnicodeString text;
    formatUnicode(text, u"Unsupported database type [%S] in %S", databaseType_, maskedUri(uriText_));
    throw connectionFailure(text);
  }
  icu::UnicodeString driver;
  params.driver = uri.findParam(u"driver", driver) && !driver.isEmpty() ? toUtf8(driver)
                                                                        : defaultOdbcDriver(params.vendor);
  params.server = toUtf8(uri.host);
  params.port = toUtf8(uri.port);
  params.user = toUtf8(uri.user);
  params.password = toUtf8(uri.password);
  if (params.vendor == "pg") params.database = pathText(uri.path, false);
  if (params.vendor == "sqlite") params.database = pathText(uri.path, true);
  icu::UnicodeString application = moduleName();
  formatUnicode(application, u"%S:%u", moduleName(), static_cast<unsigned>(currentThreadId()));
  params.applicationName = toUtf8(application);

  database_ = openDatabase(params);
  if (!database_->isValid()) {
    const DBIStatus& failed = database_->status();
    // Name the target the way the user wrote it, without its password.
    DBIStatus status(failed.errorCode(), "Cannot open database " + toStdString(maskedUri(uriText_)),
                     failed.sqlState(), failed.vendorError1(), failed.message(),
                     failed.vendorMessage1().empty()
                         ? failed.vendorMessage2()
                         : failed.vendorMessage1() +
                               (failed.vendorMessage2().empty() ? "" : "; " + failed.vendorMessage2()));
    params.errorHandler(status);
    throw connectionFailure(UCString(status.message()));
  }
  connection_ = database_->connection();
}

void QRMDB::setUpSession() {
  int32_t affected = 0;
  const bool oci = databaseType_ == u"oci";
  if (oci) {
    execute(u"alter session set nls_date_format='yyyy-mm-dd hh24:mi:ss'", &affected, true);
    if (isValid()) {
      icu::UnicodeString text(u"begin DBMS_APPLICATION_INFO.SET_MODULE('");
      text.append(moduleName()).append(u"',''); end;");
      execute(text, &affected, true);
    }
  }
  if (databaseType_ == u"db2") {
    const icu::UnicodeString schema = db2Schema(uriText_, false);
    if (!schema.isEmpty()) {
      execute(icu::UnicodeString(u"SET CURRENT SCHEMA '").append(schema).append(u"'"), &affected, true);
      execute(icu::UnicodeString(u"SET CURRENT PATH = ").append(schema).append(u", CURRENT PATH"), &affected,
              true);
    }
  }
  if (oci) checkCharacterSet();
  beginTransaction();
}

void QRMDB::checkCharacterSet() {
  QRMDBStatement statement = createStatement(
      u"SELECT VALUE FROM NLS_DATABASE_PARAMETERS WHERE PARAMETER IN ('NLS_CHARACTERSET', "
      u"'NLS_NCHAR_CHARACTERSET')");
  QRMDBStatementCanceler canceler(&statement);
  QRMDBUtil local;  // its error record is not this connection's
  if (!local.executeForResult(statement)) return;
  DBIRow row;
  while (statement.fetchRow(row)) {
    if (!row.empty() && row[0].asUString().indexOf(u"US7ASCII") >= 0) {
      asciiOnlyDatabase_ = true;
      logLine(kLogWarning, u"The database doesn't support international characters.");
      break;
    }
  }
}

QRMDBStatement QRMDB::createStatement(const icu::UnicodeString& sql) {
  if (!isValid()) {
    throw QRMSQL_Exception("", icu::UnicodeString(u"Can't create statement on invalid connection."), 999999,
                           "", "", 999, kSeverityMajor);
  }
  QRMDBStatement statement;
  if (cache_.lookup(sql, statement)) return statement;
  icu::UnicodeString text(sql);
  if (numberedPlaceholders_) {
    // Every "?" becomes ":0", ":1", … (quoted literals included: callers do not put "?" in literals).
    int32_t counter = 0;
    for (int32_t at = text.indexOf(u'?'); at >= 0; at = text.indexOf(u'?', at)) {
      icu::UnicodeString marker;
      formatUnicode(marker, u":%d", counter++);
      text.replace(at, 1, marker);
      at += marker.length();
    }
  }
  statement =
      QRMDBStatement(std::make_shared<QRMDBStatementImp>(text, connection_, fetchSize_, asciiOnlyDatabase_));
  cache_.insert(sql, statement);
  return statement;
}

int32_t QRMDB::execute(const icu::UnicodeString& sql, int32_t* rowsAffected, bool reportInactive,
                       std::span<CStringTableRow* const> rows) {
  if (rowsAffected != nullptr) *rowsAffected = 0;
  if (!isValid()) {
    if (reportInactive) logLine("sql", kLogError, u"Execute (Error). Connection Not Active.");
    return -1;
  }
  QRMDBStatement statement;
  try {
    statement = createStatement(sql);
    int32_t position = 1;
    for (CStringTableRow* row : rows) {
      if (row == nullptr) continue;
      for (int32_t i = 0; i < row->valueCount(); ++i) {
        icu::UnicodeString value(*row->valuePtr(i));
        statement.bindText(position++, value.getTerminatedBuffer(), true);
      }
    }
    int32_t result = executeStatement(statement);
    if (rowsAffected != nullptr) *rowsAffected = std::max(0, statement.rowsAffected());
    return result;
  } catch (const SQLException& e) {
    return reportSqlError(e, &statement);
  }
}

void QRMDB::beginTransaction() {
  if (connection_) connection_->beginTransaction();
}

void QRMDB::rollbackTransaction() {
  if (connection_) connection_->rollbackTransaction();
}

void QRMDB::close() {
  cache_.clear();
  if (!isValid()) return;
  rollbackTransaction();
  connection_->close();
}

}  // namespace hcs
