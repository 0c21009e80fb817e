#include "support/scripted_database.h"

namespace hcs::test {
namespace {

class ScriptedStatement : public DBIStatement {
 public:
  ScriptedStatement(std::shared_ptr<ScriptedServer> server, std::shared_ptr<bool> open, std::string sql,
                    DBIErrorHandler handler)
      : server_(std::move(server)), open_(std::move(open)), sql_(std::move(sql)), handler_(handler) {}

  void addParameter(std::shared_ptr<DBIBuffer> buffer) override { parameters_.push_back(std::move(buffer)); }

  bool execute() override {
    valid_ = false;
    result_ = nullptr;
    next_ = 0;
    schema_ = DBISchema();
    if (!*open_) {
      status_ = DBIStatus(DBIStatus::kDBINoConnection, "The connection is not open");
      return reportStatus(handler_, status_);
    }
    server_->executed.push_back(sql_);
    DBIRow values;
    for (const auto& p : parameters_) values.push_back(p->get());
    server_->parameters.push_back(std::move(values));
    const ScriptedResult* answer = server_->answer(sql_);
    if (answer != nullptr && answer->failure) {
      status_ = *answer->failure;
      return reportStatus(handler_, status_);
    }
    status_ = DBIStatus();
    valid_ = true;
    result_ = answer;
    if (answer != nullptr) schema_ = DBISchema(answer->columns);
    return true;
  }
  bool hasResult() const override { return result_ != nullptr && !result_->columns.empty(); }
  bool isValid() const override { return valid_ && *open_; }
  int64_t rowsAffected() const override { return result_ != nullptr ? result_->rowsAffected : 0; }
  const DBISchema& schema() const override { return schema_; }
  const DBIStatus& status() const override { return status_; }
  void cancel() override { result_ = nullptr; }
  size_t fetch(size_t maxRows, std::vector<DBIRow>& rows) override {
    rows.clear();
    server_->fetchSizes.push_back(maxRows);
    if (!hasResult() || !isValid()) return 0;
    while (rows.size() < maxRows && next_ < result_->rows.size()) rows.push_back(result_->rows[next_++]);
    return rows.size();
  }

 private:
  std::shared_ptr<ScriptedServer> server_;
  std::shared_ptr<bool> open_;
  std::string sql_;
  DBIErrorHandler handler_;
  std::vector<std::shared_ptr<DBIBuffer>> parameters_;
  const ScriptedResult* result_ = nullptr;
  size_t next_ = 0;
  DBISchema schema_;
  DBIStatus status_{DBIStatus::kDBINotInitialized, "not executed"};
  bool valid_ = false;
};

class ScriptedConnection : public DBIConnection {
 public:
  ScriptedConnection(std::shared_ptr<ScriptedServer> server, DBIConnectParams params)
      : server_(std::move(server)), params_(std::move(params)) {}

  bool isValid() const override { return *open_; }
  bool open() override {
    server_->connects.push_back(params_);
    if (server_->connectFailure_) {
      status_ = *server_->connectFailure_;
      return false;
    }
    // Statements of an earlier session stay dead, as after a real disconnect.
    open_ = std::make_shared<bool>(true);
    status_ = DBIStatus();
    return true;
  }
  void close() override {
    if (*open_) ++server_->closes;
    *open_ = false;
  }
  bool beginTransaction() override {
    ++server_->begins;
    return true;
  }
  bool rollbackTransaction() override {
    ++server_->rollbacks;
    return true;
  }
  bool commitTransaction() override { return true; }
  bool executeSql(const std::string& sql) override {
    server_->executed.push_back(sql);
    const ScriptedResult* answer = server_->answer(sql);
    if (answer != nullptr && answer->failure) {
      status_ = *answer->failure;
      return reportStatus(params_.errorHandler, status_);
    }
    return true;
  }
  std::unique_ptr<DBIStatement> createStatement(const std::string& sql) override {
    return std::make_unique<ScriptedStatement>(server_, open_, sql, params_.errorHandler);
  }
  const DBIStatus& status() const override { return status_; }
  DBIErrorHandler errorHandler() const override { return params_.errorHandler; }

 private:
  std::shared_ptr<ScriptedServer> server_;
  DBIConnectParams params_;
  std::shared_ptr<bool> open_ = std::make_shared<bool>(false);
  DBIStatus status_;
};

class ScriptedDatabase : public DBIDatabase {
 public:
  ScriptedDatabase(std::shared_ptr<ScriptedServer> server, const DBIConnectParams& params)
      : params_(params), connection_(std::make_shared<ScriptedConnection>(std::move(server), params)) {
    connection_->open();
    status_ = connection_->status();
  }
  bool isValid() const override { return status_.isValid(); }
  const DBIStatus& status() const override { return status_; }
  DBIErrorHandler errorHandler() const override { return params_.errorHandler; }
  std::shared_ptr<DBIConnection> connection() override { return connection_; }

 private:
  DBIConnectParams params_;
  std::shared_ptr<ScriptedConnection> connection_;
  DBIStatus status_;
};

}  // namespace

const ScriptedResult* ScriptedServer::answer(const std::string& sql) const {
  auto exact = exact_.find(sql);
  if (exact != exact_.end()) return &exact->second;
  const ScriptedResult* best = nullptr;
  size_t bestLength = 0;
  for (const auto& [prefix, result] : prefixes_) {
    if (sql.compare(0, prefix.size(), prefix) == 0 && prefix.size() >= bestLength) {
      best = &result;
      bestLength = prefix.size();
    }
  }
  return best;
}

ScriptedDatabaseScope::ScriptedDatabaseScope(std::shared_ptr<ScriptedServer> server)
    : previous_(setDatabaseFactory([server](const DBIConnectParams& params) -> std::shared_ptr<DBIDatabase> {
        return std::make_shared<ScriptedDatabase>(server, params);
      })) {}

ScriptedDatabaseScope::~ScriptedDatabaseScope() { setDatabaseFactory(std::move(previous_)); }

ScriptedResult textRows(const std::string& column, const std::vector<std::string>& values) {
  ScriptedResult result;
  result.columns.push_back(DBIColumn{column, DBIValue::kString});
  for (const std::string& v : values) result.rows.push_back(DBIRow{DBIValue(v)});
  return result;
}

ScriptedResult nativeFailure(int32_t native, const std::string& message, const std::string& sqlState) {
  ScriptedResult result;
  result.failure = DBIStatus(DBIStatus::kDBIServerError, "SQLExecute failed", sqlState, native, message);
  return result;
}

}  // namespace hcs::test
