// Throughput of task runs and the memory of rows held, measured against what
// the databases can do at best.
//
// Cases: 100,000 rows of (int key, varchar(32), int, timestamp,
// numeric(12,2), text) copied by the executor from a SQLite file to a SQLite
// file and to PostgreSQL (its data source, when KELVOR_PG_DSN is set), for
// operation types 0, 1, 2 and 5, and to MariaDB (its data source, when
// KELVOR_MARIADB_DSN is set) for types 0 and 1. Type 0 writes into an empty
// table; types 1, 2 and 5 into a table already holding every key (one UPDATE
// per row), type 5 with 1,000 further rows to delete. Every run reads the
// source and applies in one transaction, as a task run does, and is timed
// whole.
// Ceilings, measured in the same run right before each run of a case: for
// SQLite, the SQLite C API reading every row and writing them with one
// prepared INSERT in one transaction; for a server, the same reading and one
// prepared INSERT per row through db/ over the same ODBC data source.
// Memory: the heap bytes held by 1,000,000 rows read into a TObuRec, per byte
// of their value text (counted by replacing the global operator new, with
// the allocator's 8-byte chunk header added to every block).
//
// Output: "BENCH <case> rows_per_s=<n> ceiling_ratio=<r>" per case and
// "BENCH memory bytes_per_text_byte=<x>"; lines starting with "#" are notes.
// Options: --rows N, --memory-rows N, --repeat N and --pg-repeat N (runs per
// SQLite and per server case, the best counts), --cases TEXT (only the cases
// whose name contains TEXT).
#include <malloc.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "db/DbConnection.h"
#include "db/DbError.h"
#include "db/DbQuery.h"
#include "engine/uKelvorOperation.h"
#include "platform/Paths.h"
#include "services/uLogService.h"

// ---------------------------------------------------------------------------
// Counting allocator: live bytes of every block made by operator new.

// Counting is switched on for a whole process (the memory case runs in a
// process of its own), so that it never slows the throughput cases and every
// block it subtracts was added.
namespace {
bool gCountHeap = false;
std::atomic<int64_t> gLiveBytes{0};

void* CountedAlloc(std::size_t Size) {
  void* p = std::malloc(Size == 0 ? 1 : Size);
  if (!p) throw std::bad_alloc();
  if (gCountHeap)
    gLiveBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(p) + 8),
                         std::memory_order_relaxed);
  return p;
}
void CountedFree(void* P) noexcept {
  if (!P) return;
  if (gCountHeap)
    gLiveBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(P) + 8),
                         std::memory_order_relaxed);
  std::free(P);
}
}  // namespace

