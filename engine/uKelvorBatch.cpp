// The batched apply of the row-copying types on a destination reached
// through parameters (the access, odbc and db2 types) whose database this
// program knows: PostgreSQL, MariaDB, MySQL and SQLite. The source is read a
// chunk of records at a time and each chunk is applied before the next is
// read, all in the run's one destination transaction:
//   insert              the chunk's INSERTs through a TDbInsertBatch, many
//                       rows per statement (SQLite too);
//   update(-then-insert), mirror
//                       PostgreSQL, MariaDB, MySQL: the chunk goes into a
//                       temporary table and a joined UPDATE (and an INSERT of
//                       the keys that matched nothing) applies it whole
//                       (uStageTable.h); SQLite, which runs in process: the
//                       record-by-record statements, compiled once;
//   mirror's keys       into the key table chunk by chunk, deleted against
//                       at the end (uKeyTable.h).
// Each chunk sent in batches runs under a savepoint. When the database
// refuses a batch, the chunk is undone back to the savepoint and sent again
// record by record, so that the record it refuses is the one the log names,
// with its statement and the database's message; then the run rolls back as
// any failed run does. The destination after a run is the one the
// record-by-record path leaves.
//
// Reading and applying overlap: while a chunk is applied on this thread, the
// next one is read (and its values checked) on a thread of its own, which
// touches nothing but the source query and the chunk it fills. The two meet
// after every chunk, so at most two chunks are held at a time.
#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <optional>
#include <span>
#include <system_error>
#include <thread>

#include "db/DbError.h"
#include "db/DbInsertBatch.h"
#include "engine/uKelvorOperation.h"
#include "engine/uKeyTable.h"
#include "engine/uStageTable.h"
#include "platform/Text.h"
#include "services/uLogService.h"

namespace kelvor {

namespace {

// A run tells the operator how far it got every this many rows.
constexpr int64_t kProgressEveryRow = 10000;
// Bytes of values a chunk holds at most, however few rows that makes.
constexpr size_t kChunkBytes = size_t{32} << 20;

// The kinds of key whose value the destination stores exactly as the
// record-by-record UPDATE compares it: a staged key, converted to the
// destination column's type on the way in, then compares the same way.
enum class TKeyClass { Text, Integer, Date, Time, DateTime, Boolean, Other };

TKeyClass KeyClassOf(TFieldType Type) {
  switch (Type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftMemo:
    case ftFmtMemo:
      return TKeyClass::Text;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftLargeint:
    case ftAutoInc:
      return TKeyClass::Integer;
    case ftDate:
      return TKeyClass::Date;
    case ftTime:
      return TKeyClass::Time;
    case ftDateTime:
    case ftTimeStamp:
      return TKeyClass::DateTime;
    case ftBoolean:
      return TKeyClass::Boolean;
    default:
      return TKeyClass::Other;
  }
}

bool SameFile(const std::string& A, const std::string& B) {
  std::error_code error;
  return std::filesystem::equivalent(A, B, error);
}

}  // namespace

// One chunk as the reading side hands it over: its records, what reading
// them counted, and what went wrong.
struct TKelvorOperationHandler::TChunkRead {
  std::vector<TObuFields> Chunk;  // records to apply; storage kept for reuse
  size_t ChunkCount = 0;
  std::vector<TObuFields> Known;  // held back by the check condition (mirror)
  size_t KnownCount = 0;
  int64_t Read = 0;               // source rows read for this chunk
  int64_t SkippedByCheck = 0;     // of those, held back by the check condition
  bool More = false;              // rows were read
  bool SourceEnded = false;       // the source has no row left
  bool ReadFailed = false;        // reading a row failed (the rows before it are held)
  std::string ReadError;          // and why
  std::exception_ptr CheckError;  // a value that cannot be written, a key that finds no row
};

// What one batched run carries from chunk to chunk.
struct TKelvorOperationHandler::TBatchRun {
  TBatchRun(TDbConnection& Destination, int Operation, TKeyTable::TDialect Dialect)
      : Op(Operation), Dialect(Dialect), Rows(Destination), Keys(Destination), Sets(Destination) {
    Sets.SetPrepared(true);
  }

