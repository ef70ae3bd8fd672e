// SQLite through its C API: the "access" type for any file that is not a
// .mdb/.accdb. The file must exist; it is never created here.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>

#include "db/DbBackend.h"
#include "db/DbError.h"
#include "db/DbValueText.h"

namespace kelvor {

namespace {

// The one place where SQLite's diagnostics become a TDbError.
TDbError SqliteError(sqlite3* Db, int Rc, std::string DriverText) {
  std::string text = Db ? sqlite3_errmsg(Db) : sqlite3_errstr(Rc);
  int code = Db ? sqlite3_extended_errcode(Db) : Rc;
  return TDbError(std::move(DriverText), std::move(text), {}, code);
}

[[noreturn]] void ThrowSqlite(sqlite3* Db, int Rc, std::string DriverText) {
  throw SqliteError(Db, Rc, std::move(DriverText));
}

bool Contains(const std::string& Upper, const char* Part) {
  return Upper.find(Part) != std::string::npos;
}

// Declared column type -> field type, first match wins.
TFieldType TypeFromDeclared(const char* Declared) {
  if (!Declared) return ftString;
  std::string u(Declared);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (Contains(u, "BOOL")) return ftBoolean;
  if (Contains(u, "BIGINT")) return ftLargeint;
  if (Contains(u, "INT")) return ftInteger;
  if (Contains(u, "DATETIME") || Contains(u, "TIMESTAMP")) return ftDateTime;
  if (Contains(u, "DATE")) return ftDate;
  if (Contains(u, "TIME")) return ftTime;
  if (Contains(u, "CHAR") || Contains(u, "CLOB") || Contains(u, "TEXT")) return ftString;
  if (Contains(u, "BLOB")) return ftBlob;
  if (Contains(u, "REAL") || Contains(u, "FLOA") || Contains(u, "DOUB")) return ftFloat;
  if (Contains(u, "NUMERIC") || Contains(u, "DECIMAL")) return ftBCD;
  return ftString;
}

// The n and, when given, the s of a declared "(n)" or "(n,s)".
void SizeFromDeclared(const char* Declared, uint32_t& Size, int& Scale) {
  Size = 0;
  Scale = -1;
  if (!Declared) return;
  const char* p = std::strchr(Declared, '(');
  if (!p) return;
  ++p;
  while (*p == ' ')
    ++p;
  uint64_t n = 0;
  bool any = false;
  while (*p >= '0' && *p <= '9') {
    n = n * 10 + static_cast<uint64_t>(*p++ - '0');
    if (n > 0xFFFFFFFFu) n = 0xFFFFFFFFu;
    any = true;
  }
  if (!any) return;
  Size = static_cast<uint32_t>(n);
  while (*p == ' ')
    ++p;
  if (*p != ',') return;
  ++p;
  while (*p == ' ')
    ++p;
  int s = 0;
  any = false;
  while (*p >= '0' && *p <= '9' && s < 1000) {
    s = s * 10 + (*p++ - '0');
    any = true;
  }
  if (any) Scale = s;
}

bool IsTemporal(TFieldType T) {
  return T == ftDate || T == ftTime || T == ftDateTime;
}

void AppendTemporal(std::string& Out, TFieldType T, const TDateTime& When) {
  if (T == ftDate)
    dbtext::AppendDate(Out, When.Year, When.Month, When.Day);
  else if (T == ftTime)
    dbtext::AppendTime(Out, When.Hour, When.Minute, When.Second);
  else
    dbtext::AppendDateTime(Out, When);
}

// SQLite's own conventions for dates held as numbers: an integer counts
// seconds since 1970-01-01, a real is a Julian day number.
TDateTime FromUnixSeconds(int64_t Seconds) {
  int64_t days = Seconds >= 0 ? Seconds / 86400 : -((-Seconds + 86399) / 86400);
  int64_t rest = Seconds - days * 86400;
  TDateTime t;
  CivilFromDays(days, t.Year, t.Month, t.Day);
  t.Hour = static_cast<int>(rest / 3600);
  t.Minute = static_cast<int>(rest / 60 % 60);
  t.Second = static_cast<int>(rest % 60);
  return t;
}

// Pads a decimal text with zeros to the declared scale, as a typed server
// would show it; never removes or rounds digits.
void PadToScale(std::string& Text, int Scale) {
  if (Scale <= 0) return;
  if (Text.find_first_of("eEnN") != std::string::npos) return;  // exponent, NaN, Infinity
  size_t dot = Text.find('.');
  size_t have = dot == std::string::npos ? 0 : Text.size() - dot - 1;
  if (dot == std::string::npos) Text += '.';
  if (have < static_cast<size_t>(Scale)) Text.append(static_cast<size_t>(Scale) - have, '0');
}

class TSqliteSession final : public TDbSession {
 public:
  TSqliteSession(sqlite3* Db, const TDbOpenOptions& Options)
      : FDb(Db), FBudget(std::max(Options.BusyTimeoutMs, 0)), FLockWait(Options.LockWait) {
    // The wait for a lock is counted over the whole session rather than per
    // statement: a long batch meets a lock held by a reader at every cache
    // spill, and a wait per statement adds up without bound.
    sqlite3_busy_handler(FDb, &TSqliteSession::BusyHandler, this);
  }
  ~TSqliteSession() override {
    if (!sqlite3_get_autocommit(FDb)) sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(FDb);
  }
  std::unique_ptr<TDbStatement> Prepare(const std::string& Sql, bool Persistent) override;
  const std::string& DbmsName() const override {
    static const std::string kName = "SQLite";
    return kName;
  }
  // IMMEDIATE takes the write lock at once (waiting for it through the busy
  // handler), so two writers never deadlock on a lock upgrade mid-batch.
  void Begin() override { Exec("BEGIN IMMEDIATE", "Unable to begin a transaction"); }
  void Commit() override { Exec("COMMIT", "Unable to commit the transaction"); }
  void Rollback() override {
    if (sqlite3_get_autocommit(FDb)) return;  // SQLite already rolled back
    Exec("ROLLBACK", "Unable to roll back the transaction");
  }
  bool TransactionOpen() const override { return !sqlite3_get_autocommit(FDb); }
  bool TextHoldsNul() const override { return true; }
  bool BackslashEscapes() const override { return false; }