void* operator new(std::size_t Size) {
  return CountedAlloc(Size);
}
void* operator new[](std::size_t Size) {
  return CountedAlloc(Size);
}
void* operator new(std::size_t Size, const std::nothrow_t&) noexcept {
  try {
    return CountedAlloc(Size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t Size, const std::nothrow_t&) noexcept {
  try {
    return CountedAlloc(Size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* P) noexcept {
  CountedFree(P);
}
void operator delete[](void* P) noexcept {
  CountedFree(P);
}
void operator delete(void* P, std::size_t) noexcept {
  CountedFree(P);
}
void operator delete[](void* P, std::size_t) noexcept {
  CountedFree(P);
}

namespace kelvor {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point Start) {
  return std::chrono::duration<double>(Clock::now() - Start).count();
}

[[noreturn]] void Die(const std::string& Why) {
  std::fprintf(stderr, "bench: %s\n", Why.c_str());
  std::exit(2);
}

// ---------------------------------------------------------------------------
// SQLite files through the C API

class TRawSqlite {
 public:
  explicit TRawSqlite(const std::string& Path) {
    if (sqlite3_open(Path.c_str(), &FDb) != SQLITE_OK) Die("cannot open " + Path);
  }
  ~TRawSqlite() { sqlite3_close(FDb); }
  void Exec(const std::string& Sql) {
    char* err = nullptr;
    if (sqlite3_exec(FDb, Sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK)
      Die(Sql + ": " + (err ? err : "?"));
  }
  int64_t Int(const std::string& Sql) {
    sqlite3_stmt* st = Prepare(Sql);
    int64_t v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    return v;
  }
  sqlite3_stmt* Prepare(const std::string& Sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(FDb, Sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      Die(Sql + ": " + sqlite3_errmsg(FDb));
    return st;
  }

 private:
  sqlite3* FDb = nullptr;
};

const char* kColumns =
    "id INTEGER PRIMARY KEY, name VARCHAR(32), qty INTEGER, ts TIMESTAMP, amount NUMERIC(12,2), "
    "note TEXT";
const char* kSelect = "select id, name, qty, ts, amount, note from src";

// The benchmark's rows: ids 1..Rows.
void FillSource(const std::string& Path, int Rows) {
  std::filesystem::remove(Path);
  TRawSqlite db(Path);
  db.Exec(std::string("create table src(") + kColumns + ")");
  db.Exec("begin");
  sqlite3_stmt* st = db.Prepare("insert into src values(?, ?, ?, ?, ?, ?)");
  char ts[32], amount[32], note[64];
  for (int i = 1; i <= Rows; ++i) {
    std::snprintf(ts, sizeof ts, "2024-%02d-%02d %02d:%02d:%02d", i % 12 + 1, i % 28 + 1, i % 24,
                  i % 60, (i * 7) % 60);
    std::snprintf(amount, sizeof amount, "%d.%02d", (i * 37) % 1000000, i % 100);
    std::snprintf(note, sizeof note, "note of row %d, plain words", i);
    const std::string name = "name_" + std::to_string(i);
    sqlite3_bind_int64(st, 1, i);
    sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 3, (i * 7) % 1000);
    sqlite3_bind_text(st, 4, ts, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 5, amount, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 6, note, -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) != SQLITE_DONE) Die("filling the source");
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  db.Exec("commit");
}

// One source row as read back.
struct TRow {
  int64_t Id, Qty;
  double Amount;
  std::string Name, Ts, Note;
};

std::vector<TRow> ReadAll(const std::string& Source) {
  TRawSqlite db(Source);
  sqlite3_stmt* st = db.Prepare(kSelect);
  std::vector<TRow> rows;
  while (sqlite3_step(st) == SQLITE_ROW) {
    auto text = [&](int c) {
      const unsigned char* t = sqlite3_column_text(st, c);
      return std::string(t ? reinterpret_cast<const char*>(t) : "",
                         static_cast<size_t>(sqlite3_column_bytes(st, c)));
    };
    rows.push_back({sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 2),
                    sqlite3_column_double(st, 4), text(1), text(3), text(5)});
  }
  sqlite3_finalize(st);
  return rows;
}

// Destination tables: empty for type 0, holding every key (with other
// values) for the types that update, and 1,000 extra rows for the mirror.
std::string PrefillSql(int Op, int Rows) {
  if (Op == opInsert) return "";
  std::string sql =
      "insert into dst(id, name, qty, ts, amount, note) select id, 'old', 0, ts, 0, 'old' from "
      "src_copy";
  return sql + (Op == opMirror ? " union all select id + " + std::to_string(Rows) +
                                     ", 'extra', 0, ts, 0, 'extra' from src_copy where id <= 1000"
                               : "");
}

void PrepareSqliteDestination(const std::string& Path, const std::string& Source, int Op,
                              int Rows) {
  std::filesystem::remove(Path);
  TRawSqlite db(Path);
  db.Exec(std::string("create table dst(") + kColumns + ")");
  if (Op != opInsert) {
    db.Exec("attach '" + Source + "' as s");
    db.Exec("create temp view src_copy as select * from s.src");
    db.Exec(PrefillSql(Op, Rows));
    db.Exec("drop view src_copy");
    db.Exec("detach s");
  }
}

double SqliteCeiling(const std::string& Source, const std::string& Destination, int Rows) {
  PrepareSqliteDestination(Destination, Source, opInsert, Rows);
  const auto start = Clock::now();
  std::vector<TRow> rows = ReadAll(Source);
  TRawSqlite db(Destination);
  db.Exec("begin immediate");
  sqlite3_stmt* st =
      db.Prepare("insert into dst(id, name, qty, ts, amount, note) values(?,?,?,?,?,?)");
  for (const TRow& r : rows) {
    sqlite3_bind_int64(st, 1, r.Id);
    sqlite3_bind_text(st, 2, r.Name.data(), static_cast<int>(r.Name.size()), SQLITE_STATIC);
    sqlite3_bind_int64(st, 3, r.Qty);
    sqlite3_bind_text(st, 4, r.Ts.data(), static_cast<int>(r.Ts.size()), SQLITE_STATIC);
    sqlite3_bind_double(st, 5, r.Amount);
    sqlite3_bind_text(st, 6, r.Note.data(), static_cast<int>(r.Note.size()), SQLITE_STATIC);
    if (sqlite3_step(st) != SQLITE_DONE) Die("ceiling insert");
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  db.Exec("commit");
  const double s = SecondsSince(start);
  if (db.Int("select count(*) from dst") != Rows) Die("ceiling copied the wrong number of rows");
  return Rows / s;
}

// ---------------------------------------------------------------------------
// Task runs

TSyncDataSource SqliteSide(const std::string& Path) {
  TSyncDataSource s;
  s.DbType = dbAccess;
  s.DbName = Path;
  return s;
}

std::string Env(const std::string& Name) {
  const char* v = std::getenv(Name.c_str());
  return v ? v : "";
}

// The data source of a test server: Prefix is "KELVOR_PG" or "KELVOR_MARIADB".
TSyncDataSource ServerSide(const std::string& Prefix) {
  TSyncDataSource s;
  s.DbType = dbOdbc;
  s.DbName = Env(Prefix + "_DSN");
  s.DbUser = Env(Prefix + "_USER");
  s.DbPwd = Env(Prefix + "_PASSWORD");
  return s;
}

std::unique_ptr<TKelvorInstance> BenchTask(const TSyncDataSource& Source,
                                           const TSyncDataSource& Destination, int Op,
                                           const std::string& Table) {
  auto task = std::make_unique<TKelvorInstance>();
  task->MissionName = "bench";
  task->Mode = modeInterval;
  task->Source = Source;
  task->Destination = Destination;
  task->FieldMaps.OperationType = Op;
  task->FieldMaps.DstTable = Table;
  task->FieldMaps.SetCommand(kSelect);
  const struct {
    const char* Name;
    int Len;
    bool Key;
  } maps[] = {{"id", 0, true},  {"name", 32, false},  {"qty", 0, false},
              {"ts", 0, false}, {"amount", 0, false}, {"note", 0, false}};
  for (const auto& m : maps) {
    auto e = std::make_unique<TFieldMap>();
    e->Src = e->Dst = m.Name;
    e->FieldLen = m.Len;
    e->IsKey = m.Key;
    task->FieldMaps.Add(std::move(e));
  }
  return task;
}

// One run as a daemon makes it; rows per second of the whole run.
double TimedRun(TKelvorInstance& Task, int Rows) {
  TKelvorOperationHandler executor("bench");
  const auto start = Clock::now();
  bool ok = executor.ConnectSource(Task.Source) && executor.ConnectDestination(Task.Destination) &&
            executor.Execute(Task);
  executor.DisconnectDestination();
  executor.DisconnectSource();
  const double s = SecondsSince(start);
  if (!ok) Die("the run failed; see the log in the benchmark's logs folder");
  return Rows / s;
}

void Report(const std::string& Case, double RowsPerSecond, double Ceiling) {
  std::printf("BENCH %s rows_per_s=%.0f ceiling_ratio=%.2f\n", Case.c_str(), RowsPerSecond,
              RowsPerSecond / Ceiling);
  std::fflush(stdout);
}

std::string gCases;  // --cases: run only the cases whose name contains this

bool Wanted(const std::string& Case) {
  return Case.find(gCases) != std::string::npos;
}

const int kOps[] = {opInsert, opUpdateThenInsert, opUpdate, opMirror};

// Each case is timed Repeat times, each time right after a ceiling run, and
// compared with the best of those adjacent ceiling runs, so that a machine
// busy with other work slows both sides of a ratio alike.
void SqliteCases(const std::string& Dir, const std::string& Source, int Rows, int Repeat) {
  const std::string dst = Dir + "dst.db";
  double best = 0;
  for (int op : kOps) {
    if (!Wanted("sqlite_to_sqlite_type" + std::to_string(op))) continue;
    double ceiling = 0, r = 0;
    for (int i = 0; i < Repeat; ++i) {
      ceiling = std::max(ceiling, SqliteCeiling(Source, dst, Rows));
      PrepareSqliteDestination(dst, Source, op, Rows);
      auto task = BenchTask(SqliteSide(Source), SqliteSide(dst), op, "dst");
      r = std::max(r, TimedRun(*task, Rows));
      if (TRawSqlite(dst).Int("select count(*) from dst where name like 'name_%'") != Rows)
        Die("type " + std::to_string(op) + " left the wrong rows");
    }
    best = std::max(best, ceiling);
    Report("sqlite_to_sqlite_type" + std::to_string(op), r, ceiling);
  }
  if (best > 0) Report("sqlite_ceiling", best, best);
}

// ---------------------------------------------------------------------------
// A server through its data source

// PostgreSQL or MariaDB: the same table and rows, in each one's own SQL.
class TServerBench {
 public:
  TServerBench(const std::string& Prefix, bool Mariadb)
      : FSide(ServerSide(Prefix)),
        FMariadb(Mariadb),
        FTable("bench_dst_" + std::to_string(::getpid())) {
    FConn.SetConnectionString(TKelvorOperationHandler::ConnectionStringFor(FSide));
    FConn.Open();
  }
  ~TServerBench() {
    try {
      Exec("drop table if exists " + FTable);
    } catch (const TDbError&) {
    }
  }
  const TSyncDataSource& Side() const { return FSide; }
  const std::string& Table() const { return FTable; }
  void Exec(const std::string& Sql) {
    TDbQuery q(FConn);
    q.SetSQL(Sql);
    q.ExecSQL();
  }
  int64_t Count(const std::string& Where) {
    TDbQuery q(FConn);
    q.SetSQL("select count(*) from " + FTable + Where);
    q.Open();
    return std::stoll(q.Field(0).AsString());
  }
  // A fresh destination table, prefilled as PrefillSql says.
  void PrepareDestination(size_t Rows, int Op) {
    Exec("drop table if exists " + FTable);
    // MariaDB's TIMESTAMP is a moment of the session's time zone; DATETIME is the plain type.
    Exec("create table " + FTable + "(id INTEGER PRIMARY KEY, name VARCHAR(32), qty INTEGER, ts " +
         (FMariadb ? "DATETIME" : "TIMESTAMP") + ", amount NUMERIC(12,2), note TEXT)");
    if (Op == opInsert) return;
    const std::string n = std::to_string(Rows + (Op == opMirror ? 1000 : 0));
    if (FMariadb) {
      Exec("insert into " + FTable +
           " select seq, 'old', 0, timestamp '2024-01-01 00:00:00', 0, "
           "'old' from seq_1_to_" +
           n);
      Exec("analyze table " + FTable);
    } else {
      Exec("insert into " + FTable +
           " select i, 'old', 0, timestamp '2024-01-01', 0, 'old' from generate_series(1, " + n +
           ") i");
      Exec("analyze " + FTable);
    }
  }
  double Ceiling(const std::string& Source, int Rows) {
    PrepareDestination(0, opInsert);
    const auto start = Clock::now();
    std::vector<TRow> rows = ReadAll(Source);
    TDbQuery q(FConn);
    q.SetPrepared(true);
    FConn.BeginTrans();
    const std::string sql = "insert into " + FTable +
                            "(id, name, qty, ts, amount, note) values(:id, :name, :qty, :ts, "
                            ":amount, :note)";
    const TFieldType types[] = {ftInteger, ftString, ftInteger, ftDateTime, ftBCD, ftMemo};
    char amount[32];
    for (const TRow& r : rows) {
      q.SetSQL(sql);
      for (int i = 0; i < 6; ++i)
        q.Param(i).SetDataType(types[i]);
      std::snprintf(amount, sizeof amount, "%.2f", r.Amount);
      q.Param(0).SetValue(std::to_string(r.Id));
      q.Param(1).SetValue(r.Name);
      q.Param(2).SetValue(std::to_string(r.Qty));
      q.Param(3).SetValue(r.Ts);
      q.Param(4).SetValue(amount);
      q.Param(5).SetValue(r.Note);
      q.ExecSQL();
    }
    FConn.CommitTrans();
    const double s = SecondsSince(start);
    if (Count("") != Rows) Die("the server's ceiling copied the wrong number of rows");
    return Rows / s;
  }

 private:
  TSyncDataSource FSide;
  bool FMariadb;
  TDbConnection FConn;
  std::string FTable;
};

// Cases "sqlite_to_<Name>_type<op>" for each of Ops, and "<Name>_ceiling".
void ServerCases(TServerBench& Server, const std::string& Name, const std::vector<int>& Ops,
                 const std::string& Source, int Rows, int Repeat) {
  double best = 0;
  for (int op : Ops) {
    const std::string name = "sqlite_to_" + Name + "_type" + std::to_string(op);
    if (!Wanted(name)) continue;
    double ceiling = 0, r = 0;
    for (int i = 0; i < Repeat; ++i) {
      ceiling = std::max(ceiling, Server.Ceiling(Source, Rows));
      Server.PrepareDestination(static_cast<size_t>(Rows), op);
      auto task = BenchTask(SqliteSide(Source), Server.Side(), op, Server.Table());
      r = std::max(r, TimedRun(*task, Rows));
      if (Server.Count(" where name like 'name_%'") != Rows)
        Die("type " + std::to_string(op) + " left the wrong rows in " + Name);
      if (op == opMirror && Server.Count("") != Rows) Die("the mirror left extra rows in " + Name);
    }
    best = std::max(best, ceiling);
    Report(name, r, ceiling);
  }
  if (best > 0) Report(Name + "_ceiling", best, best);
}

// ---------------------------------------------------------------------------
// Memory of rows held

int64_t RssBytes() {
  long pages = 0, resident = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(f);
  return static_cast<int64_t>(resident) * sysconf(_SC_PAGESIZE);
}

void MemoryCase(const std::string& Dir, int Rows) {
  const std::string source = Dir + "memory.db";
  FillSource(source, Rows);
  auto task = BenchTask(SqliteSide(source), SqliteSide(source), opInsert, "dst");
  TKelvorOperationHandler executor("bench");
  if (!executor.ConnectSource(task->Source)) Die("cannot open " + source);
  executor.CurrentTask = task.get();
  const int64_t before = gLiveBytes.load();
  const int64_t rssBefore = RssBytes();
  std::unique_ptr<TObuRec> records = executor.LoadSourceRecords(kSelect);
  const int64_t held = gLiveBytes.load() - before;
  const int64_t rss = RssBytes() - rssBefore;
  if (!records || records->Count() != Rows) Die("reading the memory case failed");
  const double text = static_cast<double>(records->DataBytes());
  std::printf("# memory: %d rows, %.0f bytes of value text, %lld heap bytes held, RSS +%lld\n",
              Rows, text, static_cast<long long>(held), static_cast<long long>(rss));
  std::printf("BENCH memory bytes_per_text_byte=%.2f\n", static_cast<double>(held) / text);
  std::fflush(stdout);
}

}  // namespace
}  // namespace kelvor

int main(int argc, char** argv) {
  using namespace kelvor;
  int rows = 100000, memoryRows = 1000000, repeat = 3, pgRepeat = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const int v = std::atoi(argv[i + 1]);
    if (a == "--rows")
      rows = v;
    else if (a == "--memory-rows")
      memoryRows = v;
    else if (a == "--repeat")
      repeat = v;
    else if (a == "--pg-repeat")
      pgRepeat = v;
    else if (a == "--cases")
      gCases = argv[i + 1];
    else if (a == "--count-heap")
      gCountHeap = v != 0;
    else
      Die("unknown option " + a);
  }
  // A throw-away installation: bin/ is the program folder and the current
  // directory, so the log lands in logs/ beside it.
  char tmpl[] = "/tmp/kelvor-bench.XXXXXX";
  if (!mkdtemp(tmpl)) Die("cannot make a temporary folder");
  const std::string dir = std::string(tmpl) + "/";
  std::filesystem::create_directories(dir + "bin");
  std::filesystem::create_directories(dir + "logs");
  SetProgramFolder(dir + "bin/");
  if (chdir((dir + "bin").c_str()) != 0) Die("cannot enter " + dir + "bin");

  try {
    if (gCountHeap) {
      MemoryCase(dir, memoryRows);
    } else {
      const std::string source = dir + "src.db";
      FillSource(source, rows);
      SqliteCases(dir, source, rows, repeat);
      if (!Env("KELVOR_PG_DSN").empty()) {
        TServerBench pg("KELVOR_PG", false);
        ServerCases(pg, "pg", {opInsert, opUpdateThenInsert, opUpdate, opMirror}, source, rows,
                    pgRepeat);
      } else {
        std::printf(
            "# KELVOR_PG_DSN is not set: no PostgreSQL cases (run under scripts/with-postgres)\n");
      }
      if (!Env("KELVOR_MARIADB_DSN").empty()) {
        TServerBench maria("KELVOR_MARIADB", true);
        ServerCases(maria, "maria", {opInsert, opUpdateThenInsert}, source, rows, pgRepeat);
      } else {
        std::printf(
            "# KELVOR_MARIADB_DSN is not set: no MariaDB cases (run under scripts/with-mariadb)\n");
      }
      std::fflush(stdout);
      if (Wanted("memory")) {
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        const std::string command =
            "'" + self + "' --count-heap 1 --memory-rows " + std::to_string(memoryRows);
        if (std::system(command.c_str()) != 0) Die("the memory case failed");
      }
    }
  } catch (const TDbError& e) {
    Die(e.what());
  }
  StopLogService();
  std::filesystem::remove_all(dir);
  return 0;
}
