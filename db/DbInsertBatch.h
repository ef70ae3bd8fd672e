// Many rows of one INSERT, sent in few round trips.
//
// The statement is given as its head, "insert into T(a,b)values", and the
// placeholder group of one row, "(:a,:b)"; one row alone is always sent as
// their concatenation, the ordinary one-row INSERT. More rows travel in the
// form measured fastest for the database behind the connection:
//   PostgreSQL, MariaDB, MySQL
//                   one INSERT carrying many rows, "...values(?,?),(?,?),...",
//                   prepared once per row count, up to kMultiRowParameters
//                   parameters per statement (psqlodbc's libpq refuses the
//                   server's description of a statement with more than
//                   7,498; the servers take 65,535)
//   SQLite          the same, up to kSqliteParameters parameters: in process
//                   there is no round trip to save, but one statement of many
//                   rows costs SQLite less than as many of one row
//   any other database
//                   the one-row INSERT, prepared once and run row by row
//                   (nothing is assumed of it)
// The one-row INSERT with arrays of parameters (ParameterArrays) is there
// for callers that ask for it: MariaDB's Connector/ODBC 3.1 sends such
// arrays as one bulk command, a little faster, but keeps some 80 bytes of
// every row it sent until the connection closes.
// Whatever the form, the database receives the same values with the same
// types as the one-row INSERT would give it, row by row in order.
//
// Ownership and threads: bound to one connection, which must outlive it, and
// used by that connection's thread; it holds the rows added until Flush.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/DbQuery.h"

namespace kelvor {

class TDbConnection;

class TDbInsertBatch {
 public:
  enum class TForm { OneByOne, ParameterArrays, MultiRowValues };

  // Parameters one multi-row INSERT carries at most (PostgreSQL).
  static constexpr size_t kMultiRowParameters = 4000;
  // The same on SQLite: every SQLite build takes that many.
  static constexpr size_t kSqliteParameters = 999;
  // Rows one multi-row INSERT or one array carries at most.
  static constexpr size_t kMultiRowRows = 500;
  static constexpr size_t kArrayRows = 1000;
  // Rows collected before a Flush when each row is sent on its own.
  static constexpr size_t kOneByOneRows = 1000;
  // Bytes of values one statement (or one array) carries at most, however
  // few rows that makes: well within what the servers take in one packet
  // (MariaDB's max_allowed_packet is 16 MB unless set otherwise).
  static constexpr size_t kStatementBytes = size_t{4} << 20;

  explicit TDbInsertBatch(TDbConnection& Connection);
  TDbInsertBatch(const TDbInsertBatch&) = delete;
  TDbInsertBatch& operator=(const TDbInsertBatch&) = delete;

  // Sets the statement, forgets any rows added, and chooses the form by the
  // database of the open connection. Raises TDbError when the connection is
  // closed or the group holds no placeholder.
  void SetStatement(std::string_view Head, std::string_view RowGroup);
  // Another form than the database's own (tests; OneByOne where a caller
  // must see each row's own statement).
  void SetForm(TForm Form) { FForm = Form; }
  TForm Form() const { return FForm; }

  // Head + RowGroup: what one row alone is sent as.
  const std::string& RowStatement() const { return FRowStatement; }
  // Placeholders of one row, in order of appearance.
  size_t ParamCount() const { return FNames.size(); }
  // The parameters of one more row, ParamCount() of them, each without a
  // value and of type ftUnknown, to be filled like a query's parameters.
  // Valid until the next AddRow, Flush or SetStatement.
  TDbParam* AddRow();
  size_t RowCount() const { return FRowCount; }
  // Rows that travel together in the chosen form: worth collecting before
  // a Flush.
  size_t RowsPerRoundTrip() const;
  // True when a Flush is due: RowsPerRoundTrip() rows are there, or their
  // values hold kStatementBytes (rows of long values travel in fewer per
  // round trip, and are not all kept until then).
  bool Full();

  // Sends the rows added since the last Flush, in order, and forgets them
  // (also when it raises). Raises the TDbError of the first statement the
  // database refused; rows sent before it stay applied (inside a
  // transaction, roll back to a savepoint to undo them).
  void Flush();
  // Rows the database counted as inserted by the last Flush.
  int64_t RowsAffected() const { return FRowsAffected; }

  // Called before each statement a Flush sends, with its text and the
  // parameter values it carries (all rows' values, row after row).
  using TSendHook = std::function<void(const std::string& Sql, std::span<const TDbParam> Params)>;
  void SetSendHook(TSendHook Hook) { FSendHook = std::move(Hook); }

 private:
  std::string MultiRowStatement(size_t Rows) const;
  // Bytes of the values of the rows [First, First + Count).
  size_t RowBytes(size_t First, size_t Count) const;
  // How many rows from First, at most Most, one statement carries.
  size_t RowsWithin(size_t First, size_t Most) const;

  TDbQuery FQuery;
  TForm FForm = TForm::OneByOne;
  bool FInProcess = false;  // SQLite: rows run one by one in process
  std::string FHead;
  std::string FGroup;
  std::string FRowStatement;
  std::vector<std::string> FNames;  // of one row's placeholders
  std::vector<TDbParam> FRows;      // RowCount() rows, ParamCount() each; kept for reuse
  size_t FRowCount = 0;
  size_t FBytesCounted = 0;  // of the first FRowsCounted rows added
  size_t FRowsCounted = 0;
  std::string FFullText;  // the multi-row text of a full statement
  size_t FFullRows = 0;
  int64_t FRowsAffected = 0;
  TSendHook FSendHook;
};

}  // namespace kelvor