 private:
  void Exec(const char* Sql, const char* What) {
    int rc = sqlite3_exec(FDb, Sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) ThrowSqlite(FDb, rc, What);
  }

  // SQLite calls this, inside a statement, each time a lock it needs is
  // held by another connection; nonzero means "try again".
  static int BusyHandler(void* Self, int Count) noexcept {
    try {
      return static_cast<TSqliteSession*>(Self)->WaitForLock(Count) ? 1 : 0;
    } catch (...) {
      return 0;  // nothing may leave through SQLite's C frames
    }
  }

  bool WaitForLock(int Count) {
    using namespace std::chrono;
    if (FWaited >= FBudget) return false;
    // Short sleeps first, as SQLite's own handler does, then 100 ms ones, so
    // that the hook is asked at least ten times a second.
    static constexpr int kSteps[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50};
    constexpr int kSteady = 100;
    const int step = Count < static_cast<int>(std::size(kSteps)) ? kSteps[Count] : kSteady;
    const auto left = duration_cast<milliseconds>(FBudget - FWaited);
    const auto sleep = std::max(milliseconds(1), std::min(milliseconds(step), left));
    const auto start = steady_clock::now();
    std::this_thread::sleep_for(sleep);
    FWaited += duration_cast<microseconds>(steady_clock::now() - start);
    if (FLockWait && !FLockWait(duration_cast<milliseconds>(FWaited))) return false;
    return true;  // one more try also when the budget is now spent
  }

