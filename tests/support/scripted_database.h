#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/dbi/dbi.h"

namespace hcs::test {

// What the stand-in answers to one SQL text.
struct ScriptedResult {
  std::vector<DBIColumn> columns;  // empty: no result set
  std::vector<DBIRow> rows;
  std::optional<DBIStatus> failure;  // the execute fails with this status
  int64_t rowsAffected = 0;
};

// A scripted database server standing in at the database interface boundary for vendors that cannot
// run here (SQL Server, Oracle, DB2). Answers by exact SQL text first, then by the longest scripted
// prefix; anything else succeeds with no result. Records what reaches it. One thread at a time.
class ScriptedServer {
 public:
  void on(const std::string& sql, ScriptedResult result) { exact_[sql] = std::move(result); }
  void onPrefix(const std::string& prefix, ScriptedResult result) { prefixes_[prefix] = std::move(result); }
  void failConnect(DBIStatus status) { connectFailure_ = std::move(status); }

  const ScriptedResult* answer(const std::string& sql) const;

  std::vector<std::string> executed;       // statement executes and direct executions, in order
  std::vector<DBIRow> parameters;          // the bound values of each statement execute
  std::vector<DBIConnectParams> connects;  // every connect attempt
  std::vector<size_t> fetchSizes;          // the row count asked by every fetch
  int rollbacks = 0;
  int begins = 0;
  int closes = 0;
  std::optional<DBIStatus> connectFailure_;

 private:
  std::map<std::string, ScriptedResult> exact_;
  std::map<std::string, ScriptedResult> prefixes_;
};

// Routes every database the system opens to `server` while alive.
class ScriptedDatabaseScope {
 public:
  explicit ScriptedDatabaseScope(std::shared_ptr<ScriptedServer> server);
  ~ScriptedDatabaseScope();
  ScriptedDatabaseScope(const ScriptedDatabaseScope&) = delete;
  ScriptedDatabaseScope& operator=(const ScriptedDatabaseScope&) = delete;

 private:
  DBIDatabaseFactory previous_;
};

// A one-column result with the given texts.
ScriptedResult textRows(const std::string& column, const std::vector<std::string>& values);
// A failure carrying a native error number, as a vendor driver reports it.
ScriptedResult nativeFailure(int32_t native, const std::string& message,
                             const std::string& sqlState = "HY000");

}  // namespace hcs::test
