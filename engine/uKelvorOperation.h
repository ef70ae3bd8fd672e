// TKelvorOperationHandler: the executor of task runs.
//
// One executor belongs to one task daemon and is used by that daemon's thread
// only: it owns a connection and a query per side and the check keys, and it
// takes no lock of its own. (A batched run reads its next chunk on a thread
// of its own meanwhile; that thread uses the source query alone and is
// joined before the daemon's thread touches the source again.) The daemon connects both sides, sets
// MessageChannel and calls Execute with the task; Execute reads the source,
// builds the statements for the destination's SQL dialect and applies them in
// one destination transaction that commits only when every statement
// succeeded (on the databases the batched apply knows, reading and applying
// a batch of records at a time). Statement operations catch every database error, write the
// log line and answer 0 or -1; nothing here raises to the daemon.
//
// Once a statement of a run has failed, no further statement of that run is
// sent (each statement operation refuses with a log line): after a failure
// the database may have ended the transaction, and what follows would run
// outside it. Every reason that ends a run is written to the log. The one
// exception is the batched apply (uKelvorBatch.cpp): a batch the database
// refused is undone back to its savepoint and sent again record by record,
// to find the record that fails.
//
// A run ends each of its transactions (the apply, the validations, the
// mirror's delete, a script) in one place: it commits there, or, in a dry
// run (TRunEnd::Rollback), rolls back instead, so that a dry run sends
// exactly the statements a run sends and leaves both databases as they were.
#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "engine/Rec_Unit.h"
#include "engine/uKeyTable.h"
#include "tasks/uInstance.h"

namespace kelvor {

class TBroadMessage;
class TDbError;
class TDbInsertBatch;

// Sql as a log line shows it: texts over 4 KB are cut (never inside a UTF-8
// character) and followed by a note of their full length.
std::string StatementForLog(std::string_view Sql);

// One update-then-insert pair: the UPDATE is sent first and the INSERT only
// when the UPDATE changed no row. The texts are exactly those the joined
// "update $$ insert" line of a pair gives on each side of its separator.
struct TUpsertPair {
  std::string First;   // the UPDATE followed by one blank
  std::string Second;  // one blank followed by the INSERT
};

// How a run ends the transactions whose statements all succeeded.
enum class TRunEnd {
  Commit,    // a run: commit
  Rollback,  // a dry run: roll back, on the source as on the destination
};

// What one run of a row-copying type did. The row counts of the destination
// are those the database reported for the statements (rows affected); a
// batch's counts are added when all of its statements succeeded, so a run
// that failed applied none. In a dry run they are what would have been
// committed.
struct TRunCounts {
  int64_t Read = 0;            // rows the source command gave, SkippedByCheck included
  int64_t SkippedByCheck = 0;  // of those, rows whose key the check condition found
  int64_t Inserted = 0;        // destination rows the INSERTs added
  // Destination rows the UPDATEs matched by key. A row set to the values it
  // already held counts too: the databases report matched rows, not changed ones.
  int64_t Updated = 0;
  // Update-only: rows read whose UPDATE matched no destination row; they
  // leave the destination unchanged.
  int64_t SkippedNoMatch = 0;
  int64_t Deleted = 0;  // destination rows the mirror's delete removed

  TRunCounts& operator+=(const TRunCounts& Other);
  bool operator==(const TRunCounts&) const = default;
  // "read 12, inserted 3, updated 5, deleted 0, skipped 4 (pre-check 2, no
  // matching key 2)": the closing lines of a run carry it.
  std::string Text() const;
};

// A statement a run sent, as a dry run shows it.
struct TSentStatement {
  bool OnSource = false;
  std::string Sql;
  // The bound values in order, ":name=value, ..." (texts quoted, NULL as
  // null, bytes in hex); empty when the statement takes none.
  std::string Values;
};

class TKelvorOperationHandler {
 public:
  explicit TKelvorOperationHandler(std::string AId);
  ~TKelvorOperationHandler();
  TKelvorOperationHandler(const TKelvorOperationHandler&) = delete;
  TKelvorOperationHandler& operator=(const TKelvorOperationHandler&) = delete;

