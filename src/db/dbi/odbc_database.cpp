#include "db/dbi/odbc_database.h"

#include <cstring>
#include <mutex>

#include <sql.h>
#include <sqlext.h>

#include "db/dbi/odbc_handles.h"
#include "db/dbi/odbc_support.h"

namespace hcs {
namespace {

class OdbcStatement : public DBIStatement {
 public:
  OdbcStatement(std::shared_ptr<const OdbcConnectionHandle> session, std::string sql, DBIErrorHandler handler)
      : session_(session), stmt_(std::move(session)), sql_(std::move(sql)), handler_(handler) {}

  void addParameter(std::shared_ptr<DBIBuffer> buffer) override { parameters_.push_back(std::move(buffer)); }

  bool execute() override {
    valid_ = false;
    hasResult_ = false;
    rowsAffected_ = -1;
    schema_ = DBISchema();
    if (!ensurePrepared()) return false;
    SQLFreeStmt(stmt_.get(), SQL_CLOSE);
    if (!bindParameters()) return false;
    SQLRETURN rc = SQLExecute(stmt_.get());
    if (rc == SQL_NEED_DATA) rc = SQL_ERROR;
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) return fail(SQL_HANDLE_STMT, stmt_.get(), "SQLExecute");
    SQLLEN count = -1;
    if (SQL_SUCCEEDED(SQLRowCount(stmt_.get(), &count))) rowsAffected_ = count;
    SQLSMALLINT columns = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(stmt_.get(), &columns)))
      return fail(SQL_HANDLE_STMT, stmt_.get(), "SQLNumResultCols");
    valid_ = true;
    status_ = DBIStatus();
    if (columns > 0) {
      hasResult_ = true;
      if (!describe(columns)) {
        valid_ = false;
        return false;
      }
    }
    return true;
  }

  bool hasResult() const override { return hasResult_; }
  bool isValid() const override { return valid_ && stmt_.alive(); }
  int64_t rowsAffected() const override { return rowsAffected_; }
  const DBISchema& schema() const override { return schema_; }
  const DBIStatus& status() const override { return status_; }

  void cancel() override {
    if (stmt_.alive()) SQLFreeStmt(stmt_.get(), SQL_CLOSE);
    hasResult_ = false;
  }

  size_t fetch(size_t maxRows, std::vector<DBIRow>& rows) override {
    rows.clear();
    if (!hasResult_ || !isValid()) return 0;
    if (maxRows == 0) maxRows = 1;
    return reader_.fetch(stmt_.get(), maxRows, rows, [this](const char* what, const std::string& detail) {
      if (detail.empty()) {
        fail(SQL_HANDLE_STMT, stmt_.get(), what);
      } else {
        status_ = DBIStatus(DBIStatus::kDBIServerError, detail, "22001");
        reportStatus(handler_, status_);
      }
    });
  }

 private:
  bool ensurePrepared() {
    if (stmt_.alive()) return true;
    stmt_.reset();
    reader_ = OdbcResultReader();
    if (!session_->isConnected()) {
      status_ = DBIStatus(DBIStatus::kDBINoConnection, "The connection is not open");
      reportStatus(handler_, status_);
      return false;
    }
    if (!stmt_.allocate()) return fail(SQL_HANDLE_DBC, session_->get(), "SQLAllocHandle");
    std::u16string text = utf8ToUtf16(sql_);
    SQLRETURN rc = SQLPrepareW(stmt_.get(), reinterpret_cast<SQLWCHAR*>(text.data()),
                               static_cast<SQLINTEGER>(text.size()));
    if (!SQL_SUCCEEDED(rc)) {
      status_ = diagnosticStatus(SQL_HANDLE_STMT, stmt_.get(), "SQLPrepare");
      // Dropped before the handler throws, so the next execute prepares again.
      stmt_.reset();
      reportStatus(handler_, status_);
      return false;
    }
    return true;
  }

  bool bindParameters() {
    bound_.resize(parameters_.size());
    for (size_t i = 0; i < parameters_.size(); ++i) {
      if (!bindParameter(stmt_.get(), static_cast<SQLUSMALLINT>(i + 1), *parameters_[i], bound_[i])) {
        return fail(SQL_HANDLE_STMT, stmt_.get(), "SQLBindParameter");
      }
    }
    return true;
  }

  bool describe(SQLSMALLINT columns) {
    std::vector<DBIColumn> described;
    if (!reader_.describe(stmt_.get(), columns, described))
      return fail(SQL_HANDLE_STMT, stmt_.get(), "SQLDescribeCol");
    schema_ = DBISchema(std::move(described));
    return true;
  }

  bool fail(SQLSMALLINT type, SQLHANDLE handle, const char* operation) {
    status_ = diagnosticStatus(type, handle, operation);
    reportStatus(handler_, status_);
    return false;
  }

  std::shared_ptr<const OdbcConnectionHandle> session_;
  OdbcStatementHandle stmt_;
  std::string sql_;
  DBIErrorHandler handler_;
  std::vector<std::shared_ptr<DBIBuffer>> parameters_;
  std::vector<BoundParameter> bound_;
  OdbcResultReader reader_;
  DBISchema schema_;
  DBIStatus status_{DBIStatus::kDBINotInitialized, "The statement has not been executed"};
  int64_t rowsAffected_ = -1;
  bool valid_ = false;
  bool hasResult_ = false;
};

