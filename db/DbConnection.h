// A connection to one database, opened from one of the system's connection
// strings (see ConnectionString.h for the routing to SQLite or ODBC).
//
// Ownership and threads: a connection and the queries bound to it belong to
// one thread at a time; nothing here takes a lock or is shared between
// connections. Queries must be destroyed before their connection; a
// connection that is closed or reopened ends every result of its queries and
// drops their prepared statements.
//
// Errors are raised as TDbError (DbError.h) with a readable message.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/ConnectionString.h"

namespace kelvor {

class TDbQuery;
class TDbSession;

class TDbConnection {
 public:
  TDbConnection();
  ~TDbConnection();
  TDbConnection(const TDbConnection&) = delete;
  TDbConnection& operator=(const TDbConnection&) = delete;

  // Takes effect at the next Open.
  void SetConnectionString(std::string_view Text) { FConnectionString = Text; }
  const std::string& ConnectionString() const { return FConnectionString; }

  // ODBC login timeout in seconds (default 15). No login prompt is ever shown.
  void SetLoginTimeout(int Seconds) { FLoginTimeout = Seconds; }
  // How long SQLite statements may wait for locks other connections hold,
  // in total from one Open to the next Close (default 30000 ms), so that
  // several task threads can share one file while one run never waits longer
  // than this, however many of its statements meet a lock. Once it is spent,
  // a statement that meets a lock fails at once ("database is locked").
  // Takes effect at the next Open.
  void SetBusyTimeout(int Milliseconds) { FBusyTimeout = Milliseconds; }
  int BusyTimeout() const { return FBusyTimeout; }
  // Called on the connection's thread about every 100 ms while an SQLite
  // statement waits for a lock, with the time this connection's statements
  // have waited in total since Open. Answering false ends the wait at once:
  // the statement then fails as locked. Takes effect at the next Open; the
  // hook must not use this connection.
  using TLockWaitHook = std::function<bool(std::chrono::milliseconds Waited)>;
  void SetLockWaitHook(TLockWaitHook Hook) { FLockWaitHook = std::move(Hook); }

  // Closes the connection if it is open, then opens it with the current
  // connection string, reading conf/providers.ini afresh. Raises TDbError
  // when the provider, file, data source, server or login is wrong; the
  // connection then stays closed.
  void Open();
  // Rolls back an open transaction and closes; does nothing when closed.
  // Never raises.
  void Close() noexcept;
  // True from a successful Open until Close. A connection the server dropped
  // stays Connected; its next statement raises (SQLSTATE 08S01 or 57P01).
  bool Connected() const { return FSession != nullptr; }

  // Whether a text value may hold a NUL byte on the open connection: false
  // for PostgreSQL, whose text types cannot (a text parameter or statement
  // holding one is refused rather than cut short); true when closed.
  bool TextHoldsNul() const;

  // Whether the database reads a backslash inside a quoted literal as the
  // start of an escape, so that a literal text must double it to keep it:
  // MariaDB and MySQL unless the session's sql_mode holds
  // NO_BACKSLASH_ESCAPES, PostgreSQL when standard_conforming_strings is
  // off. Read once when the connection opens; false while closed.
  bool BackslashEscapes() const;

  // Where the open connection leads (valid while Connected).
  const TDbRoute& Route() const { return FRoute; }
  // The database system behind the open connection, as its ODBC driver
  // answers SQLGetInfo(SQL_DBMS_NAME): "PostgreSQL", "MariaDB", "MySQL",
  // "Microsoft SQL Server", ...; "SQLite" for an SQLite file. Empty while
  // closed. On MariaDB and MySQL the connection is made with the drivers'
  // found-rows option, so that RowsAffected counts rows matched there too.
  const std::string& DbmsName() const;

  // One transaction per connection at a time. BeginTrans raises when one is
  // active or the connection is closed.
  //
  // Inside a transaction every statement (TDbQuery Open, ExecSQL, First) is
  // first checked: once a statement of the transaction failed, or the
  // database ended the transaction by itself (SQLite rolls all of it back
  // after a full disk; the statements after it would run and commit one by
  // one), nothing more is sent and the statement raises instead.
  void BeginTrans();
  // Commits, or, when a statement of this transaction failed or the database
  // ended the transaction, rolls back and raises: some drivers (psqlodbc)
  // keep a transaction alive after a failed statement, and committing its
  // other changes would apply half a batch.
  // Afterwards no transaction is active, also when the commit failed.
  void CommitTrans();
  // Rolls back; does nothing when no transaction is active. Raises when the
  // database refuses, but InTransaction is false afterwards in any case.
  void RollbackTrans();
  bool InTransaction() const { return FInTransaction; }
  // True when a transaction was begun and the database has ended it by
  // itself since (SQLite after a full disk or a script's own COMMIT; ODBC
  // drivers do not tell, so never there).
  bool TransactionEndedByDatabase() const;

  // One savepoint inside the active transaction, so that part of it can be
  // undone and done again another way after a statement failed, while what
  // came before stays. Known for PostgreSQL, MariaDB, MySQL and SQLite
  // (HasSavepoints); elsewhere the calls raise.
  bool HasSavepoints() const;
  // Marks the transaction's present state. Raises where a statement would
  // (no transaction, or one that failed), and when a savepoint is set
  // already (one at a time: release it first).
  void SetSavepoint();
  // Forgets the savepoint, keeping everything done since.
  void ReleaseSavepoint();
  // Undoes every change since SetSavepoint, a failed statement's included,
  // and lets the transaction go on as if none of those statements had been
  // sent. Raises, and the transaction stays failed, when the database cannot
  // return to the savepoint (it ended the transaction itself: a deadlock, a
  // lost connection, a full disk on SQLite). The savepoint stays set.
  void RollbackToSavepoint();
  bool SavepointSet() const { return FSavepointSet; }

 private:
  friend class TDbQuery;
  TDbSession& Session();                 // raises when closed
  void CheckTransactionOpen();           // raises when a statement must not be sent
  void NoteStatementFailure() noexcept;  // a statement of this connection failed
  void Attach(TDbQuery* Query);
  void Detach(TDbQuery* Query) noexcept;

  std::string FConnectionString;
  int FLoginTimeout = 15;
  int FBusyTimeout = 30000;
  TLockWaitHook FLockWaitHook;
  TDbRoute FRoute;
  std::unique_ptr<TDbSession> FSession;
  void RunControl(const char* Sql, const char* What);  // a statement of the layer's own

  bool FInTransaction = false;
  bool FTransactionFailed = false;
  bool FSavepointSet = false;
  std::vector<TDbQuery*> FQueries;  // bound queries, not owned
};

}  // namespace kelvor