  sqlite3* FDb;
  const std::chrono::milliseconds FBudget;
  std::chrono::microseconds FWaited{0};  // waited for locks since the session opened
  const std::function<bool(std::chrono::milliseconds)> FLockWait;
};

}  // namespace

class TSqliteStatement final : public TDbStatement {
 public:
  // Compiles the first statement of Sql at once (so that a wrong text fails
  // here); the statements after it are compiled when the earlier ones have
  // run, because they may use what those create.
  TSqliteStatement(sqlite3* Db, std::string Sql, bool Persistent)
      : FDb(Db), FSql(std::move(Sql)), FFlags(Persistent ? SQLITE_PREPARE_PERSISTENT : 0) {
    StatementAt(0);
  }
  ~TSqliteStatement() override {
    for (sqlite3_stmt* st : FChain)
      sqlite3_finalize(st);
  }

  // Runs the statements of the text in order. Open stops at the first one
  // that returns rows and leaves its result open; ExecSQL runs them all.
  bool Execute(std::span<const TDbParam> Params, bool KeepResult) override {
    CloseResult();
    FRows = 0;
    FResult = nullptr;
    if (FDateTexts.size() < Params.size()) FDateTexts.resize(Params.size());
    size_t used = 0;
    for (size_t k = 0;; ++k) {
      sqlite3_stmt* st = StatementAt(k);
      if (!st) break;
      const size_t count = static_cast<size_t>(sqlite3_bind_parameter_count(st));
      if (used + count > Params.size()) ThrowCountMismatch(Params.size());
      Bind(st, Params, used, KeepResult ? SQLITE_TRANSIENT : SQLITE_STATIC);
      used += count;
      if (KeepResult && sqlite3_column_count(st) > 0) {
        FResult = st;
        FStepRc = Step(st);
        FStepPending = true;
        FOpen = true;
        return true;
      }
      sqlite3_int64 before = sqlite3_total_changes64(FDb);
      while (Step(st) == SQLITE_ROW) {
      }
      // sqlite3_changes keeps the count of the last INSERT/UPDATE/DELETE, so
      // it only counts when this statement changed anything at all.
      if (!sqlite3_stmt_readonly(st) && sqlite3_total_changes64(FDb) != before)
        FRows += sqlite3_changes64(FDb);
      sqlite3_reset(st);
    }
    if (used != Params.size()) ThrowCountMismatch(Params.size());
    return false;
  }

  // The statement is compiled and runs in process: row by row costs no
  // round trips.
  void ExecuteRows(std::span<const TDbParam> Params, size_t Rows) override {
    const size_t perRow = Rows == 0 ? 0 : Params.size() / Rows;
    if (perRow * Rows != Params.size())
      throw TDbError("Unable to execute statement", std::to_string(Params.size()) +
                                                        " parameter values do not make " +
                                                        std::to_string(Rows) + " rows");
    int64_t total = 0;
    for (size_t r = 0; r < Rows; ++r) {
      Execute(Params.subspan(r * perRow, perRow), false);
      total += FRows;
    }
    FRows = total;
  }

  int64_t RowsAffected() const override { return FRows; }

  void Describe(std::vector<TDbField>& Fields) override {
    sqlite3_stmt* st = FResult;
    int n = sqlite3_column_count(st);
    Fields.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      TDbField& f = Fields[static_cast<size_t>(i)];
      const char* name = sqlite3_column_name(st, i);
      f.FName = name ? name : "";
      const char* declared = sqlite3_column_decltype(st, i);
      f.FDataType = TypeFromDeclared(declared);
      SizeFromDeclared(declared, f.FSize, f.FFetchAs);
      f.FIsNull = true;
      f.FValue.clear();
    }
  }

  bool Fetch(std::vector<TDbField>& Fields) override {
    if (!FOpen) return false;
    sqlite3_stmt* st = FResult;
    int rc = FStepPending ? FStepRc : Step(st);
    FStepPending = false;
    if (rc != SQLITE_ROW) {
      for (TDbField& f : Fields) {
        f.FIsNull = true;
        f.FValue.clear();
      }
      return false;
    }
    const int n = static_cast<int>(Fields.size());
    for (int i = 0; i < n; ++i)
      ReadColumn(st, i, Fields[static_cast<size_t>(i)]);
    return true;
  }

