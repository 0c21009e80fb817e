#include "db/qrm_db_statement.h"

#include "db/parameter_text.h"
#include "db/qrm_mem_table.h"
#include "error/sql_exception.h"
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

namespace {

void warnIfNotAscii(const icu::UnicodeString& text) {
  for (int32_t i = 0; i < text.length(); ++i) {
    if (text.charAt(i) >= 128) {
      logLine("sql", kLogError, u"Non-ASCII data is being executed against ASCII only database.");
      return;
    }
  }
}

// A cached statement's buffer may hold the other numeric type: one retry with it.
void bindDetectedDouble(QRMDBStatement& statement, int32_t position, const icu::UnicodeString& text) {
  try {
    statement.bindDouble(position, readDouble(text));
  } catch (const SQLException& e) {
    CLogMessage message("sql", kLogError);
    message.addLine(
        u"Parameter Binding of parameter %d failed, retrying with Integer type. Might lose precision "
        u"[%S]: %s",
        position, text, e.what());
    message.addLine(u"SQL was: [%S]", statement.sql());
    sendToLog(message);
    statement.bindInteger(position, readInteger64(text));
  }
}

void bindDetectedInteger(QRMDBStatement& statement, int32_t position, const icu::UnicodeString& text) {
  try {
    bool overflow = false;
    const int64_t value = readInteger64(text, &overflow);
    if (overflow) {
      // Beyond 64 bits: kept whole as a decimal rather than bound as a different number.
      statement.body().setValue(position, DBIValue(DBIDecimal{integerDigits(text)}));
    } else {
      statement.bindInteger(position, value);
    }
  } catch (const SQLException& e) {
    CLogMessage message("sql", kLogWarning);
    message.addLine(u"Parameter Binding of parameter %d failed, retrying with Double type: %s", position,
                    e.what());
    message.addLine(u"SQL was: [%S]", statement.sql());
    sendToLog(message);
    statement.bindDouble(position, readDouble(text));
  }
}

}  // namespace

bool QRMDBStatement::bindText(int32_t position, const char16_t* chars, bool detectNumbers) {
  icu::UnicodeString text(chars != nullptr ? chars : u"");
  if (body_->asciiOnlyDatabase()) warnIfNotAscii(text);
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
  switch (detectParameterKind(text)) {
    case ParameterKind::kText:
      bindAsText(text);
      break;
    case ParameterKind::kDouble:
      bindDetectedDouble(*this, position, text);
      break;
    case ParameterKind::kInteger:
      bindDetectedInteger(*this, position, text);
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
