#pragma once

// Owners of the ODBC handles: every handle the ODBC layer allocates is held by one of these, and only
// they free or disconnect. None of them is synchronised: one thread at a time per owner.
#include <cstdint>
#include <memory>

#include <sql.h>
#include <sqlext.h>

namespace hcs {

// The process's ODBC 3 environment. The destructor frees it, but the process's own instance
// (`odbcEnvironment`) is never destroyed: drivers may still run during static destruction.
class OdbcEnvironment {
 public:
  OdbcEnvironment();
  ~OdbcEnvironment();
  OdbcEnvironment(const OdbcEnvironment&) = delete;
  OdbcEnvironment& operator=(const OdbcEnvironment&) = delete;

  // SQL_NULL_HENV when the driver manager could not allocate one.
  SQLHENV get() const { return env_; }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
};

// The process's environment, allocated on first use.
SQLHENV odbcEnvironment();

// One connection handle and, once connected, its session. A disconnect frees every statement of the
// session in the driver manager; the generation, which counts the sessions, tells a statement owner
// whether its handle still belongs to the current one.
class OdbcConnectionHandle {
 public:
  OdbcConnectionHandle() = default;
  // Closes the session (see `close`) and frees the handle.
  ~OdbcConnectionHandle();
  OdbcConnectionHandle(const OdbcConnectionHandle&) = delete;
  OdbcConnectionHandle& operator=(const OdbcConnectionHandle&) = delete;

  // Allocates a handle in the process environment unless one is held. False when that fails.
  bool allocate();
  // SQL_NULL_HDBC before `allocate` and after `close`.
  SQLHDBC get() const { return dbc_; }

  // Marks the handle connected (after SQLDriverConnect succeeded on it): a new generation.
  void connected();
  bool isConnected() const { return connected_; }
  uint64_t generation() const { return generation_; }

  // When connected: rolls back what is open (a manual-commit session refuses to disconnect inside a
  // transaction), disconnects and frees the handle, so the next connect starts from a fresh one (some
  // drivers refuse to connect a handle twice). Nothing when not connected.
  void close();

 private:
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  uint64_t generation_ = 0;
  bool connected_ = false;
};

// One statement handle on a connection. It stays usable only while the connection stays in the
// generation it was allocated in; after a disconnect the driver manager has freed it, and the owner
// forgets it without touching it.
class OdbcStatementHandle {
 public:
  explicit OdbcStatementHandle(std::shared_ptr<const OdbcConnectionHandle> connection);
  // Frees the handle when it is still alive.
  ~OdbcStatementHandle();
  OdbcStatementHandle(const OdbcStatementHandle&) = delete;
  OdbcStatementHandle& operator=(const OdbcStatementHandle&) = delete;

  // Drops any earlier handle and allocates a new one on the connection in its current generation.
  // False (and no handle) when the driver manager refuses: its diagnostics are on the connection.
  bool allocate();
  // Frees the handle when it is alive and forgets it either way.
  void reset();
  // Allocated, and the connection is still connected in the same generation.
  bool alive() const;
  // SQL_NULL_HSTMT when none is held.
  SQLHSTMT get() const { return stmt_; }

 private:
  std::shared_ptr<const OdbcConnectionHandle> connection_;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  uint64_t generation_ = 0;
};

}  // namespace hcs
