#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/dbi/dbi_buffer.h"
#include "db/dbi/dbi_table.h"
#include "db/dbi/dbi_value.h"
#include "error/db_status.h"

namespace hcs {

// The database interface boundary. Everything above it (QRMDB and friends) talks to a database only
// through these three classes; the ODBC implementation lives in odbc_database.*, and tests put a
// scripted stand-in here to play vendors that cannot run on this machine.
//
// Failure model: every failing operation records its status and hands it to the database's error
// handler (which normally throws); when the handler returns, the operation reports the failure by its
// result (false, 0 rows, an invalid object). Objects are used by one thread at a time.

// One SQL statement on one connection. Parameters are "?" markers bound positionally: the n-th
// `addParameter` call binds position n. The statement shares the buffers, so a value stored into a
// buffer later is what the next `execute` sends.
class DBIStatement {
 public:
  virtual ~DBIStatement();

  virtual void addParameter(std::shared_ptr<DBIBuffer> buffer) = 0;
  // Executes (preparing on first use). Returns false on failure; any pending result is discarded first.
  virtual bool execute() = 0;
  // After a successful execute: whether it produced a result set.
  virtual bool hasResult() const = 0;
  // False before the first successful execute and after a failed one.
  virtual bool isValid() const = 0;
  // Rows changed by the last execute; -1 when the driver does not know.
  virtual int64_t rowsAffected() const = 0;
  // Columns of the current result; empty without one.
  virtual const DBISchema& schema() const = 0;
  virtual const DBIStatus& status() const = 0;
  // Discards the pending result, if any.
  virtual void cancel() = 0;
  // Reads up to `maxRows` (≥ 1) rows of the current result into `rows` (replacing its content) in one
  // bulk fetch. Returns the number read; 0 at the end of the result or on failure.
  virtual size_t fetch(size_t maxRows, std::vector<DBIRow>& rows) = 0;
};

// One session. Copies of the shared_ptr refer to the same session.
class DBIConnection {
 public:
  virtual ~DBIConnection();

  virtual bool isValid() const = 0;
  // Connects again with the parameters the connection was made with. A failure records the driver's
  // diagnostic as the status and reaches the error handler, as for every other operation.
  virtual bool open() = 0;
  // Disconnects; statements made earlier become invalid. Harmless when not connected.
  virtual void close() = 0;
  // Manual-commit mode is on from the start; these begin (a no-op marker) and roll back the current one.
  virtual bool beginTransaction() = 0;
  virtual bool rollbackTransaction() = 0;
  virtual bool commitTransaction() = 0;
  // Executes a text directly, discarding any result.
  virtual bool executeSql(const std::string& sql) = 0;
  // A new statement for `sql` (UTF-8); never null.
  virtual std::unique_ptr<DBIStatement> createStatement(const std::string& sql) = 0;
  virtual const DBIStatus& status() const = 0;
  virtual DBIErrorHandler errorHandler() const = 0;
};

// PostgreSQL sessions end any statement, lock waits included, after this long.
inline constexpr int kPgStatementTimeoutMs = 30000;

// Everything needed to reach one database. Passwords live only here: error texts built from these
// parameters show the host, never the user name or the password.
struct DBIConnectParams {
  std::string driver;  // ODBC driver name as registered in odbcinst.ini, or the full path of its .so
  std::string server;  // host name, TNS name or database alias, by vendor
  std::string port;    // "" for the driver's default
  std::string user;
  std::string password;
  std::string database;  // database name or file
  std::string applicationName;
  std::string vendor;  // "mssql", "oci", "db2", "pg", "sqlite": decides the connection-string keys
  DBIErrorHandler errorHandler = nullptr;
};

// The connection string for `params`; `masked` replaces the user name and the password by "****" (for
// messages).
// Keys by vendor (values holding ; { } = or edge blanks are braced):
//   pg      DRIVER, Server, Port, Database, Uid, Pwd, Protocol=7.4-2 (roll back only the failing
//           statement), pqopt={application_name='...' options='-c statement_timeout=30000'}
//   sqlite  DRIVER, Database (the file), Timeout=10000 (ms to wait for another writer's lock)
//   mssql   DRIVER, Server (host[,port]), Database, UID, PWD, APP (application name)
//   oci     DRIVER, DBQ (TNS name), UID, PWD
//   db2     DRIVER, DATABASE (alias), UID, PWD
std::string odbcConnectionString(const DBIConnectParams& params, bool masked);

class DBIDatabase {
 public:
  virtual ~DBIDatabase();
  virtual bool isValid() const = 0;
  virtual const DBIStatus& status() const = 0;
  virtual DBIErrorHandler errorHandler() const = 0;
  // The session opened when the database was made; the same object on every call.
  virtual std::shared_ptr<DBIConnection> connection() = 0;
};

// Opens a database: through ODBC unless a factory is installed. A failure gives an invalid database
// whose status says why (the handler is not called here; the caller decides).
using DBIDatabaseFactory = std::function<std::shared_ptr<DBIDatabase>(const DBIConnectParams&)>;
std::shared_ptr<DBIDatabase> openDatabase(const DBIConnectParams& params);
// Installs a replacement for ODBC (tests' stand-ins); returns the previous one. Not synchronised:
// install before any database is opened.
DBIDatabaseFactory setDatabaseFactory(DBIDatabaseFactory factory);

}  // namespace hcs
