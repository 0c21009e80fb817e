#include "db/dbi/odbc_handles.h"

#include <utility>

namespace hcs {

OdbcEnvironment::OdbcEnvironment() {
  if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  } else {
    env_ = SQL_NULL_HENV;
  }
}

OdbcEnvironment::~OdbcEnvironment() {
  if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

SQLHENV odbcEnvironment() {
  // Never destroyed: drivers may still run during static destruction.
  static const OdbcEnvironment* environment = new OdbcEnvironment();
  return environment->get();
}

OdbcConnectionHandle::~OdbcConnectionHandle() {
  close();
  if (dbc_ != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
}

bool OdbcConnectionHandle::allocate() {
  if (dbc_ != SQL_NULL_HDBC) return true;
  if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, odbcEnvironment(), &dbc_))) return true;
  dbc_ = SQL_NULL_HDBC;
  return false;
}

void OdbcConnectionHandle::connected() {
  connected_ = true;
  ++generation_;
}

void OdbcConnectionHandle::close() {
  if (!connected_) return;
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  SQLDisconnect(dbc_);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  dbc_ = SQL_NULL_HDBC;
  connected_ = false;
}

OdbcStatementHandle::OdbcStatementHandle(std::shared_ptr<const OdbcConnectionHandle> connection)
    : connection_(std::move(connection)) {}

OdbcStatementHandle::~OdbcStatementHandle() { reset(); }

bool OdbcStatementHandle::allocate() {
  reset();
  generation_ = connection_->generation();
  if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection_->get(), &stmt_))) return true;
  stmt_ = SQL_NULL_HSTMT;
  return false;
}

void OdbcStatementHandle::reset() {
  if (alive()) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  stmt_ = SQL_NULL_HSTMT;
}

bool OdbcStatementHandle::alive() const {
  return stmt_ != SQL_NULL_HSTMT && connection_->isConnected() && connection_->generation() == generation_;
}

}  // namespace hcs
