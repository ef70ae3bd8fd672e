#include "EngineHarness.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "services/uLogService.h"
#include "tasks/uSchemaObjects.h"

namespace kelvor::test {

// ---------------------------------------------------------------------------
// TTestDatabase

TTestDatabase::TTestDatabase(TDbSide Side, const TDbTestHome& Home, const std::string& FileName)
    : FSide(Side) {
  if (Side == TDbSide::SQLite) {
    FFile = Home.Root() + FileName;
    if (!FileExists(FFile)) Home.CreateSqliteFile(FileName);
    FConn.SetConnectionString(AccessConnectionString(FFile));
  } else {
    FConn.SetConnectionString(PostgresOdbcConnectionString());
  }
  FConn.Open();
}

TTestDatabase::~TTestDatabase() {
  try {
    if (!FConn.Connected()) FConn.Open();
    FConn.RollbackTrans();
    for (auto it = FDrops.rbegin(); it != FDrops.rend(); ++it)
      Exec("drop " + *it);
  } catch (const TDbError& e) {
    ADD_FAILURE() << "cleaning up: " << e.what();
  }
}

TSyncDataSource TTestDatabase::Settings() const {
  switch (FSide) {
    case TDbSide::SQLite:
      return SqliteDataSource(FFile);
    case TDbSide::PgOdbc:
      return PostgresOdbcDataSource();
    case TDbSide::PgLiteral:
      return PostgresSqlServerDataSource();
  }
  return {};
}

std::string TTestDatabase::CreateTable(const std::string& Columns) {
  const std::string name = UniqueName("ke_");
  Exec("create table " + name + "(" +
       (IsPostgres() ? ReplaceAll(Columns, "BLOB", "bytea") : Columns) + ")");
  FDrops.push_back("table " + name);
  return name;
}

std::vector<std::string> TTestDatabase::Rows(const std::string& Sql) {
  std::vector<std::string> rows;
  TDbQuery q(FConn);
  q.SetParamCheck(false);
  q.SetSQL(Sql);
  q.Open();
  for (; !q.Eof(); q.Next()) {
    std::string row;
    for (int i = 0; i < q.FieldCount(); ++i) {
      if (i > 0) row += "|";
      row += q.Field(i).IsNull() ? "<null>" : q.Field(i).AsString();
    }
    rows.push_back(row);
  }
  return rows;
}

std::string TTestDatabase::BlobLiteral(const std::string& Hex) const {
  return IsPostgres() ? "decode('" + Hex + "','hex')" : "x'" + Hex + "'";
}

// ---------------------------------------------------------------------------
// TEngineEnv

TEngineEnv::TEngineEnv() : Logs(Home.Root() + "logs/"), Cwd(Home.BinFolder()) {
  std::filesystem::create_directories(Logs);
  // A writer left by an earlier test would keep its queue; start clean.
  StopLogService(std::chrono::milliseconds(0));
}

TEngineEnv::~TEngineEnv() {
  StopLogService();
}

std::string TEngineEnv::LogText() {
  StopLogService();
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(Logs))
    files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  std::string text;
  for (const auto& f : files)
    text += ReadFileOrEmpty(f);
  return text;
}

std::string TEngineEnv::Progress() {
  FProgress += Channel.TakeText();
  return FProgress;
}

// ---------------------------------------------------------------------------
// Tasks and runs

std::unique_ptr<TKelvorInstance> MakeTask(const std::string& Name, const TSyncDataSource& Source,
                                          const TSyncDataSource& Destination, int OperationType,
                                          const std::string& DstTable, const std::string& Command,
                                          const std::vector<TMapEntry>& Maps,
                                          const std::string& ValidationSrc) {
  auto task = std::make_unique<TKelvorInstance>();
  task->MissionName = Name;
  task->Mode = modeInterval;
  task->TimeDistance = 60;
  task->Source = Source;
  task->Destination = Destination;
  task->FieldMaps.OperationType = OperationType;
  task->FieldMaps.DstTable = DstTable;
  task->FieldMaps.SetCommand(Command);
  task->FieldMaps.SetValidationSrc(ValidationSrc);
  for (const TMapEntry& m : Maps) {
    auto e = std::make_unique<TFieldMap>();
    e->Src = m.Name;
    e->Dst = m.Name;
    e->FieldLen = m.Len;
    e->IsKey = m.Key;
    task->FieldMaps.Add(std::move(e));
  }
  return task;
}

