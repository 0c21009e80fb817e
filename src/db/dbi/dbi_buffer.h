#pragma once

#include "db/dbi/dbi_value.h"
#include "error/db_status.h"

namespace hcs {

// Called for every failing operation of the interface with the failing status; vendor handlers throw
// their SQLException class. A null handler lets the operation report the failure by its result only.
using DBIErrorHandler = bool (*)(const DBIStatus& status);

// Reports `status` to `handler` when it is a failure; returns whether it was valid. The handler may
// throw; then nothing is returned.
bool reportStatus(DBIErrorHandler handler, const DBIStatus& status);

// A parameter buffer of one entry whose element type is fixed at construction (one of kInt, kLongLong,
// kDouble, kDecimal, kString, kUString). Storing a value converts it when that loses nothing
// (an integer into a double buffer, an integral double into an integer buffer, any text into a text
// buffer, NULL into any buffer) and otherwise fails with kDBITypeConversion through the handler,
// leaving the previous value in place. Not synchronised.
class DBIBuffer {
 public:
  DBIBuffer(DBIValue::Type type, DBIErrorHandler handler);

  DBIValue::Type type() const { return type_; }
  bool set(const DBIValue& value);
  const DBIValue& get() const { return value_; }

 private:
  DBIValue::Type type_;
  DBIErrorHandler handler_;
  DBIValue value_;
};

// The buffer type a value of type `type` is bound with (kLong becomes kLongLong, dates become text).
DBIValue::Type bufferTypeFor(DBIValue::Type type);

}  // namespace hcs