  // The connections are declared before the queries bound to them, so the
  // queries go first when the executor is destroyed.
  TDbConnection SourceConnection;
  TDbConnection DestinationConnection;
  TDbQuery SourceQuery;
  TDbQuery DestinationQuery;
  TBroadMessage* MessageChannel = nullptr;  // not owned; progress lines are dropped when null
  TKelvorInstance* CurrentTask = nullptr;   // not owned; the task of the run under way
  std::vector<std::string> CheckKeys;       // key texts read by the check condition
  const std::string Id;

  // Connection strings, as the system builds them from one side's settings.
  // Values holding ";" or a double quote are quoted so that they survive.
  static std::string ConnectionStringFor(const TSyncDataSource& Settings);
  // The form the dialog's connection test uses (Access passes user and password).
  static std::string DataModuleConnectionStringFor(const TSyncDataSource& Settings);
  // The file an Access-type DbName names: a name starting with ".." (after
  // trimming blanks) is taken from the program folder; any other is used as stored.
  static std::string AccessPath(const std::string& DbName);

  bool ConnectSource(const TSyncDataSource& Settings);
  bool ConnectDestination(const TSyncDataSource& Settings);
  void DisconnectSource();
  void DisconnectDestination();

  void PostProgress(std::string_view Text);
  int OpenSource(const std::string& Sql);
  int ExecSource(const std::string& Sql);
  int ExecDestination(const std::string& Sql);
  int ExecDestinationCounted(const std::string& Sql, int64_t& Rows);
  bool MustStop();

  // One run of Task; true when it succeeded. Success and failure are booked
  // on the task (SetExecuted / RecordFailure) before it returns. End says
  // whether the run's transactions commit or roll back at their end.
  bool Execute(TKelvorInstance& Task, TRunEnd End = TRunEnd::Commit);
  // Of the last run (Execute resets them): its counts, how many statements
  // it sent on either side, and the first KeepStatements of them.
  const TRunCounts& Counts() const { return FCounts; }
  int64_t SentCount() const { return FSentCount; }
  const std::vector<TSentStatement>& SentStatements() const { return FSent; }
  size_t KeepStatements = 0;  // set before Execute; normal runs keep none
  // Records read and applied together where a run applies them in batches
  // (a destination reached through parameters whose database this program
  // knows); each batch runs under a savepoint of its own.
  size_t BatchRows = 5000;
  static std::string ExpandNowMacro(std::string_view Text);
  void LoadCheckKeys();
  bool IsKnownKey(const TObuFields& Record) const;
  // The rows of Command, less those whose key is among the check keys.
  // nullptr when the command cannot be opened or a row cannot be read
  // (Failed says which; the reason is logged).
  std::unique_ptr<TObuRec> LoadSourceRecords(const std::string& Command,
                                             bool* ReadFailed = nullptr);

  // Cuts a script into statements at "go" lines, skipping "--" comment lines.
  static std::string SplitScript(const std::vector<std::string>& Lines);

  bool RunDestinationBatch(const std::vector<std::string>& Statements);
  bool RunSourceBatch(const std::vector<std::string>& Statements);
  int RunUpsertBatch(const std::vector<TUpsertPair>& Pairs);
  bool ApplyRecordsWithParameters(TObuRec& Records, int OperationType);
  // Rows: when given, the rows the INSERT added.
  int InsertWithParameters(const TObuFields& Record, int64_t* Rows = nullptr);
  int UpdateWithParameters(const TObuFields& Record);
  int UpdateWithParametersCounted(const TObuFields& Record, int64_t& Rows);
  // One record of a row-copying operation by the parameterised statements,
  // what it did added to Applied; false when a statement failed.
  bool ApplyRecordWithParameters(const TObuFields& Record, int OperationType, TRunCounts& Applied);