bool RunAsDaemon(TKelvorOperationHandler& Executor, TKelvorInstance& Task, TBroadMessage* Channel) {
  bool ok = Executor.ConnectSource(Task.Source) && Executor.ConnectDestination(Task.Destination);
  if (ok) {
    Executor.MessageChannel = Channel;
    ok = Executor.Execute(Task);
  }
  Executor.DisconnectDestination();
  Executor.DisconnectSource();
  return ok;
}

std::string RunConfigName(const ::testing::TestParamInfo<TRunConfig>& Info) {
  auto side = [](TDbSide S) -> std::string {
    switch (S) {
      case TDbSide::SQLite:
        return "SQLite";
      case TDbSide::PgOdbc:
        return "PgOdbc";
      case TDbSide::PgLiteral:
        return "PgLiteral";
    }
    return "Unknown";
  };
  return side(Info.param.Source) + "To" + side(Info.param.Destination);
}

// ---------------------------------------------------------------------------
// EngineRunTest

void EngineRunTest::SetUp() {
  if (GetParam().Source != TDbSide::SQLite || GetParam().Destination != TDbSide::SQLite)
    SKIP_WITHOUT_POSTGRES();
  Env = std::make_unique<TEngineEnv>();
  Src = std::make_unique<TTestDatabase>(GetParam().Source, Env->Home, "src.db");
  Dst = std::make_unique<TTestDatabase>(GetParam().Destination, Env->Home, "dst.db");
  Name = UniqueName("mission_");
}

void EngineRunTest::TearDown() {
  Executor.DisconnectDestination();
  Executor.DisconnectSource();
  Dst.reset();
  Src.reset();
  Env.reset();
}

std::unique_ptr<TKelvorInstance> EngineRunTest::Task(int OperationType, const std::string& DstTable,
                                                     const std::string& Command,
                                                     const std::vector<TMapEntry>& Maps,
                                                     const std::string& ValidationSrc) {
  return MakeTask(Name, Src->Settings(), Dst->Settings(), OperationType, DstTable, Command, Maps,
                  ValidationSrc);
}

// ---------------------------------------------------------------------------
// PgDestinationTest

bool WaitUntil(const std::function<bool()>& Done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    if (Done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string Go(const std::string& Statement) {
  return Statement + "\r\ngo\r\n";
}

void PgDestinationTest::SetUp() {
  SKIP_WITHOUT_POSTGRES();
  Env = std::make_unique<TEngineEnv>();
  Db = std::make_unique<TTestDatabase>(TDbSide::PgOdbc, Env->Home, "");
  Name = UniqueName("pg_mission_");
}

void PgDestinationTest::TearDown() {
  if (Worker.joinable()) Worker.join();
  Executor.DisconnectDestination();
  Executor.DisconnectSource();
  Db.reset();
  Env.reset();
}

TSyncDataSource PgDestinationTest::DstSettings() const {
  return GetParam() == TDbSide::PgOdbc ? PostgresOdbcDataSource() : PostgresSqlServerDataSource();
}

std::unique_ptr<TKelvorInstance> PgDestinationTest::Task(int Op, const std::string& DstTable,
                                                         const std::string& Command,
                                                         const std::vector<TMapEntry>& Maps) {
  return MakeTask(Name, PostgresOdbcDataSource(), DstSettings(), Op, DstTable, Command, Maps);
}

void PgDestinationTest::StartRun(TKelvorInstance& Task) {
  Worker = std::thread([this, &Task] { Result = RunAsDaemon(Executor, Task, &Env->Channel); });
}

bool PgDestinationTest::FinishRun() {
  Worker.join();
  return Result;
}

std::string PgDestinationTest::SleepingBackend(const std::string& Marker) {
  std::string pid;
  WaitUntil([&] {
    pid = Db->Scalar(
        "select pid from pg_stat_activity where wait_event = 'PgSleep' and query like '%" + Marker +
        "%' and pid <> pg_backend_pid()");
    return pid != "<no row>";
  });
  return pid;
}

std::string PgDestinationTest::NewSequence() {
  const std::string seq = UniqueName("ks_");
  Db->Exec("create sequence " + seq);
  Db->DropAtEnd("sequence " + seq);
  return seq;
}

std::string PgDestinationTest::SequenceValue(const std::string& Seq) {
  return Db->Scalar("select case when is_called then last_value else 0 end from " + Seq);
}

std::string PgDestinationName(const ::testing::TestParamInfo<TDbSide>& Info) {
  return Info.param == TDbSide::PgOdbc ? "OdbcDsn" : "AsSqlServer";
}

}  // namespace kelvor::test
