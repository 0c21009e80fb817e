#include "support/pg_cluster.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hcs::test {
namespace {

constexpr const char* kBinDir = "/usr/lib/postgresql/15/bin";

int freeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket() failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot find a free loopback port");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string readTail(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string all = text.str();
  return all.size() > 2000 ? all.substr(all.size() - 2000) : all;
}

bool runningAsRoot() { return ::geteuid() == 0; }

}  // namespace

bool PgCluster::available() { return std::filesystem::exists(std::string(kBinDir) + "/pg_ctl"); }

PgCluster& PgCluster::shared() {
  // Deliberately leaked and stopped by atexit: a function-local static would be destroyed after
  // gtest's own statics, and stopping must also happen when a test calls exit().
  static PgCluster* cluster = [] {
    auto* created = new PgCluster();
    const char* stateDir = std::getenv("HCS_PG_CLUSTER");
    if (stateDir != nullptr && *stateDir != '\0') {
      created->attach(stateDir);
      return created;
    }
    created->start();
    // A forked child that ends with exit() must not stop its parent's cluster.
    std::atexit([] {
      if (shared().owner_ == ::getpid()) shared().stop();
    });
    return created;
  }();
  return *cluster;
}

void PgCluster::startShared(const std::string& stateDir) {
  PgCluster cluster;
  cluster.start();
  std::filesystem::create_directories(stateDir);
  std::ofstream(stateDir + "/cluster") << cluster.port_ << ' ' << cluster.dir_ << '\n';
  // Left running for the other tests of the run.
  cluster.started_ = false;
  cluster.dir_.clear();
}

void PgCluster::stopShared(const std::string& stateDir) {
  PgCluster cluster;
  std::ifstream in(stateDir + "/cluster");
  if (!(in >> cluster.port_ >> cluster.dir_)) return;  // never started: nothing to stop
  cluster.started_ = true;
  cluster.stop();
  std::filesystem::remove_all(stateDir);
}

void PgCluster::attach(const std::string& stateDir) {
  std::string serverDir;  // stays the starter's to remove
  std::ifstream in(stateDir + "/cluster");
  if (!(in >> port_ >> serverDir)) {
    throw std::runtime_error("no PostgreSQL cluster recorded in " + stateDir +
                             " (HCS_PG_CLUSTER): its fixture test did not start one");
  }
  // Tests of a run go on in parallel processes: each process gets a database of its own.
  database_ = "hcs_" + std::to_string(::getpid());
  if (!adminCommand("CREATE DATABASE " + database_)) {
    throw std::runtime_error("cannot create the test database " + database_);
  }
  std::atexit([] {
    const PgCluster& cluster = shared();
    if (cluster.owner_ != ::getpid()) return;  // a forked child: the database is its parent's
    (void)cluster.adminCommand("DROP DATABASE IF EXISTS " + cluster.database_ + " WITH (FORCE)");
  });
}

PgCluster::PgCluster() = default;
PgCluster::~PgCluster() { stop(); }

std::string PgCluster::asServerUser(const std::string& command) const {
  if (!runningAsRoot()) return command;
  return "runuser -u postgres -- sh -c " + shellQuote(command);
}

void PgCluster::start() {
  char pattern[] = "/tmp/hcs-pg-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  if (runningAsRoot()) {
    passwd* pw = ::getpwnam("postgres");
    if (pw == nullptr) throw std::runtime_error("no postgres user to run the test cluster as");
    if (::chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) throw std::runtime_error("chown failed");
  }
  const std::string data = dir_ + "/data";
  const std::string log = dir_ + "/server.log";
  std::string initdb = std::string(kBinDir) + "/initdb -D " + shellQuote(data) +
                       " -A trust -U postgres -E UTF8 --locale=C --no-sync > " +
                       shellQuote(dir_ + "/initdb.log") + " 2>&1";
  if (std::system(asServerUser(initdb).c_str()) != 0) {
    std::string tail = readTail(dir_ + "/initdb.log");
    stop();
    throw std::runtime_error("initdb failed: " + tail);
  }
  // Another process may take the port between the probe and the server's bind: retry a few times.
  for (int attempt = 0; attempt < 5 && !started_; ++attempt) {
    port_ = freeLoopbackPort();
    std::string options = "-p " + std::to_string(port_) + " -k " + dir_ +
                          " -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off"
                          " -c full_page_writes=off -c max_connections=40";
    std::string pgCtl = std::string(kBinDir) + "/pg_ctl -D " + shellQuote(data) + " -o " +
                        shellQuote(options) + " -l " + shellQuote(log) + " -w -t 30 start > /dev/null 2>&1";
    started_ = std::system(asServerUser(pgCtl).c_str()) == 0;
  }
  if (!started_) {
    std::string tail = readTail(log);
    stop();
    throw std::runtime_error("cannot start the test PostgreSQL cluster: " + tail);
  }
  if (!adminCommand("CREATE DATABASE " + database_)) {
    stop();
    throw std::runtime_error("cannot create the test database");
  }
}

bool PgCluster::adminCommand(const std::string& sql) const {
  const std::string command = std::string(kBinDir) + "/psql -X -q -h 127.0.0.1 -p " + std::to_string(port_) +
                              " -U postgres -d postgres -c " + shellQuote(sql) + " > /dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

void PgCluster::psql(const std::string& sql) const {
  std::string command = std::string(kBinDir) + "/psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p " +
                        std::to_string(port_) + " -U postgres -d " + database_ + " -c " + shellQuote(sql) +
                        " > /dev/null 2>&1";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("psql failed: " + sql);
}

void PgCluster::stop() {
  if (started_) {
    std::string pgCtl = std::string(kBinDir) + "/pg_ctl -D " + shellQuote(dir_ + "/data") +
                        " -m immediate -w stop > /dev/null 2>&1";
    (void)std::system(asServerUser(pgCtl).c_str());
    started_ = false;
  }
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    dir_.clear();
  }
}

TempSqliteFile::TempSqliteFile() {
  char pattern[] = "/tmp/hcs-sqlite-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  path_ = dir_ + "/test.db";
}

TempSqliteFile::~TempSqliteFile() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

}  // namespace hcs::test

// Leaks that are not ours. The PostgreSQL ODBC driver keeps a few hundred bytes of error state per
// failed statement that it never frees. Xalan-C's start-up statics live until the process ends,
// because the XML libraries are never terminated (a child process that exits with the plugin loaded
// shows them). Lives in this file so it is linked whenever the database fixtures are.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:psqlodbcw.so\nleak:libxalan-c.so\n";
}

// Keep LeakSanitizer quiet about the suppressions it applied: tests that check a child's output
// would otherwise see its report.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_options() {
  return "print_suppressions=0";
}