 private:
  // What the statements of a literal batch do to the destination's rows,
  // for the run's counts.
  enum class TBatchRows { NotCounted, Inserted, Updated, Deleted };

  bool OpenConnection(TDbConnection& Connection, const TSyncDataSource& Settings);
  // Rows: when given, the rows the statement affected.
  int ExecOn(TDbQuery& Query, const std::string& Sql, int64_t* Rows = nullptr);
  bool RunLiteralBatch(TDbConnection& Connection, TDbQuery& Query,
                       const std::vector<std::string>& Statements,
                       TBatchRows Counted = TBatchRows::NotCounted);
  // The same with the statements made one at a time as they are sent.
  bool RunLiteralBatch(TDbConnection& Connection, TDbQuery& Query, size_t Count,
                       const std::function<std::string(size_t)>& Statement,
                       TBatchRows Counted = TBatchRows::NotCounted);
  // Ends a transaction whose statements all succeeded as the run ends them:
  // commits, or in a dry run rolls back. Raises as CommitTrans does, also
  // when the database ended the transaction by itself (a script's own
  // COMMIT), since a dry run could not then take back what was done.
  void EndTransaction(TDbConnection& Connection);
  // Counts a statement about to be sent on Query and keeps it while fewer
  // than KeepStatements are kept; call it with the parameters bound.
  void NoteSent(TDbQuery& Query);
  // The same for a text whose values are held elsewhere (a batch of rows).
  void NoteSent(const std::string& Sql, std::span<const TDbParam> Params, bool OnSource);
  bool RunCommandScript(TKelvorInstance& Task);
  bool CopyRecords(TKelvorInstance& Task, TObuRec& Records);
  void FillParameters(const TObuFields& Record, bool ForInsert);
  // Runs Sql on the destination with one placeholder per key column of each
  // of Rows[Begin, End), bound as the key comparison takes them; Keep keeps
  // the compiled statement for the next call with the same text.
  // Affected: when given, the rows the statement affected.
  int ExecDestinationWithKeys(const std::string& Sql, const std::vector<const TObuFields*>& Rows,
                              size_t Begin, size_t End, bool Keep, int64_t* Affected = nullptr);
  // Types and sizes of the destination table's key columns of Layout.
  bool DescribeKeyColumns(const TObuFields& Layout, std::vector<TKeyColumn>& Keys);
  // The mirror's delete on a destination reached through parameters, in the
  // transaction open on it: removes the destination rows whose key matches
  // none of Records and the rows the check condition held back. The keys
  // are bound, never written into the text, and compared by the destination.
  // Deleted: the rows it removed.
  bool DeleteRowsWithoutSourceKey(TObuRec& Records, int64_t& Deleted);
  // The same in a transaction of its own.
  bool RunKeyDeleteBatch(TObuRec& Records);
  // The batched apply (uKelvorBatch.cpp): whether Task's run takes it, and
  // the run itself, reading and applying a chunk of records at a time.
  struct TBatchRun;
  bool AppliesInBatches(const TKelvorInstance& Task) const;
  bool CopyRecordsInBatches(TKelvorInstance& Task);
  // The rows of Command, for the progress lines; -1 when they cannot be counted.
  int64_t CountSourceRows(const std::string& Command);
  // One field per mapping of the current task, typed by the open source result.
  void BuildRecordTemplate(TObuFields& Template);
  // Reads the next chunk of source rows into Into, at most BatchRows of
  // them, into records of Layout (Columns: their source columns, in field
  // order). Touches nothing of the executor but the source query, so that
  // it can run on a thread of its own while a chunk is applied; stops early
  // once Abandoned is set. Raises when a row cannot be read.
  struct TChunkRead;
  void ReadChunk(TChunkRead& Into, int Operation, const TObuFields& Layout,
                 const std::vector<TDbField*>& Columns, const std::atomic<bool>& Abandoned);
  // ReadChunk, then the checks of every record read, on Into: whatever
  // fails is kept in Into for the applying side. KeyTexts/KeyEnds: the key
  // condition of each record, when the run validates.
  void ReadAndCheckChunk(TChunkRead& Into, int Operation, const TObuFields& Layout,
                         const std::vector<TDbField*>& Columns, const std::atomic<bool>& Abandoned,
                         int DbType, bool SourceEscapes, bool NulFits, std::string* KeyTexts,
                         std::vector<size_t>* KeyEnds);
  bool BeginBatchRun(TBatchRun& Run, const TObuFields& Layout);
  bool FinishBatchRun(TBatchRun& Run);
  // Applies the chunk read; its counts join the run's when it is through.
  bool ApplyChunk(TBatchRun& Run);
  bool ApplyChunkOnce(TBatchRun& Run);
  bool InsertChunk(TBatchRun& Run);
  bool StageChunk(TBatchRun& Run);
  bool ApplyChunkRowByRow(TBatchRun& Run);
  // After a batch the database refused: back to the chunk's savepoint and
  // record by record; false when a record fails or the savepoint is gone.
  bool RedoChunkRowByRow(TBatchRun& Run, const std::string& Sql, const TDbError& Error);
  bool AddChunkKeys(TBatchRun& Run);
  bool FlushRows(TBatchRun& Run, TDbInsertBatch& Batch);
  // After each round trip: false when the task must stop.
  bool KeepGoing(TBatchRun& Run);
  // After each chunk: "applied N of M" at every ten thousand rows, and
  // after the Last one.
  void ReportProgress(TBatchRun& Run, bool Last);
  static void FillInsertRow(TDbParam* Params, const TObuFields& Record);
  // After item Index of a batch of Total: false when the task must stop
  // (the stopped line is posted); posts a progress line now and then.
  bool ContinueAfterItem(size_t Index, size_t Total);
  // " (mission<name>)" of the current task: the log is shared by every task.
  std::string MissionTag() const;
  // Logs a statement that failed and marks the run: from then until the next
  // Execute the statement operations send nothing.
  void StatementFailed(std::string_view Head, const std::string& Sql, const std::exception& E);
  // False, with a log line, once a statement of the run has failed.
  bool MaySend(std::string_view Sql);
  // Posts and logs the stopped line, once per run.
  void Stopped();
  // Asked by a connection while one of its statements waits for a lock:
  // says so once past a few seconds, and ends the wait when the task must stop.
  struct TLockWait {
    bool Noticed = false;  // the line was posted for the connection's current opening
  };
  bool LockWait(TLockWait& Side, std::chrono::milliseconds Waited);

