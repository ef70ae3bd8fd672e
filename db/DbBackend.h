// The seam between TDbConnection/TDbQuery and the two backends (SQLite C API,
// ODBC). Internal to db/: nothing outside this folder includes it.
//
// A session is one open database connection; a statement is one compiled
// statement text of that session. Both belong to the thread of their
// TDbConnection. Every driver diagnostic is turned into TDbError inside the
// backend that received it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "db/ConnectionString.h"
#include "db/DbQuery.h"

namespace kelvor {

class TDbStatement {
 public:
  virtual ~TDbStatement() = default;
  // Binds Params (converted by their DataType) and runs the statement.
  // KeepResult: leave a result set open for Describe/Fetch and return true
  // when the statement produced one. Otherwise run it to completion,
  // discarding rows, and set RowsAffected.
  virtual bool Execute(std::span<const TDbParam> Params, bool KeepResult) = 0;
  // Runs a statement that returns no rows once for each of Rows rows of
  // parameter values (Params holds them row after row): ODBC sends them as
  // arrays of parameters, SQLite runs the statement row by row. RowsAffected
  // is the total. Raises at the first row the database refuses; the rows
  // before it may then have been applied.
  virtual void ExecuteRows(std::span<const TDbParam> Params, size_t Rows) = 0;
  virtual int64_t RowsAffected() const = 0;
  // Fills Fields with the open result's columns (names, types, sizes).
  virtual void Describe(std::vector<TDbField>& Fields) = 0;
  // Reads the next row into Fields; false when there is none.
  virtual bool Fetch(std::vector<TDbField>& Fields) = 0;
  // Ends the open result, if any; the statement stays compiled. Never raises.
  virtual void CloseResult() noexcept = 0;
};

class TDbSession {
 public:
  virtual ~TDbSession() = default;
  // Persistent: the statement will be kept and run many times.
  virtual std::unique_ptr<TDbStatement> Prepare(const std::string& Sql, bool Persistent) = 0;
  // The database system as the driver names it (see TDbConnection::DbmsName).
  virtual const std::string& DbmsName() const = 0;
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  // False when the database itself ended the transaction Begin started (SQLite
  // rolls back the whole transaction after a full disk, for instance). ODBC
  // drivers do not say; there TDbConnection goes by the failures it saw.
  virtual bool TransactionOpen() const = 0;
  // Whether a text value may hold a NUL byte (PostgreSQL's text types cannot).
  virtual bool TextHoldsNul() const = 0;
  // Whether a backslash inside a quoted literal starts an escape (see
  // TDbConnection::BackslashEscapes); read once when the session opened.
  virtual bool BackslashEscapes() const = 0;
};

struct TDbOpenOptions {
  int LoginTimeoutSeconds = 15;
  // SQLite: the time statements of the session may wait for locks, in total.
  int BusyTimeoutMs = 30000;
  // SQLite: asked while a statement waits for a lock (see TDbConnection).
  std::function<bool(std::chrono::milliseconds)> LockWait;
};

// Raise TDbError naming Route.Description when the database cannot be opened.
std::unique_ptr<TDbSession> OpenSqliteSession(const TDbRoute& Route, const TDbOpenOptions& Options);
std::unique_ptr<TDbSession> OpenOdbcSession(const TDbRoute& Route, const TDbOpenOptions& Options);

}  // namespace kelvor
