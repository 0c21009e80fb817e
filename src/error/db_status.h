#pragma once

#include <cstdint>
#include <string>

namespace hcs {

// The outcome of one database interface operation. Lives here, below the database layer, because the
// SQL exceptions that carry it are part of the error subsystem.
//
// errorCode is the interface's own code (kDBIOk when the operation succeeded); the vendor fields come
// from the driver's diagnostics: SQLSTATE, native error number and native message texts.
class DBIStatus {
 public:
  enum ErrorCode : int32_t {
    kDBIOk = 0,
    kDBINoConnection = 1,
    kDBINotInitialized = 2,  // an empty reader, a statement never executed
    kDBIServerError = 3,     // the driver or server reported a failure
    kDBITypeConversion = 4,  // a value does not fit the buffer it is stored into
    kDBIInvalidUsage = 5,    // the caller broke the interface's contract
    kDBINoDriver = 6,        // the ODBC driver cannot be loaded
  };

  DBIStatus() = default;
  DBIStatus(int32_t errorCode, std::string message, std::string sqlState = {}, int32_t vendorError = 0,
            std::string vendorMessage1 = {}, std::string vendorMessage2 = {})
      : errorCode_(errorCode),
        message_(std::move(message)),
        sqlState_(std::move(sqlState)),
        vendorError_(vendorError),
        vendorMessage1_(std::move(vendorMessage1)),
        vendorMessage2_(std::move(vendorMessage2)) {}

  bool isValid() const { return errorCode_ == kDBIOk; }
  int32_t errorCode() const { return errorCode_; }
  // The interface's description of the failure (names the operation).
  const std::string& message() const { return message_; }
  // Five-character ODBC SQLSTATE of the first diagnostic record; "" when there was none.
  const std::string& sqlState() const { return sqlState_; }
  // The vendor's native error number.
  int32_t vendorError1() const { return vendorError_; }
  // The vendor's message of the first diagnostic record.
  const std::string& vendorMessage1() const { return vendorMessage1_; }
  // Further diagnostic records, joined by "; "; "" when there were none.
  const std::string& vendorMessage2() const { return vendorMessage2_; }

 private:
  int32_t errorCode_ = kDBIOk;
  std::string message_;
  std::string sqlState_;
  int32_t vendorError_ = 0;
  std::string vendorMessage1_;
  std::string vendorMessage2_;
};

}  // namespace hcs
