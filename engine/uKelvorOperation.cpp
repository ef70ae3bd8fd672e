#include "engine/uKelvorOperation.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>

#include "db/ConnectionString.h"
#include "db/DbError.h"
#include "engine/uKeyTable.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "services/uBroadMessage.h"
#include "services/uLogService.h"

namespace kelvor {

namespace {

constexpr const char* kStoppedLine = "Mission has been explicit stopped!";
// A batch tells the operator how far it got every this many items.
constexpr size_t kProgressEvery = 10000;
// A run that has waited this long for a lock says so.
constexpr std::chrono::seconds kLockWaitNotice{5};
// Statement texts longer than this are cut in log lines (a mirror's delete
// of many keys runs to hundreds of kilobytes).
constexpr size_t kLoggedStatementBytes = 4096;

std::string ErrorText(const std::exception& E) {
  return E.what();
}

bool IsNumber(TFieldType Type) {
  switch (Type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftAutoInc:
    case ftLargeint:
    case ftFMTBcd:
      return true;
    default:
      return false;
  }
}

// A bound value as an operator reads it: numbers as they are, texts quoted
// with their quotes doubled, bytes in hex.
std::string ShownValue(const TDbParam& P) {
  if (P.IsNull()) return "null";
  const std::string& v = P.Value();
  if (P.LoadedFromBytes() && ValueKindOf(P.DataType()) == TValueKind::LargeObject) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string hex = "x'";
    for (unsigned char c : v) {
      hex += kHex[c >> 4];
      hex += kHex[c & 15];
    }
    return hex + "'";
  }
  if (IsNumber(P.DataType()) && !v.empty()) return v;
  std::string quoted = "'";
  for (char c : v)
    quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

TRunCounts& TRunCounts::operator+=(const TRunCounts& Other) {
  Read += Other.Read;
  SkippedByCheck += Other.SkippedByCheck;
  Inserted += Other.Inserted;
  Updated += Other.Updated;
  SkippedNoMatch += Other.SkippedNoMatch;
  Deleted += Other.Deleted;
  return *this;
}

std::string TRunCounts::Text() const {
  return "read " + std::to_string(Read) + ", inserted " + std::to_string(Inserted) + ", updated " +
         std::to_string(Updated) + ", deleted " + std::to_string(Deleted) + ", skipped " +
         std::to_string(SkippedByCheck + SkippedNoMatch) + " (pre-check " +
         std::to_string(SkippedByCheck) + ", no matching key " + std::to_string(SkippedNoMatch) +
         ")";
}

std::string StatementForLog(std::string_view Sql) {
  if (Sql.size() <= kLoggedStatementBytes) return std::string(Sql);
  // Never cut a UTF-8 character in two.
  size_t cut = kLoggedStatementBytes;
  while (cut > 0 && (static_cast<unsigned char>(Sql[cut]) & 0xC0) == 0x80)
    --cut;
  return std::string(Sql.substr(0, cut)) + "... (cut; the statement has " +
         std::to_string(Sql.size()) + " bytes)";
}

namespace {

// The condition of the mirror's delete: the key conditions of every source
// record, joined with " or ". Up to kExactTerms records it is written in its
// plain form, "(K1) or (K2) ...". Beyond that it is written in a form every
// database can evaluate without one comparison per key per row and without
// an expression nested one level per record (SQLite refuses more than 1000
// levels): a single key column becomes one "key in (...)" list (lists of at
// most 1000 values for Oracle and SQL Server, which limit them), several key
// columns a balanced tree of "or".
// Bound, every key value is a ":name" placeholder instead of a literal, to
// be filled record by record, key column by key column, in the order added.
class TMirrorCondition {
 public:
  TMirrorCondition(int DbType, bool BackslashEscapes, bool Bound = false)
      : FDbType(DbType),
        FBackslashEscapes(BackslashEscapes),
        FBound(Bound),
        FInListSize(Bound || DbType == 0 || DbType == 1 ? 1000 : SIZE_MAX) {}

  void Add(const TObuFields& Record) {
    std::string k = FBound ? Record.BuildParamKeyCondition()
                           : Record.BuildKeyCondition(FDbType, FBackslashEscapes);
    int keys = 0, key = -1;
    for (int i = 0; i < Record.Count(); ++i)
      if (Record.Column(i).IsKey) ++keys, key = i;
    if (keys == 1) {
      const std::string& name = Record.Column(key).FieldName;
      if (FKeyName.empty() && FTerms.empty()) FKeyName = name;
      if (name == FKeyName && k.size() > name.size())
        FValues.push_back(k.substr(name.size() + 1));
      else
        FSingleKey = false;
    } else {
      FSingleKey = false;
    }
    FTerms.push_back(std::move(k));
  }

  bool Empty() const { return FTerms.empty(); }

  std::string DeleteStatement(std::string_view Table) const {
    return "delete from " + std::string(Table) + " where not ( " + Condition() + ")";
  }

  std::string Condition() const {
    std::vector<std::string> parts;
    if (FTerms.size() <= kExactTerms) {
      std::string w;
      for (const auto& k : FTerms)
        w += (w.empty() ? "(" : " or (") + k + ")";
      return w;
    }
    if (FSingleKey) {
      for (size_t i = 0; i < FValues.size(); i += std::min(FInListSize, FValues.size() - i)) {
        std::string list = FKeyName + " in (";
        for (size_t j = i; j < FValues.size() && j - i < FInListSize; ++j)
          list += (j == i ? "" : ",") + FValues[j];
        parts.push_back(list + ")");
      }
    } else {
      for (const auto& k : FTerms)
        parts.push_back("(" + k + ")");
    }
    return Balanced(parts, 0, parts.size());
  }