  std::unordered_set<std::string> FCheckKeyIndex;  // lower-cased CheckKeys
  bool FStatementFailed = false;                   // in the current run
  // The stopped line was posted this run; a source's lock wait may post it
  // from the thread reading ahead.
  std::atomic<bool> FStopNoted{false};
  TRunEnd FRunEnd = TRunEnd::Commit;  // of the run under way
  TRunCounts FCounts;                 // of the run under way, or the last
  int64_t FSentCount = 0;             // statements sent by that run
  std::vector<TSentStatement> FSent;  // the first KeepStatements of them
  TLockWait FSourceWait;
  TLockWait FDestinationWait;
  // Source rows of the last read that the check condition held back; a
  // mirror's delete must keep them.
  TObuRec FKnownRecords;
  // Field index per parameter of the destination query's current text, for
  // the column layout it was computed with (held, so that its address is
  // never taken by another layout while it is remembered).
  std::string FParamMapText;
  std::shared_ptr<const void> FParamMapLayout;
  std::vector<int> FParamMap;
  // The parameterised INSERT and UPDATE texts of one table and column layout.
  std::string FInsertSqlTable;
  std::shared_ptr<const void> FInsertSqlLayout;
  std::string FInsertSql;
  std::string FUpdateSqlTable;
  std::shared_ptr<const void> FUpdateSqlLayout;
  std::string FUpdateSql;
};

}  // namespace kelvor
