#include "db/qrm_db_statement.h"

#include <unicode/uchar.h>

#include "db/qrm_mem_table.h"
#include "log/log_message.h"
#include "util/ucstring.h"

namespace hcs {

QRMDBStatementImp::QRMDBStatementImp() = default;

QRMDBStatementImp::QRMDBStatementImp(const icu::UnicodeString& sql, std::shared_ptr<DBIConnection> connection,
                                     int32_t fetchSize, bool asciiOnlyDatabase)
    : connection_(std::move(connection)),
      sql_(sql),
      slots_(50),
      bound_(50, false),
      fetchSize_(fetchSize),
      asciiOnlyDatabase_(asciiOnlyDatabase) {
  statement_ = connection_->createStatement(toUtf8(sql_));
}

QRMDBStatementImp::~QRMDBStatementImp() = default;

void QRMDBStatementImp::setValue(int32_t position, const DBIValue& value) {
  if (position < 1) {
    reportStatus(connection_ ? connection_->errorHandler() : nullptr,
                 DBIStatus(DBIStatus::kDBIInvalidUsage, "Parameter positions start at 1"));
    return;
  }
  const auto i = static_cast<size_t>(position - 1);
  if (i < slots_.size() && bound_[i]) {
    slots_[i]->set(value);
    return;
  }
  while (slots_.size() <= i) slots_.resize(std::max<size_t>(slots_.size(), 1) * 2);
  while (bound_.size() <= static_cast<size_t>(position))
    bound_.resize(std::max<size_t>(bound_.size(), 1) * 2, false);
  auto buffer =
      std::make_shared<DBIBuffer>(value.type(), connection_ ? connection_->errorHandler() : nullptr);
  slots_[i] = buffer;
  bound_[i] = true;
  buffer->set(value);
}

bool QRMDBStatementImp::execute() {
  if (!statement_) return false;
  if (!shifted_) {
    shifted_ = true;
    // Positions are consecutive from 1; hand over as many buffers as are bound.
    size_t count = 0;
    for (bool b : bound_) count += b ? 1 : 0;
    for (size_t i = 0; i < count && i < slots_.size(); ++i) {
      if (slots_[i]) statement_->addParameter(slots_[i]);
    }
  }
  statement_->execute();
  return statement_->hasResult();
}

bool QRMDBStatementImp::fetchRow(DBIRow& row) {
  if (!statement_ || !statement_->isValid()) return false;
  std::vector<DBIRow> rows;
  if (statement_->fetch(1, rows) < 1) return false;
  row = std::move(rows[0]);
  return true;
}

DBIReader QRMDBStatementImp::reader() {
  if (!statement_) return DBIReader();
  auto table = std::make_shared<QRMDBMemTableImp>(statement_->status(), statement_->schema(), fetchSize_);
  table->populate(*statement_);
  return DBIReader(std::move(table));
}

int32_t QRMDBStatementImp::rowsAffected() const {
  return statement_ ? static_cast<int32_t>(statement_->rowsAffected()) : 0;
}
bool QRMDBStatementImp::hasResult() const { return statement_ && statement_->hasResult(); }
bool QRMDBStatementImp::isValid() const { return statement_ && statement_->isValid(); }
void QRMDBStatementImp::cancel() {
  if (statement_) statement_->cancel();
}

const DBIBuffer* QRMDBStatementImp::buffer(int32_t position) const {
  const auto i = static_cast<size_t>(position - 1);
  return position >= 1 && i < slots_.size() && bound_[i] ? slots_[i].get() : nullptr;
}

icu::UnicodeString QRMDBStatementImp::describe() const {
  std::string text("Statement: sql=");
  text.append(toStdString(sql_)).append(1, '\n');
  if (buffer(1) == nullptr) {
    text += "No Bind Values";
  } else {
    text += "Bind Values: ";
    for (int32_t position = 1; buffer(position) != nullptr; ++position) {
      const DBIValue& value = buffer(position)->get();
      if (position > 1) text += ",";
      if (value.type() == DBIValue::kString) {
        text.append(1, '\'').append(value.asString()).append(1, '\'');
      } else {
        text += value.asString();
      }
    }
  }
  return UCString(text);
}

QRMDBStatement::QRMDBStatement() : body_(std::make_shared<QRMDBStatementImp>()) {}
QRMDBStatement::QRMDBStatement(std::shared_ptr<QRMDBStatementImp> body) : body_(std::move(body)) {}

int64_t readInteger64(const icu::UnicodeString& text, bool* overflow) {
  // The magnitude is kept in 64 unsigned bits and stops growing at 2^63, the magnitude of INT64_MIN,
  // so no step can wrap and the sign is applied without overflowing.
  constexpr uint64_t kMagnitudeLimit = uint64_t{1} << 63;
  uint64_t value = 0;
  bool negative = false;
  bool tooLarge = false;
  for (int32_t i = 0; i < text.length(); ++i) {
    const char16_t c = text.charAt(i);
    if (u_isdigit(c)) {
      const auto digit = static_cast<uint64_t>(u_charDigitValue(c));
      if (value > (kMagnitudeLimit - digit) / 10) {
        value = kMagnitudeLimit;
        tooLarge = true;
      } else {
        value = value * 10 + digit;
      }
    } else if (value == 0 && c == u'-') {
      negative = true;
    } else if (value == 0 && (c == u'+' || c == u' ')) {
      continue;
    } else {
      break;
    }
  }
  if (!negative && value == kMagnitudeLimit) tooLarge = true;
  if (overflow != nullptr) *overflow = tooLarge;
  if (negative) return value == kMagnitudeLimit ? INT64_MIN : -static_cast<int64_t>(value);
  return value >= kMagnitudeLimit ? INT64_MAX : static_cast<int64_t>(value);
}

double readDouble(const icu::UnicodeString& text) {
  double integer = 0;
  double fraction = 0;
  double divisor = 0;
  double sign = 1;
  for (int32_t i = 0; i < text.length(); ++i) {
    const char16_t c = text.charAt(i);
    if (u_isdigit(c)) {
      const int digit = u_charDigitValue(c);
      if (divisor == 0) {
        integer = integer * 10 + digit;
      } else {
        fraction = fraction * 10 + digit;
        divisor *= 10;
      }
    } else if (integer + fraction == 0 && c == u'-') {
      sign = -1;
    } else if (integer + fraction == 0 && (c == u'+' || c == u' ')) {
      continue;
    } else if (c == u'.' && divisor == 0) {
      divisor = 1;
    } else {
      break;
    }
  }
  return divisor == 0 ? sign * integer : sign * (integer + fraction / divisor);
}

namespace {

enum class Detected { kText, kInteger, kDouble };

Detected detect(const icu::UnicodeString& text) {
  int32_t k = 0;
  while (k < text.length() && text.charAt(k) == u' ') ++k;
  bool dot = false;
  for (; k < text.length(); ++k) {
    const char16_t c = text.charAt(k);
    if (k == 0 && (c == u'-' || c == u'+')) continue;
    if (c >= u'0' && c <= u'9') continue;
    if (c == u'.' && !dot) {
      dot = true;
      continue;
    }
    return Detected::kText;
  }
  return dot ? Detected::kDouble : Detected::kInteger;
}

// The sign and digits of a text `detect` found to be an integer (blanks and a "+" dropped).
std::string integerDigits(const icu::UnicodeString& text) {
  std::string digits;
  for (int32_t i = 0; i < text.length(); ++i) {
    const char16_t c = text.charAt(i);
    if (c == u'-' || (c >= u'0' && c <= u'9')) digits.push_back(static_cast<char>(c));
  }
  return digits;
}

}  // namespace

bool QRMDBStatement::bindText(int32_t position, const char16_t* chars, bool detectNumbers) {
  icu::UnicodeString text(chars != nullptr ? chars : u"");
  if (body_->asciiOnlyDatabase()) {
    for (int32_t i = 0; i < text.length(); ++i) {
      if (text.charAt(i) >= 128) {
        logLine("sql", kLogError, u"Non-ASCII data is being executed against ASCII only database.");
        break;
      }
    }
  }
  auto bindAsText = [&](const icu::UnicodeString& value) {
    body_->setValue(position, DBIValue(toStdString(value)));
  };
  if (!detectNumbers) {
    bindAsText(text);
    return true;
  }
  if (text.length() >= 1 && text.charAt(0) == u'\'' && text.charAt(text.length() - 1) == u'\'') {
    icu::UnicodeString inner(text);
    inner.truncate(inner.length() - 1);
    inner.remove(0, 1);
    bindAsText(inner);
    return true;
  }
  switch (detect(text)) {
    case Detected::kText:
      bindAsText(text);
      break;
    case Detected::kDouble:
      try {
        bindDouble(position, readDouble(text));
      } catch (const SQLException& e) {
        CLogMessage message("sql", kLogError);
        message.addLine(
            u"Parameter Binding of parameter %d failed, retrying with Integer type. Might lose precision "
            u"[%S]: %s",
            position, text, e.what());
        message.addLine(u"SQL was: [%S]", sql());
        sendToLog(message);
        bindInteger(position, readInteger64(text));
      }
      break;
    case Detected::kInteger:
      try {
        bool overflow = false;
        const int64_t value = readInteger64(text, &overflow);
        if (overflow) {
          // Beyond 64 bits: kept whole as a decimal rather than bound as a different number.
          body_->setValue(position, DBIValue(DBIDecimal{integerDigits(text)}));
        } else {
          bindInteger(position, value);
        }
      } catch (const SQLException& e) {
        CLogMessage message("sql", kLogWarning);
        message.addLine(u"Parameter Binding of parameter %d failed, retrying with Double type: %s", position,
                        e.what());
        message.addLine(u"SQL was: [%S]", sql());
        sendToLog(message);
        bindDouble(position, readDouble(text));
      }
      break;
  }
  return true;
}

void QRMDBStatement::bindInteger(int32_t position, int64_t value) {
  body_->setValue(position, DBIValue(value));
}
void QRMDBStatement::bindDouble(int32_t position, double value) {
  body_->setValue(position, DBIValue(value));
}

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

namespace {
uint32_t levelForSeverity(int32_t severity) {
  switch (severity) {
    case 0:
      return kLogInfo;
    case 1:
    case 2:
      return kLogWarning;
    case 3:
      return kLogError;
    case 4:
      return kLogCritical;
    default:
      return kLogNote;
  }
}
}  // namespace

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
  CLogMessage message("sql", levelForSeverity(cls.severity));
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

QRMDBStatementCanceler::~QRMDBStatementCanceler() {
  if (statement_ != nullptr && statement_->body().hasResult() && statement_->body().isValid()) {
    try {
      statement_->body().cancel();
    } catch (...) {
      // Leaving scope must not throw; the result is discarded with the statement anyway.
    }
  }
}

}  // namespace hcs