  void CloseResult() noexcept override {
    if (!FOpen) return;
    FOpen = false;
    FStepPending = false;
    sqlite3_reset(FResult);
  }

 private:
  int Step(sqlite3_stmt* St) {
    int rc = sqlite3_step(St);
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) return rc;
    TDbError error = SqliteError(FDb, rc, "Unable to execute statement");
    sqlite3_reset(St);
    FOpen = false;
    FStepPending = false;
    throw error;
  }

  [[noreturn]] void ThrowCountMismatch(size_t Given) {
    size_t total = 0;
    for (size_t k = 0; StatementAt(k); ++k)
      total += static_cast<size_t>(sqlite3_bind_parameter_count(FChain[k]));
    throw TDbError("Unable to execute statement", "the statement has " + std::to_string(total) +
                                                      " parameters, " + std::to_string(Given) +
                                                      " were given");
  }

  // The k-th statement of the text, compiled now if need be; nullptr past the last.
  sqlite3_stmt* StatementAt(size_t K) {
    while (FChain.size() <= K && FTail < FSql.size()) {
      sqlite3_stmt* st = nullptr;
      const char* start = FSql.data() + FTail;
      const char* tail = nullptr;
      int rc =
          sqlite3_prepare_v3(FDb, start, static_cast<int>(FSql.size() - FTail), FFlags, &st, &tail);
      if (rc != SQLITE_OK) ThrowSqlite(FDb, rc, "Unable to prepare statement");
      FTail = tail && tail > start ? static_cast<size_t>(tail - FSql.data()) : FSql.size();
      if (st) FChain.push_back(st);  // null for blanks or a comment
    }
    return K < FChain.size() ? FChain[K] : nullptr;
  }

  void Bind(sqlite3_stmt* st, std::span<const TDbParam> Params, size_t First,
            sqlite3_destructor_type Keep) {
    const int count = sqlite3_bind_parameter_count(st);
    size_t p = First;
    for (int i = 1; i <= count; ++i, ++p) {
      TBindValue v = ConvertParam(Params[p]);
      int rc = SQLITE_OK;
      switch (v.Kind) {
        case TBindKind::Null:
          rc = sqlite3_bind_null(st, i);
          break;
        case TBindKind::Integer:
        case TBindKind::Boolean:
          rc = sqlite3_bind_int64(st, i, v.Integer);
          break;
        case TBindKind::Float:
          rc = sqlite3_bind_double(st, i, v.Float);
          break;
        case TBindKind::Date:
        case TBindKind::Time:
        case TBindKind::DateTime: {
          if (!v.Data.empty()) {  // written as it is to be stored
            rc = sqlite3_bind_text64(st, i, v.Data.data(), v.Data.size(), Keep, SQLITE_UTF8);
            break;
          }
          std::string& t = FDateTexts[p];
          t.clear();
          AppendTemporal(t,
                         v.Kind == TBindKind::Date   ? ftDate
                         : v.Kind == TBindKind::Time ? ftTime
                                                     : ftDateTime,
                         v.When);
          rc = sqlite3_bind_text(st, i, t.data(), static_cast<int>(t.size()), SQLITE_STATIC);
          break;
        }
        case TBindKind::Bytes:
          rc = v.Data.empty() ? sqlite3_bind_zeroblob(st, i, 0)
                              : sqlite3_bind_blob64(st, i, v.Data.data(), v.Data.size(), Keep);
          break;
        case TBindKind::Decimal:
        case TBindKind::Text:
          rc = sqlite3_bind_text64(st, i, v.Data.data(), v.Data.size(), Keep, SQLITE_UTF8);
          break;
      }
      if (rc != SQLITE_OK)
        ThrowSqlite(FDb, rc, "Unable to bind parameter \"" + Params[p].Name() + "\"");
    }
  }

  static void ReadColumn(sqlite3_stmt* St, int I, TDbField& F) {
    std::string& out = F.FValue;
    out.clear();
    const TFieldType type = F.FDataType;
    switch (sqlite3_column_type(St, I)) {
      case SQLITE_NULL:
        F.FIsNull = true;
        return;
      case SQLITE_INTEGER: {
        int64_t v = sqlite3_column_int64(St, I);
        if (type == ftBoolean)
          out = v != 0 ? "True" : "False";
        else if (IsTemporal(type))
          AppendTemporal(out, type, FromUnixSeconds(v));
        else {
          dbtext::AppendInteger(out, v);
          if (type == ftBCD) PadToScale(out, F.FFetchAs);
        }
        break;
      }
      case SQLITE_FLOAT: {
        double v = sqlite3_column_double(St, I);
        if (type == ftBoolean)
          out = v != 0 ? "True" : "False";
        else if (IsTemporal(type) && std::isfinite(v))
          AppendTemporal(out, type, FromUnixSeconds(std::llround((v - 2440587.5) * 86400.0)));
        else {
          dbtext::AppendShortest(out, v);
          if (type == ftBCD) PadToScale(out, F.FFetchAs);
        }
        break;
      }
      case SQLITE_TEXT: {
        const char* p = reinterpret_cast<const char*>(sqlite3_column_text(St, I));
        const int len = sqlite3_column_bytes(St, I);
        std::string_view text(p ? p : "", static_cast<size_t>(len));
        TDateTime when;
        if (IsTemporal(type) && dbtext::ParseSqliteDateTime(text, when)) {
          if (dbtext::IsOwnTemporalForm(text, type))
            out.assign(text.data(), text.size());
          else
            AppendTemporal(out, type, when);
        } else if (type == ftBoolean && (text == "1" || text == "0" || text == "true" ||
                                         text == "false" || text == "TRUE" || text == "FALSE"))
          out = (text == "1" || text[0] == 't' || text[0] == 'T') ? "True" : "False";
        else
          out.assign(text.data(), text.size());
        break;
      }
      default: {  // SQLITE_BLOB
        const void* p = sqlite3_column_blob(St, I);
        const int len = sqlite3_column_bytes(St, I);
        if (p) out.assign(static_cast<const char*>(p), static_cast<size_t>(len));
        break;
      }
    }
    F.FIsNull = false;
  }

  sqlite3* FDb;
  std::string FSql;
  unsigned FFlags;
  std::vector<sqlite3_stmt*> FChain;    // the statements of the text compiled so far
  size_t FTail = 0;                     // where the next statement of FSql starts
  sqlite3_stmt* FResult = nullptr;      // the statement whose result is open
  std::vector<std::string> FDateTexts;  // bound date texts, one per parameter
  int64_t FRows = 0;
  bool FOpen = false;         // the last statement has an open result
  bool FStepPending = false;  // FStepRc is the result of a step not yet fetched
  int FStepRc = SQLITE_DONE;
};

