#pragma once

#include <string>

namespace hcs::test {

// A throwaway PostgreSQL 15 cluster for the tests of this process: created in a temporary directory,
// listening on a free 127.0.0.1 port, removed at process exit. Started on the first call to `shared()`
// and shared by every test that needs it. When the process runs as root the server runs as the
// `postgres` user (PostgreSQL refuses to run as root).
class PgCluster {
 public:
  // Starts the cluster on first use. Throws std::runtime_error (with the server log's tail) when the
  // cluster cannot be created or started.
  static PgCluster& shared();

  // False when the PostgreSQL binaries are not installed; tests then skip.
  static bool available();

  int port() const { return port_; }
  const std::string& host() const { return host_; }
  // The superuser every test connects as ("postgres"; trust authentication, any password works).
  const std::string& user() const { return user_; }
  // A database created for the tests ("hcs").
  const std::string& database() const { return database_; }

  // Runs one SQL text through psql against the test database; throws std::runtime_error on failure.
  void psql(const std::string& sql) const;

  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

 private:
  PgCluster();
  ~PgCluster();
  void start();
  void stop();
  std::string asServerUser(const std::string& command) const;

  std::string dir_;
  std::string host_ = "127.0.0.1";
  std::string user_ = "postgres";
  std::string database_ = "hcs";
  int port_ = 0;
  bool started_ = false;
};

// A temporary directory holding one SQLite database file; both removed on destruction.
class TempSqliteFile {
 public:
  TempSqliteFile();
  ~TempSqliteFile();
  const std::string& path() const { return path_; }

  TempSqliteFile(const TempSqliteFile&) = delete;
  TempSqliteFile& operator=(const TempSqliteFile&) = delete;

 private:
  std::string dir_;
  std::string path_;
};

}  // namespace hcs::test
