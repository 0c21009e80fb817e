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
// kDouble, kDecimal, kString, kUString). A cached statement keeps its buffers, so one position may be
// bound with a number one time and with text the next. Storing a value converts it when that loses
// nothing, and otherwise fails with kDBITypeConversion through the handler, leaving the previous value
// in place:
//   into text     any number or text, a date, a date-time without fraction (their text);
//   into a number a number the target holds exactly (an integral double into an integer, an integer
//                 a double represents exactly into a double), or a text that reads back as the same
//                 text ("42" into an integer, "0.5" into a double; not "042", "+42", "1.50", "abc");
//   into decimal  a number or text written as a plain numeral ("-12.50");
//   NULL into any buffer.
// Not synchronised.
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