namespace {

std::unique_ptr<TDbStatement> TSqliteSession::Prepare(const std::string& Sql, bool Persistent) {
  return std::make_unique<TSqliteStatement>(FDb, Sql, Persistent);
}

}  // namespace

std::unique_ptr<TDbSession> OpenSqliteSession(const TDbRoute& Route,
                                              const TDbOpenOptions& Options) {
  const std::string what = "Unable to open " + Route.Description;
  // SQLite keeps statistics of its memory under one process-wide lock taken
  // at every allocation; nothing here reads them. Possible only before
  // SQLite is first used (later it is refused, harmlessly).
  static std::once_flag noMemoryStatistics;
  std::call_once(noMemoryStatistics, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
  sqlite3* db = nullptr;
  // NOMUTEX: a connection is used by one thread at a time.
  int rc = sqlite3_open_v2(Route.FilePath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    TDbError error = SqliteError(db, rc, what);
    sqlite3_close_v2(db);
    throw error;
  }
  sqlite3_extended_result_codes(db, 1);
  auto session = std::make_unique<TSqliteSession>(db, Options);  // closes db if we throw
  // Opening is lazy; reading the schema shows at once a file that is not an
  // SQLite database.
  rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw SqliteError(db, rc, what);
  return session;
}

}  // namespace kelvor
