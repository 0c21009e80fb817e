#pragma once

#include <string>

#include <unistd.h>

namespace hcs::test {

// A throwaway PostgreSQL 15 cluster: created in a temporary directory, listening on a free 127.0.0.1
// port. When the process runs as root the server runs as the `postgres` user (PostgreSQL refuses to run
// as root).
//
// Under ctest one cluster serves the whole run: a fixture test starts it (`startShared`) and records
// where it listens in the folder named by the environment variable HCS_PG_CLUSTER, every database test
// attaches to it, and a last fixture test stops it (`stopShared`). A process started without that
// variable (the test binary run by hand) starts a cluster of its own on first use and removes it at exit.
class PgCluster {
 public:
  // The cluster of this run, started or attached on first use. Throws std::runtime_error (with the
  // server log's tail) when the cluster cannot be created, started or found.
  static PgCluster& shared();

  // Start a cluster that outlives this process and record it in `stateDir`; stop and remove the one
  // recorded there. Throw std::runtime_error on failure.
  static void startShared(const std::string& stateDir);
  static void stopShared(const std::string& stateDir);

  // False when the PostgreSQL binaries are not installed; tests then skip.
  static bool available();

  int port() const { return port_; }
  const std::string& host() const { return host_; }
  // The superuser every test connects as ("postgres"; trust authentication, any password works).
  const std::string& user() const { return user_; }
  // The database the tests of this process use ("hcs", or "hcs_<pid>" on the cluster of a ctest run).
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
  void attach(const std::string& stateDir);
  // Runs one SQL text through psql against the maintenance database; false on failure.
  bool adminCommand(const std::string& sql) const;
  std::string asServerUser(const std::string& command) const;

  std::string dir_;
  std::string host_ = "127.0.0.1";
  std::string user_ = "postgres";
  std::string database_ = "hcs";
  int port_ = 0;
  bool started_ = false;    // by this object: it stops it
  int owner_ = ::getpid();  // the process that made this object; only it stops or drops anything
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
