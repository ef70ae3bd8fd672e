// Task runs against real databases: the executor reads a source and writes a
// destination exactly as a task daemon makes it do (connect source, connect
// destination, Execute, disconnect both), with the program folder, the
// providers.ini and the log folder of a throw-away installation.
//
// The run cases (EngineRunCases.cpp) are written once and instantiated per
// pair of source and destination by the SQLite and the PostgreSQL programs:
//   SQLite    a database file, the access type (2): the parameterised path
//   PgOdbc    PostgreSQL through its data source, the odbc type (3): the
//             parameterised path
//   PgLiteral PostgreSQL as the sqlserver type (1), routed to the PostgreSQL
//             driver by providers.ini: the literal statement path
// Tables get names unique to the process, so test programs may run in
// parallel against one server. Everything here runs on the test's thread.
#pragma once

#include <gmock/gmock.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DbTestSupport.h"
#include "engine/uKelvorOperation.h"
#include "services/ServiceTestSupport.h"
#include "services/uBroadMessage.h"

namespace kelvor::test {

enum class TDbSide { SQLite, PgOdbc, PgLiteral };

// One database as the tests see it: the task's connection settings for it
// and the test's own connection for setting up and checking.
class TTestDatabase {
 public:
  // Path: the SQLite file (created when missing); unused for PostgreSQL.
  TTestDatabase(TDbSide Side, const TDbTestHome& Home, const std::string& FileName);
  ~TTestDatabase();  // drops the tables it created

  TDbSide Side() const { return FSide; }
  bool IsPostgres() const { return FSide != TDbSide::SQLite; }
  TSyncDataSource Settings() const;
  TDbConnection& Conn() { return FConn; }

  // Creates a table with a unique name; the column list may use BLOB, which
  // becomes bytea on PostgreSQL.
  std::string CreateTable(const std::string& Columns);
  // A name for an object this database drops at the end (e.g. a sequence).
  void DropAtEnd(const std::string& What) { FDrops.push_back(What); }
  void Exec(const std::string& Sql) { ExecOn(FConn, Sql); }
  std::string Scalar(const std::string& Sql) { return ScalarOn(FConn, Sql); }
  std::string Count(const std::string& Table) { return Scalar("select count(*) from " + Table); }
  // Every row of Sql, its values as text joined with "|", NULL as "<null>".
  std::vector<std::string> Rows(const std::string& Sql);
  // The literal of bytes given in hexadecimal.
  std::string BlobLiteral(const std::string& Hex) const;

 private:
  TDbSide FSide;
  std::string FFile;
  TDbConnection FConn;
  std::vector<std::string> FDrops;  // "table x", "sequence y", ...
};

// A throw-away installation: <tmp>/bin is the program folder and the
// current directory, <tmp>/logs the log folder, <tmp>/conf/providers.ini the
// test routing. Destroy only after StopLogService (TEngineEnv's destructor
// stops it).
class TEngineEnv {
 public:
  TEngineEnv();
  ~TEngineEnv();

  TDbTestHome Home;
  std::string Logs;
  CurrentDirectoryScope Cwd;
  TBroadMessage Channel;

  // Waits for the log writer to drain, stops it, and returns the text of
  // every log file written so far.
  std::string LogText();
  // Every progress line posted to Channel so far (CR LF after each).
  std::string Progress();

 private:
  std::string FProgress;
};

struct TMapEntry {
  std::string Name;  // source and destination column
  bool Key = false;
  int Len = 0;
};

// A task built in code, scheduled by interval so that a successful run does
// not make it "finished" for the next run.
std::unique_ptr<TKelvorInstance> MakeTask(const std::string& Name, const TSyncDataSource& Source,
                                          const TSyncDataSource& Destination, int OperationType,
                                          const std::string& DstTable, const std::string& Command,
                                          const std::vector<TMapEntry>& Maps,
                                          const std::string& ValidationSrc = "");

// One run as a daemon makes it: connect source, then destination, Execute,
// then disconnect both. False when a connect or the run failed.
bool RunAsDaemon(TKelvorOperationHandler& Executor, TKelvorInstance& Task, TBroadMessage* Channel);

struct TRunConfig {
  TDbSide Source;
  TDbSide Destination;
};
std::string RunConfigName(const ::testing::TestParamInfo<TRunConfig>& Info);
// The pairs a test program runs the shared cases with (defined by each program).
std::vector<TRunConfig> RunConfigs();

class EngineRunTest : public ::testing::TestWithParam<TRunConfig> {
 protected:
  void SetUp() override;
  void TearDown() override;

  bool Literal() const { return GetParam().Destination == TDbSide::PgLiteral; }
  int DstType() const { return Dst->Settings().DbType; }
  std::unique_ptr<TKelvorInstance> Task(int OperationType, const std::string& DstTable,
                                        const std::string& Command,
                                        const std::vector<TMapEntry>& Maps,
                                        const std::string& ValidationSrc = "");
  bool Run(TKelvorInstance& Task) { return RunAsDaemon(Executor, Task, &Env->Channel); }

  std::unique_ptr<TEngineEnv> Env;
  std::unique_ptr<TTestDatabase> Src;
  std::unique_ptr<TTestDatabase> Dst;
  TKelvorOperationHandler Executor{"test"};
  std::string Name;  // the task's name, unique to the test
};

// Polls until Done answers true; false after ten seconds.
bool WaitUntil(const std::function<bool()>& Done);
// Statement followed by a separator line, for scripts.
std::string Go(const std::string& Statement);

// PostgreSQL as the destination, through its data source (PgOdbc:
// parameterised path) or as the sqlserver type (PgLiteral: literal path);
// the source, where a task has one, is PostgreSQL through its data source.
// Db is the test's own connection to the same database.
class PgDestinationTest : public ::testing::TestWithParam<TDbSide> {
 protected:
  void SetUp() override;
  void TearDown() override;

  TSyncDataSource DstSettings() const;
  std::unique_ptr<TKelvorInstance> Task(int Op, const std::string& DstTable,
                                        const std::string& Command,
                                        const std::vector<TMapEntry>& Maps = {});
  // Starts the run on a thread of its own, as a daemon would; FinishRun
  // waits for it and answers its result.
  void StartRun(TKelvorInstance& Task);
  bool FinishRun();
  // The process id of the session sleeping in a statement that mentions
  // Marker, or "<no row>" when none shows within ten seconds.
  std::string SleepingBackend(const std::string& Marker);
  // A sequence dropped at the end, and the last value it handed out (0 before the first).
  std::string NewSequence();
  std::string SequenceValue(const std::string& Seq);

  std::unique_ptr<TEngineEnv> Env;
  std::unique_ptr<TTestDatabase> Db;
  TKelvorOperationHandler Executor{"pg"};
  std::string Name;
  std::thread Worker;
  bool Result = false;
};

std::string PgDestinationName(const ::testing::TestParamInfo<TDbSide>& Info);

}  // namespace kelvor::test