 private:
  static constexpr size_t kExactTerms = 200;

  static std::string Balanced(const std::vector<std::string>& Parts, size_t Lo, size_t Hi) {
    if (Hi - Lo == 1) return Parts[Lo];
    size_t mid = Lo + (Hi - Lo) / 2;
    return "(" + Balanced(Parts, Lo, mid) + " or " + Balanced(Parts, mid, Hi) + ")";
  }

  const int FDbType;
  const bool FBackslashEscapes;
  const bool FBound;
  const size_t FInListSize;
  std::vector<std::string> FTerms;
  bool FSingleKey = true;
  std::string FKeyName;
  std::vector<std::string> FValues;
};

bool HasKeyField(const TFieldMapCollections& Maps) {
  for (int i = 0; i < Maps.Count(); ++i)
    if (Maps.GetItem(i)->IsKey) return true;
  return false;
}

std::string Quoted(const std::string& Value) {
  return QuoteConnectionValue(Value);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and connections

TKelvorOperationHandler::TKelvorOperationHandler(std::string AId)
    : SourceQuery(SourceConnection), DestinationQuery(DestinationConnection), Id(std::move(AId)) {
  SourceConnection.SetLockWaitHook(
      [this](std::chrono::milliseconds Waited) { return LockWait(FSourceWait, Waited); });
  DestinationConnection.SetLockWaitHook(
      [this](std::chrono::milliseconds Waited) { return LockWait(FDestinationWait, Waited); });
}

TKelvorOperationHandler::~TKelvorOperationHandler() = default;

std::string TKelvorOperationHandler::AccessPath(const std::string& DbName) {
  const std::string folder = IncludeTrailingSeparator(ProgramFolder());
  const std::string trimmed = TrimBlanks(DbName);
  if (trimmed.compare(0, 2, "..") == 0) return folder + NormalizeSeparators(trimmed);
  return NormalizeSeparators(DbName);
}

std::string TKelvorOperationHandler::ConnectionStringFor(const TSyncDataSource& S) {
  switch (S.DbType) {
    case dbOracle:
      return "Provider=OraOLEDB.Oracle.1;Password=" + Quoted(S.DbPwd) +
             ";Persist Security Info=True;User ID=" + Quoted(S.DbUser) +
             ";Data Source=" + Quoted(S.DbName);
    case dbSqlServer:
      return "Provider=SQLOLEDB.1;Password=" + Quoted(S.DbPwd) +
             ";Persist Security Info=True;User ID=" + Quoted(S.DbUser) +
             ";Initial Catalog=" + Quoted(S.DbName) + ";Data Source=" + Quoted(S.DbServer);
    case dbAccess:
      return "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Persist Security Info=False;"
             "Data Source=" +
             Quoted(AccessPath(S.DbName));
    case dbOdbc:
      return "Provider=MSDASQL.1;Persist Security Info=False;User ID=" + Quoted(S.DbUser) +
             ";Password=" + Quoted(S.DbPwd) + ";Data Source=" + Quoted(S.DbName);
    case dbDb2:
      return "Provider=IBMDADB2.DB2COPY1;Persist Security Info=False;User ID=" + Quoted(S.DbUser) +
             ";Password=" + Quoted(S.DbPwd) + ";Location=" + Quoted(S.DbServer) +
             ";Data Source=" + Quoted(S.DbName);
    default:
      return std::string();
  }
}

std::string TKelvorOperationHandler::DataModuleConnectionStringFor(const TSyncDataSource& S) {
  if (S.DbType != dbAccess) return ConnectionStringFor(S);
  return "Provider=Microsoft.Jet.OLEDB.4.0;Password=" + Quoted(S.DbPwd) +
         ";Persist Security Info=True;User ID=" + Quoted(S.DbUser) +
         ";Data Source=" + Quoted(AccessPath(S.DbName));
}

bool TKelvorOperationHandler::OpenConnection(TDbConnection& Connection,
                                             const TSyncDataSource& Settings) {
  // A new connection starts a new count of the time waited for locks.
  (&Connection == &SourceConnection ? FSourceWait : FDestinationWait).Noticed = false;
  try {
    const std::string text = ConnectionStringFor(Settings);
    Connection.Close();
    Connection.SetConnectionString(text);
    Connection.Open();
    return true;
  } catch (const std::exception& e) {
    WriteLog("connect to database error ,info: " + ErrorText(e));
    return false;
  }
}

bool TKelvorOperationHandler::ConnectSource(const TSyncDataSource& Settings) {
  return OpenConnection(SourceConnection, Settings);
}

bool TKelvorOperationHandler::ConnectDestination(const TSyncDataSource& Settings) {
  return OpenConnection(DestinationConnection, Settings);
}

void TKelvorOperationHandler::DisconnectSource() {
  SourceConnection.Close();
}
void TKelvorOperationHandler::DisconnectDestination() {
  DestinationConnection.Close();
}

// ---------------------------------------------------------------------------
// Statement operations

void TKelvorOperationHandler::PostProgress(std::string_view Text) {
  if (MessageChannel) MessageChannel->Post(Text);
}

std::string TKelvorOperationHandler::MissionTag() const {
  return CurrentTask ? " (mission<" + CurrentTask->MissionName + ">)" : std::string();
}

void TKelvorOperationHandler::StatementFailed(std::string_view Head, const std::string& Sql,
                                              const std::exception& E) {
  FStatementFailed = true;
  WriteLog(std::string(Head) + StatementForLog(Sql) + " error,info:" + ErrorText(E));
}

bool TKelvorOperationHandler::MaySend(std::string_view Sql) {
  if (!FStatementFailed) return true;
  WriteLog("execute sql: " + StatementForLog(Sql) +
           " not sent: an earlier statement of the run failed" + MissionTag());
  return false;
}

void TKelvorOperationHandler::NoteSent(TDbQuery& Query) {
  const int n = Query.ParamCount();
  NoteSent(Query.SQL(),
           n == 0 ? std::span<const TDbParam>()
                  : std::span<const TDbParam>(&Query.Param(0), static_cast<size_t>(n)),
           &Query == &SourceQuery);
}

void TKelvorOperationHandler::NoteSent(const std::string& Sql, std::span<const TDbParam> Params,
                                       bool OnSource) {
  ++FSentCount;
  if (FSent.size() >= KeepStatements) return;
  TSentStatement sent;
  sent.OnSource = OnSource;
  sent.Sql = Sql;
  for (size_t i = 0; i < Params.size(); ++i)
    sent.Values += (i == 0 ? ":" : ", :") + Params[i].Name() + "=" + ShownValue(Params[i]);
  FSent.push_back(std::move(sent));
}

void TKelvorOperationHandler::EndTransaction(TDbConnection& Connection) {
  if (FRunEnd == TRunEnd::Commit) {
    Connection.CommitTrans();
    return;
  }
  if (Connection.TransactionEndedByDatabase()) {
    // What it did before it ended may have been committed; the dry run must
    // not say that nothing was.
    Connection.RollbackTrans();
    throw TDbError("Unable to roll back the dry run",
                   "the database ended the transaction by itself; what ran before may have "
                   "been committed");
  }
  Connection.RollbackTrans();
}

void TKelvorOperationHandler::Stopped() {
  if (FStopNoted.exchange(true)) return;
  PostProgress(kStoppedLine);
  WriteLog(kStoppedLine + MissionTag());
}

bool TKelvorOperationHandler::LockWait(TLockWait& Side, std::chrono::milliseconds Waited) {
  if (!Side.Noticed && Waited >= kLockWaitNotice) {
    Side.Noticed = true;
    const TDbConnection& c = &Side == &FSourceWait ? SourceConnection : DestinationConnection;
    const std::string line = std::string("waiting for a lock on the ") +
                             (&Side == &FSourceWait ? "source" : "destination") +
                             " database: " + std::to_string(kLockWaitNotice.count()) +
                             " s so far, at most " + std::to_string(c.BusyTimeout() / 1000) +
                             " s in all";
    PostProgress(line);
    WriteLog(line + MissionTag());
  }
  if (!MustStop()) return true;
  Stopped();
  return false;
}

int TKelvorOperationHandler::OpenSource(const std::string& Sql) {
  if (!MaySend(Sql)) return -1;
  try {
    SourceQuery.Close();
    SourceQuery.SetSQL(Sql);
    SourceQuery.Open();
    return 0;
  } catch (const std::exception& e) {
    StatementFailed("execute sql: ", Sql, e);
    return -1;
  }
}

int TKelvorOperationHandler::ExecOn(TDbQuery& Query, const std::string& Sql, int64_t* Rows) {
  if (!MaySend(Sql)) return -1;
  try {
    Query.Close();
    Query.SetPrepared(false);
    Query.ClearParams();
    Query.SetSQL(Sql);
    NoteSent(Query);
    Query.ExecSQL();
    if (Rows) *Rows = Query.RowsAffected();
    return 0;
  } catch (const std::exception& e) {
    StatementFailed("execute sql: ", Sql, e);
    return -1;
  }
}

int TKelvorOperationHandler::ExecSource(const std::string& Sql) {
  return ExecOn(SourceQuery, Sql);
}

int TKelvorOperationHandler::ExecDestination(const std::string& Sql) {
  return ExecOn(DestinationQuery, Sql);
}

int TKelvorOperationHandler::ExecDestinationCounted(const std::string& Sql, int64_t& Rows) {
  if (!MaySend(Sql)) return -1;
  try {
    DestinationQuery.Close();
    DestinationQuery.SetPrepared(false);
    DestinationQuery.SetSQL(Sql);
    NoteSent(DestinationQuery);
    DestinationQuery.ExecSQL();
    Rows = DestinationQuery.RowsAffected();
    return 0;
  } catch (const std::exception& e) {
    StatementFailed("execute sql: ", Sql, e);
    return -1;
  }
}

bool TKelvorOperationHandler::MustStop() {
  if (!CurrentTask) return false;
  try {
    return CurrentTask->IsFinished();
  } catch (...) {
    WriteLog("The temp syncinstance is null!");
    return false;
  }
}

// ---------------------------------------------------------------------------
// Batches

bool TKelvorOperationHandler::ContinueAfterItem(size_t Index, size_t Total) {
  // A stop request is looked at after items 0, 100, 200 and so on.
  if (Index % 100 == 0 && MustStop()) {
    Stopped();
    return false;
  }
  const size_t done = Index + 1;
  if (done % kProgressEvery == 0)
    PostProgress("applied " + std::to_string(done) + " of " + std::to_string(Total));
  return true;
}

bool TKelvorOperationHandler::RunLiteralBatch(TDbConnection& Connection, TDbQuery& Query,
                                              const std::vector<std::string>& Statements,
                                              TBatchRows Counted) {
  return RunLiteralBatch(
      Connection, Query, Statements.size(), [&](size_t I) { return Statements[I]; }, Counted);
}

bool TKelvorOperationHandler::RunLiteralBatch(TDbConnection& Connection, TDbQuery& Query,
                                              size_t Count,
                                              const std::function<std::string(size_t)>& Statement,
                                              TBatchRows Counted) {
  if (Count == 0) return false;
  if (Connection.InTransaction()) {
    WriteLog("execute transaction error,info:a transaction is open already" + MissionTag());
    return false;
  }
  if (!MaySend(Statement(0))) return false;
  try {
    Connection.BeginTrans();
    bool ok = true;
    TRunCounts applied;
    for (size_t i = 0; i < Count; ++i) {
      const std::string line = Statement(i);
      int64_t rows = 0;
      if (!line.empty() &&
          ExecOn(Query, line, Counted == TBatchRows::NotCounted ? nullptr : &rows) != 0) {
        ok = false;
        break;
      }
      if (!line.empty()) {
        switch (Counted) {
          case TBatchRows::NotCounted:
            break;
          case TBatchRows::Inserted:
            applied.Inserted += rows;
            break;
          case TBatchRows::Updated:
            if (rows > 0)
              applied.Updated += rows;
            else
              ++applied.SkippedNoMatch;
            break;
          case TBatchRows::Deleted:
            applied.Deleted += rows;
            break;
        }
      }
      if (!ContinueAfterItem(i, Count)) {
        ok = false;
        break;
      }
    }
    if (!ok) {
      Connection.RollbackTrans();
      return false;
    }
    EndTransaction(Connection);
    FCounts += applied;
    return true;
  } catch (const std::exception& e) {
    // A commit or rollback that fails leaves nothing applied; say why.
    WriteLog("execute transaction error,info:" + ErrorText(e) + MissionTag());
    try {
      Connection.RollbackTrans();
    } catch (...) {
    }
    return false;
  }
}

bool TKelvorOperationHandler::RunDestinationBatch(const std::vector<std::string>& Statements) {
  return RunLiteralBatch(DestinationConnection, DestinationQuery, Statements);
}

bool TKelvorOperationHandler::RunSourceBatch(const std::vector<std::string>& Statements) {
  return RunLiteralBatch(SourceConnection, SourceQuery, Statements);
}

int TKelvorOperationHandler::RunUpsertBatch(const std::vector<TUpsertPair>& Pairs) {
  WriteLog("开始事务信息...");
  if (Pairs.empty()) return 0;
  if (DestinationConnection.InTransaction()) {
    WriteLog("execute transaction error,info:a transaction is open already" + MissionTag());
    return -1;
  }
  if (!MaySend(Pairs.front().First)) return -1;
  try {
    DestinationConnection.BeginTrans();
    bool ok = true;
    TRunCounts applied;
    for (size_t i = 0; i < Pairs.size(); ++i) {
      const TUpsertPair& pair = Pairs[i];
      if (pair.First.empty()) {
        WriteLog("相关的SQL命令为空!");
        ok = false;
        break;
      }
      int64_t rows = 0;
      if (ExecDestinationCounted(pair.First, rows) != 0) {
        ok = false;
        break;
      }
      if (rows > 0) applied.Updated += rows;
      if (!TrimBlanks(pair.Second).empty() && rows < 1) {
        int64_t inserted = 0;
        if (ExecDestinationCounted(pair.Second, inserted) != 0) {
          ok = false;
          break;
        }
        applied.Inserted += inserted;
      }
      if (!ContinueAfterItem(i, Pairs.size())) {
        ok = false;
        break;
      }
    }
    if (!ok) {
      DestinationConnection.RollbackTrans();
      return -1;
    }
    EndTransaction(DestinationConnection);
    FCounts += applied;
    return 0;
  } catch (const std::exception& e) {
    WriteLog(std::string("执行事务信息时失败，具体错误信息为: ") + ErrorText(e) + MissionTag());
    try {
      DestinationConnection.RollbackTrans();
    } catch (...) {
    }
    return -1;
  }
}

void TKelvorOperationHandler::FillParameters(const TObuFields& Record, bool ForInsert) {
  // Every record of a run shares one column layout, so the field of each
  // parameter is looked up once per statement text.
  const int count = DestinationQuery.ParamCount();
  if (FParamMapText != DestinationQuery.SQL() || FParamMapLayout.get() != Record.LayoutId() ||
      static_cast<int>(FParamMap.size()) != count) {
    FParamMap.assign(static_cast<size_t>(count), -1);
    for (int i = 0; i < count; ++i)
      FParamMap[static_cast<size_t>(i)] = Record.IndexOfField(DestinationQuery.Param(i).Name());
    FParamMapText = DestinationQuery.SQL();
    FParamMapLayout = Record.Layout();
  }
  for (int i = 0; i < count; ++i) {
    TDbParam& p = DestinationQuery.Param(i);
    const int index = FParamMap[static_cast<size_t>(i)];
    const TObuFieldRef f = index < 0 ? TObuFieldRef{} : Record.GetItem(index);
    if (!ForInsert && f.IsKey)
      // The WHERE part: the key compares as its key term would.
      BindKey(p, f);
    else
      FillParameter(p, f, ForInsert);
  }
}

int TKelvorOperationHandler::InsertWithParameters(const TObuFields& Record, int64_t* Rows) {
  std::string sql;
  try {
    DestinationQuery.Close();
    DestinationQuery.SetPrepared(false);
    DestinationQuery.SetPrepared(true);
    DestinationQuery.SetParamCheck(true);
    // The text depends on the table and the column names only: built once
    // per layout, not once per record.
    const std::string& table = CurrentTask->FieldMaps.DstTable;
    if (FInsertSqlLayout.get() != Record.LayoutId() || FInsertSqlTable != table) {
      FInsertSql = Record.BuildParamInsertSql(table);
      FInsertSqlTable = table;
      FInsertSqlLayout = Record.Layout();
    }
    sql = FInsertSql;
    if (!MaySend(sql)) return -1;
    DestinationQuery.SetSQL(sql);
    FillParameters(Record, true);
    NoteSent(DestinationQuery);
    DestinationQuery.ExecSQL();
    if (Rows) *Rows = DestinationQuery.RowsAffected();
    return 0;
  } catch (const TDbError& e) {
    StatementFailed("execute sql: ", sql, e);
    return -1;
  }
}

int TKelvorOperationHandler::UpdateWithParameters(const TObuFields& Record) {
  int64_t rows = 0;
  return UpdateWithParametersCounted(Record, rows);
}

int TKelvorOperationHandler::UpdateWithParametersCounted(const TObuFields& Record, int64_t& Rows) {
  std::string sql;
  try {
    DestinationQuery.Close();
    // The keys are parameters too, so the text is the same for every record
    // of the run: compiled once, like the INSERT.
    DestinationQuery.SetPrepared(true);
    DestinationQuery.SetParamCheck(true);
    const std::string& table = CurrentTask->FieldMaps.DstTable;
    if (FUpdateSqlLayout.get() != Record.LayoutId() || FUpdateSqlTable != table) {
      FUpdateSql = Record.BuildParamUpdateSql(table);
      FUpdateSqlTable = table;
      FUpdateSqlLayout = Record.Layout();
    }
    sql = FUpdateSql;
    if (!MaySend(sql)) return -1;
    DestinationQuery.SetSQL(sql);
    FillParameters(Record, false);
    NoteSent(DestinationQuery);
    DestinationQuery.ExecSQL();
    Rows = DestinationQuery.RowsAffected();
    return 0;
  } catch (const TDbError& e) {
    StatementFailed("execute ", sql, e);
    return -1;
  }
}

bool TKelvorOperationHandler::ApplyRecordWithParameters(const TObuFields& Record, int OperationType,
                                                        TRunCounts& Applied) {
  int64_t rows = 0, inserted = 0;
  bool ok = true;
  switch (OperationType) {
    case opInsert:
      ok = InsertWithParameters(Record, &inserted) == 0;
      break;
    case opUpdateThenInsert:
    case opMirror:
      ok = UpdateWithParametersCounted(Record, rows) == 0 &&
           (rows != 0 || InsertWithParameters(Record, &inserted) == 0);
      break;
    case opUpdate:
      ok = UpdateWithParametersCounted(Record, rows) == 0;
      if (ok && rows <= 0) ++Applied.SkippedNoMatch;
      break;
    default:
      break;
  }
  if (!ok) return false;
  if (rows > 0) Applied.Updated += rows;
  Applied.Inserted += inserted;
  return true;
}

bool TKelvorOperationHandler::ApplyRecordsWithParameters(TObuRec& Records, int OperationType) {
  if (Records.Count() == 0) return true;
  Records.First();
  if (DestinationConnection.InTransaction()) {
    WriteLog("execute transaction error,info:a transaction is open already" + MissionTag());
    return false;
  }
  if (!MaySend("begin transaction")) return false;
  DestinationConnection.BeginTrans();
  try {
    bool ok = true;
    TRunCounts applied;
    for (size_t i = 0; !Records.Eof(); ++i, Records.Next()) {
      ok = ApplyRecordWithParameters(*Records.Current(), OperationType, applied);
      if (!ok) break;
      if (!ContinueAfterItem(i, static_cast<size_t>(Records.Count()))) {
        ok = false;
        break;
      }
    }
    // The delete keeps the rows whose keys were seen. After a failed
    // statement or a stop not every key was seen, and the database may have
    // ended the transaction already: the delete would then remove rows the
    // source still has, outside any transaction.
    if (ok && OperationType == opMirror && !DeleteRowsWithoutSourceKey(Records, applied.Deleted))
      ok = false;
    if (ok) {
      EndTransaction(DestinationConnection);
      FCounts += applied;
      return true;
    }
    DestinationConnection.RollbackTrans();
    return false;
  } catch (...) {
    // Whatever escapes (a key date that does not parse, a failed commit)
    // must not leave the transaction open.
    try {
      DestinationConnection.RollbackTrans();
    } catch (...) {
    }
    throw;
  }
}

// ---------------------------------------------------------------------------
// The mirror's delete with bound keys

int TKelvorOperationHandler::ExecDestinationWithKeys(const std::string& Sql,
                                                     const std::vector<const TObuFields*>& Rows,
                                                     size_t Begin, size_t End, bool Keep,
                                                     int64_t* Affected) {
  if (!MaySend(Sql)) return -1;
  try {
    DestinationQuery.Close();
    DestinationQuery.SetPrepared(Keep);
    DestinationQuery.SetParamCheck(true);
    DestinationQuery.SetSQL(Sql);
    // One placeholder per key column of each row, in that order.
    int p = 0;
    for (size_t r = Begin; r < End; ++r) {
      const TObuFields& row = *Rows[r];
      for (int i = 0; i < row.Count(); ++i)
        if (row.Column(i).IsKey) BindKey(DestinationQuery.Param(p++), row.GetItem(i));
    }
    if (p != DestinationQuery.ParamCount())
      throw TDbError("Unable to bind the keys", "the statement does not take one value per key");
    NoteSent(DestinationQuery);
    DestinationQuery.ExecSQL();
    if (Affected) *Affected = DestinationQuery.RowsAffected();
    return 0;
  } catch (const std::exception& e) {
    StatementFailed("execute sql: ", Sql, e);
    return -1;
  }
}

bool TKelvorOperationHandler::DescribeKeyColumns(const TObuFields& Layout,
                                                 std::vector<TKeyColumn>& Keys) {
  Keys.clear();
  std::string columns;
  for (int i = 0; i < Layout.Count(); ++i)
    if (Layout.Column(i).IsKey) {
      Keys.push_back({Layout.Column(i).FieldName, ftUnknown, 0});
      columns += (columns.empty() ? "" : ",") + Layout.Column(i).FieldName;
    }
  const std::string sql =
      "select " + columns + " from " + CurrentTask->FieldMaps.DstTable + " where 1=0";
  if (!MaySend(sql)) return false;
  try {
    DestinationQuery.Close();
    DestinationQuery.SetPrepared(false);
    DestinationQuery.ClearParams();
    DestinationQuery.SetSQL(sql);
    DestinationQuery.Open();
    for (size_t i = 0; i < Keys.size() && static_cast<int>(i) < DestinationQuery.FieldCount();
         ++i) {
      Keys[i].DataType = DestinationQuery.Field(static_cast<int>(i)).DataType();
      Keys[i].Size = DestinationQuery.Field(static_cast<int>(i)).Size();
    }
    DestinationQuery.Close();
    return true;
  } catch (const std::exception& e) {
    StatementFailed("execute sql: ", sql, e);
    return false;
  }
}

bool TKelvorOperationHandler::DeleteRowsWithoutSourceKey(TObuRec& Records, int64_t& Deleted) {
  // Rows the check condition held back exist in the source all the same:
  // their keys count too.
  std::vector<const TObuFields*> rows;
  rows.reserve(static_cast<size_t>(Records.Count() + FKnownRecords.Count()));
  for (int i = 0; i < Records.Count(); ++i)
    rows.push_back(&Records.Record(i));
  for (int i = 0; i < FKnownRecords.Count(); ++i)
    rows.push_back(&FKnownRecords.Record(i));
  if (rows.empty()) return true;
  const std::string& table = CurrentTask->FieldMaps.DstTable;

  const std::optional<TKeyTable::TDialect> dialect =
      TKeyTable::DialectFor(DestinationConnection.DbmsName());
  if (!dialect) {
    // A database this program makes no key table on: the written condition,
    // each key a parameter, in one statement.
    TMirrorCondition w(CurrentTask->Destination.DbType, false, true);
    for (const TObuFields* row : rows)
      w.Add(*row);
    return ExecDestinationWithKeys(w.DeleteStatement(table), rows, 0, rows.size(), false,
                                   &Deleted) == 0;
  }

  std::vector<TKeyColumn> keys;
  if (*dialect == TKeyTable::TDialect::MySql) {
    if (!DescribeKeyColumns(*rows.front(), keys)) return false;
  } else {
    for (int i = 0; i < rows.front()->Count(); ++i)
      if (rows.front()->Column(i).IsKey) keys.push_back({rows.front()->Column(i).FieldName});
  }
  const TKeyTable keyTable(*dialect, table, std::move(keys));
  if (ExecDestination(keyTable.DropStatement()) != 0 ||
      ExecDestination(keyTable.CreateStatement()) != 0)
    return false;
  const size_t perInsert = keyTable.RowsPerInsert();
  const std::string full = keyTable.InsertStatement(perInsert);
  for (size_t begin = 0; begin < rows.size(); begin += perInsert) {
    const size_t end = std::min(rows.size(), begin + perInsert);
    const std::string sql = end - begin == perInsert ? full : keyTable.InsertStatement(end - begin);
    if (ExecDestinationWithKeys(sql, rows, begin, end, true) != 0) return false;
  }
  for (const std::string& sql : keyTable.AnalyzeStatements())
    if (ExecDestination(sql) != 0) return false;
  // The statements delete distinct rows: a row with no NULL in its key, then
  // one with a NULL in some key column.
  for (const std::string& sql : keyTable.DeleteStatements()) {
    int64_t rows = 0;
    if (ExecOn(DestinationQuery, sql, &rows) != 0) return false;
    Deleted += rows;
  }
  return ExecDestination(keyTable.DropStatement()) == 0;
}

bool TKelvorOperationHandler::RunKeyDeleteBatch(TObuRec& Records) {
  if (DestinationConnection.InTransaction()) {
    WriteLog("execute transaction error,info:a transaction is open already" + MissionTag());
    return false;
  }
  if (!MaySend("begin transaction")) return false;
  try {
    DestinationConnection.BeginTrans();
    TRunCounts applied;
    if (!DeleteRowsWithoutSourceKey(Records, applied.Deleted)) {
      DestinationConnection.RollbackTrans();
      return false;
    }
    EndTransaction(DestinationConnection);
    FCounts += applied;
    return true;
  } catch (const std::exception& e) {
    WriteLog("execute transaction error,info:" + ErrorText(e) + MissionTag());
    try {
      DestinationConnection.RollbackTrans();
    } catch (...) {
    }
    return false;
  }
}

// ---------------------------------------------------------------------------
// Reading the source

std::string TKelvorOperationHandler::ExpandNowMacro(std::string_view Text) {
  const std::string literal = "'" + FormatDate(Clock::Now()) + " 00:00:00'";
  std::string r;
  r.reserve(Text.size());
  size_t i = 0;
  while (i < Text.size()) {
    if (i + 5 <= Text.size() && SameText(Text.substr(i, 5), "$now$")) {
      r += literal;
      i += 5;
    } else {
      r.push_back(Text[i++]);
    }
  }
  return r;
}

void TKelvorOperationHandler::LoadCheckKeys() {
  CheckKeys.clear();
  FCheckKeyIndex.clear();
  if (!CurrentTask || TrimBlanks(CurrentTask->CheckCondition).empty()) return;
  try {
    DestinationQuery.Close();
    DestinationQuery.SetSQL(CurrentTask->CheckCondition);
    DestinationQuery.Open();
    for (; !DestinationQuery.Eof(); DestinationQuery.Next()) {
      std::string line = DestinationQuery.Field(0).AsString();
      for (int c = 1; c < DestinationQuery.FieldCount(); ++c)
        line += ":" + DestinationQuery.Field(c).AsString();
      FCheckKeyIndex.insert(LowerCase(line));
      CheckKeys.push_back(std::move(line));
    }
  } catch (const std::exception& e) {
    // Rows it did not read would be copied again; the run ends here.
    StatementFailed("execute sql: ", CurrentTask->CheckCondition, e);
  }
  try {
    DestinationQuery.Close();
  } catch (...) {
  }
}

bool TKelvorOperationHandler::IsKnownKey(const TObuFields& Record) const {
  if (FCheckKeyIndex.empty()) return false;
  const std::string key = Record.KeyText();
  if (key.empty()) return false;
  return FCheckKeyIndex.count(LowerCase(key)) > 0;
}

void TKelvorOperationHandler::BuildRecordTemplate(TObuFields& Template) {
  const TFieldMapCollections& maps = CurrentTask->FieldMaps;
  for (int i = 0; i < maps.Count(); ++i) {
    const TFieldMap& m = *maps.GetItem(i);
    TObuField f;
    TDbField* column = SourceQuery.FindField(m.Src);
    f.DataType = column ? column->DataType() : ftString;
    f.FieldName = m.Dst;
    f.Size = static_cast<uint32_t>(m.FieldLen);
    f.IsKey = m.IsKey;
    Template.Add(f);
  }
}

std::unique_ptr<TObuRec> TKelvorOperationHandler::LoadSourceRecords(const std::string& Command,
                                                                    bool* ReadFailed) {
  if (ReadFailed) *ReadFailed = false;
  if (OpenSource(Command) != 0) return nullptr;
  auto records = std::make_unique<TObuRec>();
  FKnownRecords.Clear();
  bool failed = false;
  try {
    BuildRecordTemplate(records->Template);
    // The value of each field comes from the source column named like the
    // field's destination column; those columns are found at the first row.
    std::vector<TDbField*> columns;
    TObuFields scratch = records->Template.CloneRecord();
    const int count = scratch.Count();
    for (; !SourceQuery.Eof(); SourceQuery.Next()) {
      if (columns.empty() && count > 0) {
        for (int i = 0; i < count; ++i)
          columns.push_back(&SourceQuery.FieldByName(TrimText(scratch.Column(i).FieldName)));
      }
      for (int i = 0; i < count; ++i) {
        const TDbField& column = *columns[static_cast<size_t>(i)];
        if (column.IsNull())
          scratch.SetNull(i);
        else if (ValueKindOf(column.DataType()) == TValueKind::LargeObject)
          scratch.SetBlobData(i, column.AsBytes());
        else
          scratch.SetValue(i, column.AsString());
      }
      ++FCounts.Read;
      if (!IsKnownKey(scratch)) {
        records->Add(scratch.CloneRecord());
        continue;
      }
      ++FCounts.SkippedByCheck;
      if (CurrentTask->FieldMaps.OperationType == opMirror)
        FKnownRecords.Add(scratch.CloneRecord());
    }
  } catch (const std::exception& e) {
    WriteLog(std::string("在试图建立内存数据集出现失败,具体错误为: ") + ErrorText(e));
    failed = true;
  }
  try {
    SourceQuery.Close();
  } catch (...) {
  }
  if (failed) {
    // Applying part of the source would report success for rows never read
    // and, for a mirror, delete rows the source still has.
    if (ReadFailed) *ReadFailed = true;
    return nullptr;
  }
  return records;
}

// ---------------------------------------------------------------------------
// Scripts

std::string TKelvorOperationHandler::SplitScript(const std::vector<std::string>& Lines) {
  std::vector<std::string> output;
  std::string current;
  for (const auto& line : Lines) {
    // Blanks and tabs around a separator or a comment mark are ignored.
    const std::string s = TrimText(line);
    if (s.compare(0, 2, "--") == 0) continue;
    if (LowerCase(s.substr(0, 2)) == "go") {
      output.push_back(current);
      current.clear();
    } else {
      current += line;
    }
  }
  std::string r;
  for (const auto& s : output)
    r += s + "\r\n";
  return r;
}

bool TKelvorOperationHandler::RunCommandScript(TKelvorInstance& Task) {
  const std::string text = ExpandNowMacro(Task.FieldMaps.GetCommand());
  const std::vector<std::string> statements = SplitLines(SplitScript(SplitLines(text)));
  if (statements.empty())
    WriteLog("mission<" + Task.MissionName +
             "> the script holds no statement followed by a go line; nothing was run");
  if (Task.FieldMaps.OperationType == opScriptOnDestination) return RunDestinationBatch(statements);
  return RunSourceBatch(statements);
}

// ---------------------------------------------------------------------------
// One run

bool TKelvorOperationHandler::CopyRecords(TKelvorInstance& Task, TObuRec& Records) {
  const int op = Task.FieldMaps.OperationType;
  const int dbType = Task.Destination.DbType;
  const std::string& table = Task.FieldMaps.DstTable;
  const std::string validation = Task.FieldMaps.GetValidationSrc();
  const bool validate = !TrimBlanks(validation).empty();
  // Oracle and SQL Server get literal statements; the other types get the
  // records through parameterised statements, keys included.
  const bool literal = dbType == dbOracle || dbType == dbSqlServer;
  const bool paired = op == opUpdateThenInsert || op == opMirror;
  // Literals are written for the database that reads them: the statements
  // for the destination, the validations (which run on the source) for the
  // source.
  const bool escapes = DestinationConnection.BackslashEscapes();
  const bool sourceEscapes = SourceConnection.BackslashEscapes();

  // A driver would cut such a value short at its NUL without a word.
  const bool nulFits = DestinationConnection.TextHoldsNul();

  std::vector<std::string> statements;
  std::vector<TUpsertPair> pairs;
  std::vector<std::string> validations;
  TMirrorCondition w(dbType, escapes);
  for (Records.First(); !Records.Eof(); Records.Next()) {
    const TObuFields& record = *Records.Current();
    if (!nulFits) record.CheckTextWithoutNul();
    if (literal && paired) {
      pairs.push_back({record.BuildUpdateSql(table, dbType, escapes) + " ",
                       " " + record.BuildInsertSql(table, dbType, escapes)});
    } else if (literal) {
      statements.push_back(op == opInsert ? record.BuildInsertSql(table, dbType, escapes)
                                          : record.BuildUpdateSql(table, dbType, escapes));
    } else {
      // A value that cannot be written ends the run here too, and so does a
      // key that could find no row.
      record.CheckDates(op != opInsert);
      if (op != opInsert) record.CheckKeysHaveValues();
    }
    if (op == opMirror && literal) w.Add(record);
    if (validate) {
      const std::string key = record.BuildKeyCondition(dbType, sourceEscapes);
      validations.push_back(key.empty() ? validation : validation + " and " + key);
    }
  }
  // Rows the check condition held back exist in the source all the same:
  // the mirror must keep them.
  for (int k = 0; op == opMirror && k < FKnownRecords.Count(); ++k) {
    if (literal)
      w.Add(FKnownRecords.Record(k));
    else
      FKnownRecords.Record(k).CheckKeysHaveValues();
  }

  bool result = false;
  if (Records.Count() == 0)
    result = true;
  else if (literal && paired)
    result = RunUpsertBatch(pairs) == 0;
  else if (literal)
    result = RunLiteralBatch(DestinationConnection, DestinationQuery, statements,
                             op == opInsert ? TBatchRows::Inserted : TBatchRows::Updated);
  else if (dbType == dbAccess || dbType == dbOdbc || dbType == dbDb2)
    result = ApplyRecordsWithParameters(Records, op);
  else
    WriteLog("mission<" + Task.MissionName + "> database type " + std::to_string(dbType) +
             " is not one this program knows; nothing was applied");
  if (!result) return false;

  Task.RecordCount = Records.Count();
  if (validate) RunSourceBatch(validations);
  if (op == opMirror) {
    if (Records.Count() == 0 && FKnownRecords.Count() == 0)
      WriteLog("mission<" + Task.MissionName +
               "> the source gave no rows; the mirror delete is skipped and the destination is "
               "left as it is");
    else if (literal)
      RunLiteralBatch(DestinationConnection, DestinationQuery, {w.DeleteStatement(table)},
                      TBatchRows::Deleted);
    else if (Records.Count() == 0)
      // Nothing to apply, so the apply deleted nothing: every source row was
      // held back by the check condition. (With rows, the apply deleted in its
      // own transaction.)
      RunKeyDeleteBatch(Records);
  }
  return true;
}

bool TKelvorOperationHandler::Execute(TKelvorInstance& Task, TRunEnd End) {
  CurrentTask = &Task;
  FStatementFailed = false;
  FStopNoted = false;
  FRunEnd = End;
  FCounts = TRunCounts();
  FSentCount = 0;
  FSent.clear();
  const int op = Task.FieldMaps.OperationType;
  const bool copies =
      op == opInsert || op == opUpdateThenInsert || op == opUpdate || op == opMirror;
  if ((op == opUpdateThenInsert || op == opUpdate || op == opMirror) &&
      !HasKeyField(Task.FieldMaps)) {
    // Without a key each UPDATE would change every destination row.
    WriteLog("mission<" + Task.MissionName + "> operation type " + std::to_string(op) +
             " needs a key field in its field map; nothing was done");
    Task.RecordFailure();
    return false;
  }
  if (!Task.CheckCondition.empty()) {
    LoadCheckKeys();
    if (FStatementFailed) {
      Task.RecordFailure();
      return false;
    }
  } else {
    // Keys left by an earlier run whose task had a check condition must not
    // hold back rows of a task that has none (any more).
    CheckKeys.clear();
    FCheckKeyIndex.clear();
  }

  bool result = false;
  std::unique_ptr<TObuRec> records;
  const bool batched = copies && AppliesInBatches(Task);
  if (copies) {
    PostProgress("begin to open record...");
    if (!batched) records = LoadSourceRecords(ExpandNowMacro(Task.FieldMaps.GetCommand()));
  } else if (op == opScriptOnDestination || op == opScriptOnSource) {
    result = RunCommandScript(Task);
  } else {
    WriteLog("mission<" + Task.MissionName + "> operation type " + std::to_string(op) +
             " is not one this program knows; nothing was done");
  }

  try {
    if (records) PostProgress("record count:" + std::to_string(records->Count()));
    if (batched)
      result = CopyRecordsInBatches(Task);
    else if (copies && records)
      result = CopyRecords(Task, *records);
    if (result)
      Task.SetExecuted(true);
    else
      Task.RecordFailure();
  } catch (const std::exception& e) {
    // The log is shared by every task: the line says whose run it was.
    WriteLog("execute transaction error,info:" + ErrorText(e) + MissionTag());
    Task.RecordFailure();
    result = false;
  }
  return result;
}

}  // namespace kelvor
