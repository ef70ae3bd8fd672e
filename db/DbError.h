// The one error type of the data access layer. Every diagnostic of a driver
// (SQLite, ODBC) is turned into a TDbError in one place per backend; callers
// catch it at their operation boundary and log what() as the message.
//
// DriverText says what this layer was doing ("Unable to execute statement");
// DatabaseText is what the database or its driver answered, unchanged; the two
// are never mixed. what() joins them with the SQLSTATE, when there is one:
//   "<DriverText>: <DatabaseText> [SQLSTATE <state>]"
// Immutable; may be copied between threads.
#pragma once

#include <stdexcept>
#include <string>

namespace kelvor {

class TDbError : public std::runtime_error {
 public:
  explicit TDbError(std::string DriverText, std::string DatabaseText = {},
                    std::string SqlState = {}, int NativeCode = 0);

  const std::string& DriverText() const noexcept { return FDriverText; }
  const std::string& DatabaseText() const noexcept { return FDatabaseText; }
  // Five characters for ODBC drivers; empty for SQLite and for errors found by
  // this layer itself.
  const std::string& SqlState() const noexcept { return FSqlState; }
  // The driver's native error number (SQLite's extended result code), or 0.
  int NativeCode() const noexcept { return FNativeCode; }

 private:
  std::string FDriverText;
  std::string FDatabaseText;
  std::string FSqlState;
  int FNativeCode;
};

}  // namespace kelvor