  const int Op;
  const TKeyTable::TDialect Dialect;
  // Types 1, 2 and 5 on a server: the chunk goes through the stage table.
  std::optional<TStageTable> Stage;
  std::optional<TKeyTable> KeyTable;  // the mirror's
  TDbInsertBatch Rows;                // the INSERT of type 0, or the stage's
  TDbInsertBatch Keys;                // into the key table
  TDbQuery Sets;                      // the stage's statements, compiled once
  bool Begun = false;                 // the destination transaction is open
  // The records of the chunk under way; their storage is kept for the next.
  std::vector<TObuFields> Chunk;
  size_t ChunkCount = 0;
  std::vector<TObuFields> Known;  // held back by the check condition (mirror)
  size_t KnownCount = 0;
  int64_t Read = 0;    // source rows of the chunks taken so far
  int64_t Total = -1;  // source rows in all, when known
  int64_t Posted = 0;  // rows the last progress line told of
  // What the chunks applied so far did; the run's counts once it ends well.
  TRunCounts Applied;
  TRunCounts ChunkApplied;  // the chunk under way, until it is through
};

bool TKelvorOperationHandler::AppliesInBatches(const TKelvorInstance& Task) const {
  const int op = Task.FieldMaps.OperationType;
  if (op != opInsert && op != opUpdateThenInsert && op != opUpdate && op != opMirror) return false;
  const int dbType = Task.Destination.DbType;
  if (dbType != dbAccess && dbType != dbOdbc && dbType != dbDb2) return false;
  if (!TKeyTable::DialectFor(DestinationConnection.DbmsName())) return false;
  // One SQLite file read while the same file is written: the writer would
  // wait for the reader's lock at its first spill to disk. Such a run reads
  // everything first, as before.
  const TDbRoute& from = SourceConnection.Route();
  const TDbRoute& to = DestinationConnection.Route();
  if (from.Backend == TDbBackend::SQLite && to.Backend == TDbBackend::SQLite &&
      SameFile(from.FilePath, to.FilePath))
    return false;
  return true;
}

// ---------------------------------------------------------------------------
// Reading

void TKelvorOperationHandler::ReadChunk(TChunkRead& Into, int Operation, const TObuFields& Layout,
                                        const std::vector<TDbField*>& Columns,
                                        const std::atomic<bool>& Abandoned) {
  Into.ChunkCount = Into.KnownCount = 0;
  Into.Read = Into.SkippedByCheck = 0;
  Into.More = false;
  const int count = static_cast<int>(Columns.size());
  // Rows the check condition holds back count too: a mirror keeps them.
  // Rows of long values make a chunk of fewer.
  size_t bytes = 0;
  for (size_t read = 0; read < std::max<size_t>(BatchRows, 1) && bytes < kChunkBytes &&
                        !SourceQuery.Eof() && !Abandoned.load(std::memory_order_relaxed);
       ++read) {
    // Each row goes straight into the next free record of the chunk (whose
    // storage an earlier chunk left), and moves over when it is held back.
    if (Into.ChunkCount == Into.Chunk.size()) Into.Chunk.push_back(Layout.CloneRecord());
    TObuFields& record = Into.Chunk[Into.ChunkCount];
    record.BeginValues();
    for (int i = 0; i < count; ++i) {
      const TDbField& column = *Columns[static_cast<size_t>(i)];
      if (column.IsNull())
        record.PushNull();
      else if (ValueKindOf(column.DataType()) == TValueKind::LargeObject)
        record.PushBlobData(column.AsBytes());
      else
        record.PushValue(column.AsString());
    }
    bytes += record.DataBytes();
    ++Into.Read;
    Into.More = true;
    if (!IsKnownKey(record)) {
      ++Into.ChunkCount;
    } else {
      ++Into.SkippedByCheck;
      if (Operation == opMirror) {
        if (Into.KnownCount == Into.Known.size()) Into.Known.push_back(Layout.CloneRecord());
        std::swap(Into.Known[Into.KnownCount++], record);
      }
    }
    SourceQuery.Next();
  }
  Into.SourceEnded = SourceQuery.Eof();
}

void TKelvorOperationHandler::ReadAndCheckChunk(
    TChunkRead& Into, int Operation, const TObuFields& Layout,
    const std::vector<TDbField*>& Columns, const std::atomic<bool>& Abandoned, int DbType,
    bool SourceEscapes, bool NulFits, std::string* KeyTexts, std::vector<size_t>* KeyEnds) {
  Into.ReadFailed = false;
  Into.ReadError.clear();
  Into.CheckError = nullptr;
  // Nothing may leave a thread of its own: whatever goes wrong is handed over.
  try {
    ReadChunk(Into, Operation, Layout, Columns, Abandoned);
  } catch (const std::exception& e) {
    Into.ReadFailed = true;
    Into.ReadError = e.what();
  } catch (...) {
    Into.ReadFailed = true;
    Into.ReadError = "unknown error";
  }
  if (Into.ReadFailed) return;
  // A value that cannot be written ends the run before its chunk is
  // applied, and so does a key that could find no row.
  try {
    for (size_t i = 0; i < Into.ChunkCount; ++i) {
      const TObuFields& record = Into.Chunk[i];
      if (!NulFits) record.CheckTextWithoutNul();
      record.CheckDates(Operation != opInsert);
      if (Operation != opInsert) record.CheckKeysHaveValues();
      if (KeyTexts) {
        *KeyTexts += record.BuildKeyCondition(DbType, SourceEscapes);
        KeyEnds->push_back(KeyTexts->size());
      }
    }
    for (size_t i = 0; i < Into.KnownCount; ++i)
      Into.Known[i].CheckKeysHaveValues();
  } catch (...) {
    Into.CheckError = std::current_exception();
  }
}

// ---------------------------------------------------------------------------
// Applying

void TKelvorOperationHandler::FillInsertRow(TDbParam* Params, const TObuFields& Record) {
  for (int i = 0; i < Record.Count(); ++i)
    FillParameter(Params[i], Record.GetItem(i), true);
}

bool TKelvorOperationHandler::KeepGoing(TBatchRun&) {
  if (!MustStop()) return true;
  Stopped();
  return false;
}

void TKelvorOperationHandler::ReportProgress(TBatchRun& Run, bool Last) {
  // Every row read so far is applied (or held back) once its chunk is. The
  // last chunk of a run that reported at all reports too: the record count
  // posted before it would otherwise be the run's last line while it ends.
  if (Run.Read < Run.Posted + kProgressEveryRow &&
      !(Last && Run.Posted > 0 && Run.Read > Run.Posted))
    return;
  Run.Posted = Run.Read;
  PostProgress("applied " + std::to_string(Run.Read) +
               (Run.Total >= Run.Read ? " of " + std::to_string(Run.Total) : std::string()));
}

bool TKelvorOperationHandler::FlushRows(TBatchRun& Run, TDbInsertBatch& Batch) {
  if (Batch.RowCount() == 0) return true;
  if (!MaySend(Batch.RowStatement())) return false;
  Batch.Flush();
  if (&Batch == &Run.Rows && Run.Op == opInsert) Run.ChunkApplied.Inserted += Batch.RowsAffected();
  return KeepGoing(Run);
}

bool TKelvorOperationHandler::ApplyChunkRowByRow(TBatchRun& Run) {
  for (size_t i = 0; i < Run.ChunkCount; ++i) {
    const TObuFields& record = Run.Chunk[i];
    if (!ApplyRecordWithParameters(record, Run.Op, Run.ChunkApplied)) {
      WriteLog("mission<" + CurrentTask->MissionName + "> the record with the key " +
               record.KeyText() + " was refused");
      return false;
    }
    // A stop request is looked at after every hundredth record, as in a
    // batch sent record by record.
    if (i % 100 == 0 && MustStop()) {
      Stopped();
      return false;
    }
  }
  return true;
}

bool TKelvorOperationHandler::RedoChunkRowByRow(TBatchRun& Run, const std::string& Sql,
                                                const TDbError& Error) {
  // The batch's own message names no record. Back to the chunk's start,
  // the records go one by one: the one the database refuses is logged with
  // its statement and the database's message.
  try {
    DestinationConnection.RollbackToSavepoint();
  } catch (const TDbError&) {
    // The database ended the transaction with the failure (a deadlock, a
    // lost connection, or a driver set to roll back on any error).
    StatementFailed("execute sql: ", Sql, Error);
    return false;
  }
  Run.ChunkApplied = TRunCounts();
  if (!ApplyChunkRowByRow(Run)) return false;
  // Every record went in on its own: the batch's form itself was refused.
  WriteLog("execute sql: " + StatementForLog(Sql) + " error,info:" + Error.what() +
           "; the records of that batch were then sent one by one and all went in" + MissionTag());
  return true;
}

bool TKelvorOperationHandler::InsertChunk(TBatchRun& Run) {
  try {
    for (size_t i = 0; i < Run.ChunkCount; ++i) {
      FillInsertRow(Run.Rows.AddRow(), Run.Chunk[i]);
      if (Run.Rows.Full() && !FlushRows(Run, Run.Rows)) return false;
    }
    return FlushRows(Run, Run.Rows);
  } catch (const TDbError& e) {
    return RedoChunkRowByRow(Run, Run.Rows.RowStatement(), e);
  }
}

bool TKelvorOperationHandler::StageChunk(TBatchRun& Run) {
  const TStageTable& stage = *Run.Stage;
  std::string sql = Run.Rows.RowStatement();
  try {
    for (size_t i = 0; i < Run.ChunkCount; ++i) {
      FillInsertRow(Run.Rows.AddRow(), Run.Chunk[i]);
      if (Run.Rows.Full() && !FlushRows(Run, Run.Rows)) return false;
    }
    if (!FlushRows(Run, Run.Rows)) return false;
    sql = stage.DuplicateKeyQuery();
    if (!MaySend(sql)) return false;
    Run.Sets.SetSQL(sql);
    NoteSent(Run.Sets);
    Run.Sets.Open();
    const bool collide = !Run.Sets.Eof();
    Run.Sets.Close();
    // Two records of the chunk that the destination takes for one key:
    // their order matters, as record-by-record statements keep it.
    if (collide) return ApplyChunkRowByRow(Run);
    if (Run.Op == opUpdate) {
      // Records whose key matches no row leave the destination as it is;
      // the UPDATE's count is of rows, not of records.
      sql = stage.UnmatchedCountQuery();
      if (!MaySend(sql)) return false;
      Run.Sets.SetSQL(sql);
      NoteSent(Run.Sets);
      Run.Sets.Open();
      Run.ChunkApplied.SkippedNoMatch += std::stoll(Run.Sets.Field(0).AsString());
      Run.Sets.Close();
    }
    sql = stage.UpdateStatement();
    if (!MaySend(sql)) return false;
    Run.Sets.SetSQL(sql);
    NoteSent(Run.Sets);
    Run.Sets.ExecSQL();
    Run.ChunkApplied.Updated += Run.Sets.RowsAffected();
    if (Run.Op != opUpdate) {
      sql = stage.InsertMissingStatement();
      if (!MaySend(sql)) return false;
      Run.Sets.SetSQL(sql);
      NoteSent(Run.Sets);
      Run.Sets.ExecSQL();
      Run.ChunkApplied.Inserted += Run.Sets.RowsAffected();
    }
    return KeepGoing(Run);
  } catch (const TDbError& e) {
    return RedoChunkRowByRow(Run, sql, e);
  }
}

bool TKelvorOperationHandler::ApplyChunk(TBatchRun& Run) {
  Run.ChunkApplied = TRunCounts();
  const bool ok = ApplyChunkOnce(Run);
  if (ok) Run.Applied += Run.ChunkApplied;
  return ok;
}

bool TKelvorOperationHandler::ApplyChunkOnce(TBatchRun& Run) {
  if (Run.ChunkCount == 0) return true;
  // Types 1, 2 and 5 on SQLite, and keys the stage cannot hold as they
  // compare: the record-by-record statements, each identifying its own
  // failure.
  if (!Run.Stage && Run.Op != opInsert) return ApplyChunkRowByRow(Run) && KeepGoing(Run);
  if (Run.Stage)
    for (const std::string& sql : Run.Stage->ClearStatements())
      if (ExecDestination(sql) != 0) return false;
  if (!MaySend("savepoint")) return false;
  try {
    DestinationConnection.SetSavepoint();
  } catch (const TDbError& e) {
    StatementFailed("execute sql: ", "savepoint", e);
    return false;
  }
  const bool ok = Run.Stage ? StageChunk(Run) : InsertChunk(Run);
  if (!ok) return false;
  try {
    DestinationConnection.ReleaseSavepoint();
  } catch (const TDbError& e) {
    StatementFailed("execute sql: ", "release savepoint", e);
    return false;
  }
  return true;
}

bool TKelvorOperationHandler::AddChunkKeys(TBatchRun& Run) {
  const std::vector<TObuFields>* sets[] = {&Run.Chunk, &Run.Known};
  const size_t counts[] = {Run.ChunkCount, Run.KnownCount};
  try {
    for (int s = 0; s < 2; ++s)
      for (size_t i = 0; i < counts[s]; ++i) {
        const TObuFields& record = (*sets[s])[i];
        TDbParam* p = Run.Keys.AddRow();
        for (int f = 0; f < record.Count(); ++f)
          if (record.Column(f).IsKey) BindKey(*p++, record.GetItem(f));
        if (Run.Keys.Full() && !FlushRows(Run, Run.Keys)) return false;
      }
    return FlushRows(Run, Run.Keys);
  } catch (const TDbError& e) {
    StatementFailed("execute sql: ", Run.Keys.RowStatement(), e);
    return false;
  }
}

// ---------------------------------------------------------------------------
// One run

int64_t TKelvorOperationHandler::CountSourceRows(const std::string& Command) {
  // Only for the progress lines: a source that cannot count (a command that
  // is not a plain query) just gives lines without a total. It is no
  // statement of the run, so its failure is no failure of the run.
  try {
    SourceQuery.Close();
    SourceQuery.SetPrepared(false);
    SourceQuery.ClearParams();
    SourceQuery.SetParamCheck(true);
    SourceQuery.SetSQL("select count(*) from (" + Command + "\n) kelvor_count");
    SourceQuery.Open();
    int64_t n = -1;
    if (!SourceQuery.Eof()) n = std::stoll(SourceQuery.Field(0).AsString());
    SourceQuery.Close();
    return n;
  } catch (const std::exception&) {
    try {
      SourceQuery.Close();
    } catch (...) {
    }
    return -1;
  }
}

bool TKelvorOperationHandler::BeginBatchRun(TBatchRun& Run, const TObuFields& Layout) {
  const std::string& table = CurrentTask->FieldMaps.DstTable;
  if (DestinationConnection.InTransaction()) {
    WriteLog("execute transaction error,info:a transaction is open already" + MissionTag());
    return false;
  }
  if (!MaySend("begin transaction")) return false;
  DestinationConnection.BeginTrans();
  Run.Begun = true;
  const auto note = [this](const std::string& Sql, std::span<const TDbParam> Params) {
    NoteSent(Sql, Params, false);
  };
  Run.Rows.SetSendHook(note);
  Run.Keys.SetSendHook(note);

  std::vector<TKeyColumn> keys;
  const bool describe =
      Run.Op == opMirror || (Run.Op != opInsert && Run.Dialect != TKeyTable::TDialect::Sqlite);
  if (describe && !DescribeKeyColumns(Layout, keys)) return false;

  if (Run.Op == opInsert) {
    Run.Rows.SetStatement(Layout.BuildParamInsertHead(table), Layout.BuildParamInsertRow());
  } else if (Run.Dialect != TKeyTable::TDialect::Sqlite) {
    // The staged keys compare as the record-by-record UPDATE compares them
    // only when the destination stores them unchanged; any other key goes
    // record by record.
    bool stageable = true;
    std::vector<TStageTable::TColumn> columns;
    size_t k = 0;
    for (int i = 0; i < Layout.Count(); ++i) {
      const TObuColumn& c = Layout.Column(i);
      TStageTable::TColumn column{c.FieldName, c.IsKey, false};
      if (c.IsKey) {
        const TKeyClass from = KeyClassOf(c.DataType);
        // A fixed-length key column pads what it stores, and PostgreSQL
        // then compares it without the padding.
        const TKeyClass to = k < keys.size() && keys[k].DataType != ftFixedChar
                                 ? KeyClassOf(keys[k].DataType)
                                 : TKeyClass::Other;
        ++k;
        if (from == TKeyClass::Other || from != to) stageable = false;
        column.NullAsEmpty = from == TKeyClass::Text;
      }
      columns.push_back(std::move(column));
    }
    if (stageable) {
      Run.Stage.emplace(Run.Dialect, table, std::move(columns));
      if (ExecDestination(Run.Stage->DropStatement()) != 0 ||
          ExecDestination(Run.Stage->CreateStatement()) != 0)
        return false;
      Run.Rows.SetStatement(Run.Stage->InsertHead(), Run.Stage->InsertRow());
    }
  }
  if (Run.Op == opMirror) {
    if (Run.Dialect != TKeyTable::TDialect::MySql)
      for (TKeyColumn& key : keys)
        key.DataType = ftUnknown;  // only MariaDB and MySQL need them
    Run.KeyTable.emplace(Run.Dialect, table, std::move(keys));
    if (ExecDestination(Run.KeyTable->DropStatement()) != 0 ||
        ExecDestination(Run.KeyTable->CreateStatement()) != 0)
      return false;
    Run.Keys.SetStatement(Run.KeyTable->InsertHead(), Run.KeyTable->InsertRow());
  }
  return true;
}

bool TKelvorOperationHandler::FinishBatchRun(TBatchRun& Run) {
  if (Run.KeyTable) {
    for (const std::string& sql : Run.KeyTable->AnalyzeStatements())
      if (ExecDestination(sql) != 0) return false;
    // The statements delete distinct rows: a row with no NULL in its key,
    // then one with a NULL in some key column.
    for (const std::string& sql : Run.KeyTable->DeleteStatements()) {
      int64_t rows = 0;
      if (ExecOn(DestinationQuery, sql, &rows) != 0) return false;
      Run.Applied.Deleted += rows;
    }
    if (ExecDestination(Run.KeyTable->DropStatement()) != 0) return false;
  }
  if (Run.Stage && ExecDestination(Run.Stage->DropStatement()) != 0) return false;
  EndTransaction(DestinationConnection);
  FCounts += Run.Applied;
  return true;
}

bool TKelvorOperationHandler::CopyRecordsInBatches(TKelvorInstance& Task) {
  const int op = Task.FieldMaps.OperationType;
  const int dbType = Task.Destination.DbType;
  const std::string validation = Task.FieldMaps.GetValidationSrc();
  const bool validate = !TrimBlanks(validation).empty();
  const bool sourceEscapes = SourceConnection.BackslashEscapes();
  // A driver would cut such a value short at its NUL without a word.
  const bool nulFits = DestinationConnection.TextHoldsNul();
  const std::string command = ExpandNowMacro(Task.FieldMaps.GetCommand());

  TBatchRun run(DestinationConnection, op,
                *TKeyTable::DialectFor(DestinationConnection.DbmsName()));
  run.Total = CountSourceRows(command);
  if (OpenSource(command) != 0) return false;

  TObuRec layout;
  std::vector<TDbField*> columns;
  // The key condition of every record read, for the validations run on the
  // source afterwards: kept back to back, not as a record each.
  std::string keyTexts;
  std::vector<size_t> keyEnds;
  bool ok = true;
  try {
    try {
      BuildRecordTemplate(layout.Template);
      if (!SourceQuery.Eof())
        for (int i = 0; i < layout.Template.Count(); ++i)
          columns.push_back(
              &SourceQuery.FieldByName(TrimText(layout.Template.Column(i).FieldName)));
    } catch (const std::exception& e) {
      WriteLog(std::string("在试图建立内存数据集出现失败,具体错误为: ") + e.what());
      ok = false;
    }
    const TObuFields& records = layout.Template;
    std::string* keyTextsOut = validate ? &keyTexts : nullptr;
    std::vector<size_t>* keyEndsOut = validate ? &keyEnds : nullptr;
    // The chunk read ahead, and the thread reading it while the chunk
    // before it is applied.
    TChunkRead ahead;
    std::thread reader;
    // Set when the run ends early (a failure, a stop): the chunk being read
    // ahead will never be applied, so its reading ends at the next row
    // rather than after thousands more from a slow source.
    std::atomic<bool> abandoned{false};
    struct TJoin {
      std::thread& Reader;
      std::atomic<bool>& Abandoned;
      void operator()() {
        if (!Reader.joinable()) return;
        Abandoned = true;
        Reader.join();
      }
      ~TJoin() { (*this)(); }
    } abandon{reader, abandoned};
    const auto readAhead = [&] {
      ReadAndCheckChunk(ahead, op, records, columns, abandoned, dbType, sourceEscapes, nulFits,
                        keyTextsOut, keyEndsOut);
    };
    if (ok) readAhead();
    int64_t kept = 0;
    bool counted = false;
    while (ok) {
      if (reader.joinable()) reader.join();
      if (ahead.ReadFailed) {
        // Applying part of the source would report success for rows never
        // read and, for a mirror, delete rows the source still has.
        WriteLog("在试图建立内存数据集出现失败,具体错误为: " + ahead.ReadError);
        ok = false;
        break;
      }
      if (ahead.CheckError) std::rethrow_exception(ahead.CheckError);
      if (!ahead.More) break;
      // The chunk read becomes the one to apply; the storage of the one
      // applied goes to the reading side for the next.
      std::swap(run.Chunk, ahead.Chunk);
      std::swap(run.Known, ahead.Known);
      run.ChunkCount = ahead.ChunkCount;
      run.KnownCount = ahead.KnownCount;
      run.Read += ahead.Read;
      FCounts.Read += ahead.Read;
      FCounts.SkippedByCheck += ahead.SkippedByCheck;
      kept += static_cast<int64_t>(run.ChunkCount);
      const bool sourceEnded = ahead.SourceEnded;
      // Every record is read once the last chunk is: the count is known
      // before that chunk is applied.
      if (sourceEnded && !counted) {
        PostProgress("record count:" + std::to_string(kept));
        counted = true;
      }
      if (sourceEnded) {
        ahead.More = false;  // nothing is left to read
      } else {
        try {
          reader = std::thread(readAhead);
        } catch (const std::system_error&) {
          readAhead();  // no thread to be had: one thing after the other
        }
      }
      // No transaction is opened before there is something to apply.
      if (run.ChunkCount == 0 && run.KnownCount == 0) continue;
      if (!run.Begun && !BeginBatchRun(run, layout.Template)) {
        ok = false;
        break;
      }
      if (!ApplyChunk(run) || (run.KeyTable && !AddChunkKeys(run))) {
        ok = false;
        break;
      }
      ReportProgress(run, false);
    }
    // A run that ended early reads its source no further.
    abandon();
    try {
      SourceQuery.Close();
    } catch (...) {
    }
    if (ok && !counted) PostProgress("record count:" + std::to_string(kept));
    if (ok) ReportProgress(run, true);
    if (ok && run.Begun) ok = FinishBatchRun(run);
    if (!ok) {
      if (run.Begun) DestinationConnection.RollbackTrans();
      return false;
    }
    if (op == opMirror && !run.Begun)
      WriteLog("mission<" + Task.MissionName +
               "> the source gave no rows; the mirror delete is skipped and the destination is "
               "left as it is");
    Task.RecordCount = static_cast<int>(kept);
  } catch (...) {
    // Whatever escapes (a value that cannot be written, a failed commit)
    // must leave neither the source's result nor the transaction open.
    try {
      SourceQuery.Close();
    } catch (...) {
    }
    try {
      DestinationConnection.RollbackTrans();
    } catch (...) {
    }
    throw;
  }
  if (validate)
    // Each line made as it is sent: a line per record read would hold the
    // whole run in memory once more.
    RunLiteralBatch(SourceConnection, SourceQuery, keyEnds.size(), [&](size_t I) {
      const size_t begin = I == 0 ? 0 : keyEnds[I - 1];
      const std::string_view key(keyTexts.data() + begin, keyEnds[I] - begin);
      return key.empty() ? validation : validation + " and " + std::string(key);
    });
  return true;
}

}  // namespace kelvor