class OdbcConnection : public DBIConnection {
 public:
  explicit OdbcConnection(const DBIConnectParams& params)
      : params_(params), session_(std::make_shared<OdbcConnectionHandle>()) {}
  // Statements may keep the handle's owner a while longer; the session ends now.
  ~OdbcConnection() override { close(); }

  bool isValid() const override { return session_->isConnected(); }

  // A reconnect: its failure reaches the error handler like every other failing operation.
  bool open() override { return connect() || reportStatus(params_.errorHandler, status_); }

  // Connects without calling the handler: the database's first connect reports through its status.
  bool connect() {
    if (session_->isConnected()) return true;
    if (!session_->allocate()) {
      status_ = DBIStatus(DBIStatus::kDBINoConnection, "Cannot allocate an ODBC connection handle");
      return false;
    }
    const SQLHDBC dbc = session_->get();
    // Ask for a failure instead of an endless wait when the server does not answer.
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(30), 0);
    std::u16string text = utf8ToUtf16(odbcConnectionString(params_, false));
    SQLRETURN rc =
        SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(text.data()),
                          static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
      status_ = connectFailure(diagnosticStatus(SQL_HANDLE_DBC, dbc, "SQLDriverConnect"));
      return false;
    }
    session_->connected();
    if (!SQL_SUCCEEDED(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                                         reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
      // Without manual commit nothing here may run: give the session up.
      DBIStatus diag = diagnosticStatus(SQL_HANDLE_DBC, dbc, "SQLSetConnectAttr(AUTOCOMMIT)");
      close();
      status_ = connectFailure(diag);
      return false;
    }
    status_ = DBIStatus();
    return true;
  }

  void close() override { session_->close(); }

  bool beginTransaction() override { return requireOpen(); }
  bool rollbackTransaction() override { return endTransaction(SQL_ROLLBACK, "SQLEndTran(ROLLBACK)"); }
  bool commitTransaction() override { return endTransaction(SQL_COMMIT, "SQLEndTran(COMMIT)"); }

  bool executeSql(const std::string& sql) override {
    if (!requireOpen()) return false;
    {
      OdbcStatementHandle stmt(session_);
      if (!stmt.allocate()) return fail("SQLAllocHandle");
      std::u16string text = utf8ToUtf16(sql);
      SQLRETURN rc = SQLExecDirectW(stmt.get(), reinterpret_cast<SQLWCHAR*>(text.data()),
                                    static_cast<SQLINTEGER>(text.size()));
      if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) {
        status_ = DBIStatus();
        return true;
      }
      status_ = diagnosticStatus(SQL_HANDLE_STMT, stmt.get(), "SQLExecDirect");
    }
    // Reported once the handle is gone: the handler throws.
    reportStatus(params_.errorHandler, status_);
    return false;
  }

  std::unique_ptr<DBIStatement> createStatement(const std::string& sql) override {
    return std::make_unique<OdbcStatement>(session_, sql, params_.errorHandler);
  }

  const DBIStatus& status() const override { return status_; }
  DBIErrorHandler errorHandler() const override { return params_.errorHandler; }

 private:
  bool requireOpen() {
    if (session_->isConnected()) return true;
    status_ = DBIStatus(DBIStatus::kDBINoConnection, "The connection is not open");
    reportStatus(params_.errorHandler, status_);
    return false;
  }

  bool endTransaction(SQLSMALLINT type, const char* operation) {
    if (!requireOpen()) return false;
    if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, session_->get(), type))) return fail(operation);
    return true;
  }

  // The driver's diagnostic, prefixed with the target (password masked) so the text says where.
  DBIStatus connectFailure(const DBIStatus& diag) const {
    return DBIStatus(DBIStatus::kDBINoConnection,
                     "Cannot connect to " + odbcConnectionString(params_, true) + ": " + diag.message(),
                     diag.sqlState(), diag.vendorError1(), diag.vendorMessage1(), diag.vendorMessage2());
  }

  bool fail(const char* operation) {
    status_ = diagnosticStatus(SQL_HANDLE_DBC, session_->get(), operation);
    reportStatus(params_.errorHandler, status_);
    return false;
  }

  DBIConnectParams params_;
  std::shared_ptr<OdbcConnectionHandle> session_;
  DBIStatus status_;
};

