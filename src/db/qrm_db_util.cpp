#include "db/qrm_db_util.h"

#include <string>
#include <vector>

#include "log/log_message.h"
#include "util/ucstring.h"

namespace hcs {

QRMDBUtil::~QRMDBUtil() = default;

int32_t QRMDBUtil::executeStatement(QRMDBStatement& statement) {
  try {
    statement.execute();
    return 0;
  } catch (const SQLException& e) {
    return reportOrThrowRecord(e, statement);
  }
}

bool QRMDBUtil::executeForResult(QRMDBStatement& statement) {
  try {
    return statement.execute();
  } catch (const SQLException& e) {
    reportOrThrowRecord(e, statement);
    return false;
  }
}

int32_t QRMDBUtil::reportOrThrowRecord(const SQLException& error, QRMDBStatement& statement) {
  const uint64_t recordsBefore = records_;
  try {
    return reportSqlError(error, &statement);
  } catch (...) {
    // Whatever failed while reporting, the caller gets this failure's record; when even the record
    // could not be made, the earlier one would name another statement, so the real cause goes on.
    if (records_ == recordsBefore) throw;
    throw QRMSQL_Exception(lastError_);
  }
}

DBIReader QRMDBUtil::executeReader(QRMDBStatement& statement) {
  executeForResult(statement);
  return statement.reader();
}

int32_t QRMDBUtil::reportSqlError(const SQLException& error, const QRMDBStatement* statement) {
  SQLErrorClass cls;
  error.classify(cls);
  std::string statementText = "Unspecified SQL Statement";
  if (statement != nullptr) {
    statementText = toStdString(statement->sql());
    statementText = statementText.substr(0, statementText.find('\n'));
  }
  // Recorded before it is logged: a log that fails must not leave an earlier failure as the record.
  lastError_ =
      QRMSQL_Exception("", UCString(error.what()), static_cast<uint32_t>(error.status().vendorError1()),
                       statementText, cls.category, static_cast<uint32_t>(cls.number), cls.severity);
  ++records_;
  CLogMessage message("sql", sqlErrorLogLevel(cls.severity));
  message.addLine(u"Exception: %s", error.what());
  if (statement != nullptr) {
    const std::string described = toStdString(statement->describe());
    std::vector<std::string> segments;
    size_t start = 0;
    while (start <= described.size()) {
      size_t end = described.find('\n', start);
      if (end == std::string::npos) end = described.size();
      if (end > start) segments.push_back(described.substr(start, end - start));
      start = end + 1;
    }
    if (!segments.empty()) message.addLine(u"Statement: %s", segments[0]);
    if (segments.size() >= 2) message.addLine(u"%s", segments[1]);
  }
  sendToLog(message);
  if (cls.severity >= kSeverityMajor) throw QRMSQL_Exception(lastError_);
  return cls.number;
}

}  // namespace hcs