class OdbcDatabase : public DBIDatabase {
 public:
  explicit OdbcDatabase(const DBIConnectParams& params)
      : handler_(params.errorHandler), connection_(std::make_shared<OdbcConnection>(params)) {
    connection_->connect();
    status_ = connection_->status();
  }
  bool isValid() const override { return status_.isValid(); }
  const DBIStatus& status() const override { return status_; }
  DBIErrorHandler errorHandler() const override { return handler_; }
  std::shared_ptr<DBIConnection> connection() override { return connection_; }

 private:
  DBIErrorHandler handler_;
  std::shared_ptr<OdbcConnection> connection_;
  DBIStatus status_;
};

}  // namespace

std::shared_ptr<DBIDatabase> openOdbcDatabase(const DBIConnectParams& params) {
  return std::make_shared<OdbcDatabase>(params);
}

}  // namespace hcs

#include <filesystem>

namespace hcs {

std::string defaultOdbcDriver(const std::string& scheme) {
  struct Known {
    const char* scheme;
    const char* library;
    const char* name;
  };
  static constexpr Known kKnown[] = {
      {"pg", "psqlodbcw.so", "PostgreSQL Unicode"},
      {"sqlite", "libsqlite3odbc.so", "SQLite3"},
      {"mssql", "", "ODBC Driver 18 for SQL Server"},
      {"oci", "", "Oracle ODBC Driver"},
      {"db2", "", "IBM DB2 ODBC DRIVER"},
  };
  static constexpr const char* kFolders[] = {
      "/usr/lib/x86_64-linux-gnu/odbc/",
      "/usr/lib/aarch64-linux-gnu/odbc/",
      "/usr/lib64/",
      "/usr/lib/odbc/",
      "/usr/local/lib/",
  };
  for (const Known& known : kKnown) {
    if (scheme != known.scheme) continue;
    if (*known.library != '\0') {
      for (const char* folder : kFolders) {
        std::string path = std::string(folder) + known.library;
        std::error_code ignored;
        if (std::filesystem::exists(path, ignored)) return path;
      }
    }
    return known.name;
  }
  return {};
}

}  // namespace hcs
