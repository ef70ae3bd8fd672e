#include "DbTestSupport.h"

#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "services/uLogService.h"
#include "services/uReportService.h"

namespace kelvor::test {

std::string PgEnv(const char* Name) {
  const char* v = std::getenv(Name);
  return v ? v : "";
}

bool PostgresAvailable() {
  return !PgEnv("KELVOR_PG_DSN").empty();
}

std::string MariaEnv(const char* Name) {
  const char* v = std::getenv(Name);
  return v ? v : "";
}

void ExpectDeadConnectionFailsItsTransaction(TDbConnection& Victim, const std::string& Sql) {
  try {
    ExecOn(Victim, Sql);
    ADD_FAILURE() << "a statement on a dead connection succeeded: " << Sql;
  } catch (const TDbError& e) {
    EXPECT_EQ(e.DriverText(), "Unable to execute statement");
    EXPECT_FALSE(e.DatabaseText().empty()) << e.what();
    EXPECT_FALSE(e.SqlState().empty()) << e.what();
  }
  EXPECT_THROW(Victim.CommitTrans(), TDbError);
  EXPECT_FALSE(Victim.InTransaction());
  Victim.Close();  // never raises, even on a dead connection
}

bool MariaServerCtl(const std::string& Command) {
  const std::string ctl = MariaEnv("KELVOR_MARIADB_CTL");
  return !ctl.empty() && std::system(("'" + ctl + "' " + Command).c_str()) == 0;
}

TMariaRestartAtEnd::~TMariaRestartAtEnd() {
  if (Killed && !MariaServerCtl("start")) ADD_FAILURE() << "the test server did not start again";
}

bool MariadbAvailable() {
  return !MariaEnv("KELVOR_MARIADB_DSN").empty();
}

TDbTestHome::TDbTestHome() : FOldProgramFolder(ProgramFolder()) {
  FDir.Sub("bin", true);
  FDir.Sub("conf", true);
  SetProgramFolder(BinFolder());
  RouteSqlServerTo(TDbSide::PgLiteral);
}

void TDbTestHome::RouteSqlServerTo(TDbSide Side, const std::string& ExtraLines) const {
  std::string ini = "; written by the tests\r\n[odbc]\r\nBoolsAsChar=0\r\n";
  if (Side == TDbSide::PgLiteral && PostgresAvailable())
    ini += "[sqlserver]\r\nDriver=PostgreSQL Unicode\r\nServer=" + PgEnv("KELVOR_PG_HOST") +
           "\r\nPort=" + PgEnv("KELVOR_PG_PORT") + "\r\nDatabase=" + PgEnv("KELVOR_PG_DB") +
           "\r\nBoolsAsChar=0\r\n" + ExtraLines;
  // Server and database come from the connection string (MariaLiteral's Settings).
  if (Side == TDbSide::MariaLiteral && MariadbAvailable())
    ini += "[sqlserver]\r\nDriver=" + MariaEnv("KELVOR_MARIADB_DRIVER") +
           "\r\nPort=" + MariaEnv("KELVOR_MARIADB_PORT") + "\r\n" + ExtraLines;
  WriteProvidersIni(ini);
}

TDbTestHome::~TDbTestHome() {
  SetProgramFolder(FOldProgramFolder);
}

TDataSourceScope::TDataSourceScope(const TDbTestHome& Home, const std::string& Base,
                                   const std::string& Name, const std::string& Lines)
    : FOld(std::getenv("ODBCINI") ? std::getenv("ODBCINI") : "") {
  const std::string text = ReadFileOrEmpty(FOld);
  const std::string head = "[" + Base + "]";
  size_t begin = text.find(head);
  EXPECT_NE(begin, std::string::npos) << "no section " << head << " in " << FOld;
  if (begin == std::string::npos) begin = text.size();
  size_t end = text.find("\n[", begin);
  if (end == std::string::npos) end = text.size();
  const std::string body = text.substr(begin + head.size(), end - begin - head.size());
  const std::string path = Home.Root() + "odbc.ini";
  WriteFileOrDie(path, text + "\n[" + Name + "]" + body + "\n" + Lines + "\n");
  setenv("ODBCINI", path.c_str(), 1);
}

TDataSourceScope::~TDataSourceScope() {
  setenv("ODBCINI", FOld.c_str(), 1);
}

void TDbTestHome::WriteProvidersIni(const std::string& Text) const {
  WriteFileOrDie(Root() + "conf/providers.ini", Text);
}

std::string TDbTestHome::CreateSqliteFile(const std::string& Name) const {
  std::string path = Root() + Name;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  // An empty file is a valid database too; writing the schema makes it a real one.
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "PRAGMA user_version=1", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  if (rc != SQLITE_OK) {
    ADD_FAILURE() << "cannot create SQLite file " << path;
    std::abort();
  }
  return path;
}

std::string AccessConnectionString(const std::string& Path) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Persist Security Info=False;Data Source=" +
         Path;
}

std::string PostgresOdbcConnectionString(const std::string& User, const std::string& Password) {
  return "Provider=MSDASQL.1;Persist Security Info=False;User ID=" + QuoteConnectionValue(User) +
         ";Password=" + QuoteConnectionValue(Password) + ";Data Source=" + PgEnv("KELVOR_PG_DSN");
}

std::string PostgresSqlServerConnectionString() {
  return "Provider=SQLOLEDB.1;Password=" + QuoteConnectionValue(PgEnv("KELVOR_PG_PASSWORD")) +
         ";Persist Security Info=True;User ID=" + QuoteConnectionValue(PgEnv("KELVOR_PG_USER")) +
         ";Initial Catalog=unused;Data Source=unused";
}

std::string MariadbSqlServerConnectionString() {
  return "Provider=SQLOLEDB.1;Password=" +
         QuoteConnectionValue(MariaEnv("KELVOR_MARIADB_PASSWORD")) +
         ";Persist Security Info=True;User ID=" +
         QuoteConnectionValue(MariaEnv("KELVOR_MARIADB_USER")) +
         ";Initial Catalog=" + MariaEnv("KELVOR_MARIADB_DB") +
         ";Data Source=" + MariaEnv("KELVOR_MARIADB_HOST");
}

std::string MariadbOdbcConnectionString(const std::string& User, const std::string& Password) {
  return "Provider=MSDASQL.1;Persist Security Info=False;User ID=" + QuoteConnectionValue(User) +
         ";Password=" + QuoteConnectionValue(Password) +
         ";Data Source=" + MariaEnv("KELVOR_MARIADB_DSN");
}

TSyncDataSource SqliteDataSource(const std::string& Path) {
  TSyncDataSource s;
  s.DbType = dbAccess;
  s.DbName = Path;
  return s;
}

std::string UniqueName(const std::string& Prefix) {
  static std::atomic<int> counter{0};
  return Prefix + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

void ExecOn(TDbConnection& Connection, const std::string& Sql) {
  TDbQuery q(Connection);
  q.SetSQL(Sql);
  q.ExecSQL();
}

std::string ScalarOn(TDbConnection& Connection, const std::string& Sql) {
  TDbQuery q(Connection);
  q.SetSQL(Sql);
  q.Open();
  if (q.Eof()) return "<no row>";
  return q.Field(0).AsString();
}

// ---------------------------------------------------------------------------
// TTestDatabase

std::string SideName(TDbSide Side) {
  switch (Side) {
    case TDbSide::SQLite:
      return "SQLite";
    case TDbSide::PgOdbc:
      return "PgOdbc";
    case TDbSide::PgLiteral:
      return "PgLiteral";
    case TDbSide::MariaOdbc:
      return "MariaOdbc";
    case TDbSide::MariaLiteral:
      return "MariaLiteral";
  }
  return {};
}

bool IsPostgresSide(TDbSide Side) {
  return Side == TDbSide::PgOdbc || Side == TDbSide::PgLiteral;
}

bool IsMariadbSide(TDbSide Side) {
  return Side == TDbSide::MariaOdbc || Side == TDbSide::MariaLiteral;
}

bool IsLiteralSide(TDbSide Side) {
  return Side == TDbSide::PgLiteral || Side == TDbSide::MariaLiteral;
}

TTestDatabase::TTestDatabase(TDbSide Side, const TDbTestHome& Home, const std::string& FileName)
    : FSide(Side) {
  if (Side == TDbSide::SQLite) {
    FFile = Home.Root() + FileName;
    if (!FileExists(FFile)) Home.CreateSqliteFile(FileName);
  }
  if (IsLiteralSide(Side)) Home.RouteSqlServerTo(Side);
  FConn.SetConnectionString(ConnectionString());
  FConn.Open();
  // Row sources made by a recursive query (the engine tests' Series) stop
  // at 1000 rows on MariaDB by default.
  if (IsMariadb()) Exec("set session max_recursive_iterations = 10000000");
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

std::string TTestDatabase::ConnectionString() const {
  switch (FSide) {
    case TDbSide::SQLite:
      return AccessConnectionString(FFile);
    case TDbSide::PgOdbc:
      return PostgresOdbcConnectionString();
    case TDbSide::PgLiteral:
      return PostgresSqlServerConnectionString();
    case TDbSide::MariaOdbc:
      return MariadbOdbcConnectionString();
    case TDbSide::MariaLiteral:
      return MariadbSqlServerConnectionString();
  }
  return {};
}

TSyncDataSource TTestDatabase::Settings() const {
  if (FSide == TDbSide::SQLite) return SqliteDataSource(FFile);
  TSyncDataSource s;
  if (IsMariadb()) {
    s.DbUser = MariaEnv("KELVOR_MARIADB_USER");
    s.DbPwd = MariaEnv("KELVOR_MARIADB_PASSWORD");
    if (FSide == TDbSide::MariaOdbc) {
      s.DbType = dbOdbc;
      s.DbName = MariaEnv("KELVOR_MARIADB_DSN");
    } else {  // the driver and port come from providers.ini
      s.DbType = dbSqlServer;
      s.DbName = MariaEnv("KELVOR_MARIADB_DB");
      s.DbServer = MariaEnv("KELVOR_MARIADB_HOST");
    }
    return s;
  }
  s.DbUser = PgEnv("KELVOR_PG_USER");
  s.DbPwd = PgEnv("KELVOR_PG_PASSWORD");
  if (FSide == TDbSide::PgOdbc) {
    s.DbType = dbOdbc;
    s.DbName = PgEnv("KELVOR_PG_DSN");
  } else {  // server and database come from providers.ini
    s.DbType = dbSqlServer;
    s.DbName = s.DbServer = "unused";
  }
  return s;
}

std::string TTestDatabase::CreateTable(const std::string& Columns) {
  const std::string name = UniqueName("kt_");
  std::string columns = Columns;
  if (IsPostgres()) columns = ReplaceAll(columns, "BLOB", "bytea");
  // MariaDB's TEXT and BLOB end at 64 KiB; the other databases have no such bound.
  if (IsMariadb()) columns = std::regex_replace(columns, std::regex("\\b(TEXT|BLOB)\\b"), "LONG$1");
  Exec("create table " + name + "(" + columns + ")");
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
    for (int i = 0; i < q.FieldCount(); ++i)
      row += (i > 0 ? "|" : "") + (q.Field(i).IsNull() ? "<null>" : q.Field(i).AsString());
    rows.push_back(row);
  }
  return rows;
}

std::string TTestDatabase::BlobLiteral(const std::string& Hex) const {
  return IsPostgres() ? "decode('" + Hex + "','hex')" : "x'" + Hex + "'";
}

std::string TTestDatabase::Concat(const std::string& A, const std::string& B) const {
  return IsMariadb() ? "concat(" + A + ", " + B + ")" : A + " || " + B;
}

// ---------------------------------------------------------------------------
// TInstallation

TInstallation::TInstallation(int SourceRows) : FCwd(BinFolder()) {
  for (const char* folder : {"tasks/dbtasks", "logs", "reports"})
    std::filesystem::create_directories(Root() + folder);
  WriteFileOrDie(ServerIniPath(), "[server]\r\nport=9000\r\n");
  if (SourceRows < 0) return;
  Source = CreateSqliteFile("source.db");
  Destination = CreateSqliteFile("destination.db");
  TDbConnection src, dst;
  src.SetConnectionString(AccessConnectionString(Source));
  dst.SetConnectionString(AccessConnectionString(Destination));
  src.Open();
  dst.Open();
  ExecOn(src, "create table t(id integer primary key, name varchar(20))");
  ExecOn(dst, "create table t(id integer primary key, name varchar(20))");
  ExecOn(src,
         "insert into t with recursive n(i) as (select 1 union all select i + 1 from n limit " +
             std::to_string(SourceRows) + ") select i, 'row ' || i from n");
}

TInstallation::~TInstallation() {
  StopLogService(std::chrono::milliseconds(2000));
  StopReportService(std::chrono::milliseconds(2000));
}

std::string TInstallation::ReportPath(const TDateTime& Day) const {
  return Root() + "reports/report" + FormatDayStamp(Day) + ".txt";
}

std::vector<std::string> TInstallation::LogLines(const TDateTime& Day) const {
  StopLogService(std::chrono::milliseconds(2000));
  std::vector<std::string> lines;
  ReadLines(Root() + "logs/log" + FormatDayStamp(Day) + ".txt", lines);
  return lines;
}

std::vector<std::string> TInstallation::ReportLines(const TDateTime& Day) const {
  StopReportService(std::chrono::milliseconds(2000));
  std::vector<std::string> lines;
  ReadLines(ReportPath(Day), lines);
  return lines;
}

std::shared_ptr<TKelvorInstance> TInstallation::CopyTask(const std::string& Name) const {
  auto task = std::make_shared<TKelvorInstance>();
  task->MissionName = Name;
  task->Version = "1.0";
  task->Note = "copy of " + Name;
  task->IsActive = true;
  task->Mode = modeOnce;
  task->TimePoint = "17:30";
  task->Source = SqliteDataSource(Source);
  task->Destination = SqliteDataSource(Destination);
  task->FieldMaps.DstTable = "t";
  task->FieldMaps.OperationType = opUpdateThenInsert;
  task->FieldMaps.SetCommand("select * from t");
  task->FieldMaps.SetFieldMapText("<id>:<id|integer|0|true>\r\n<name>:<name|varchar|20|false>");
  return task;
}

std::shared_ptr<TKelvorInstance> TInstallation::WatchTask(const std::string& Name) const {
  auto task = CopyTask(Name);
  task->Mode = modePlanned;
  task->ScheduleMode = scheduleDaily;
  task->TimePoint = "23:59";
  return task;
}

std::shared_ptr<TKelvorInstance> TInstallation::FailingTask(const std::string& Name) const {
  auto task = CopyTask(Name);
  task->Source.DbName = Root() + "missing.db";
  return task;
}

void TInstallation::StoreTask(TKelvorInstance& Task) const {
  Task.FileName = TaskFolder() + Task.MissionName + ".xml";
  ASSERT_TRUE(Task.WriteTaskFile(Task.FileName)) << Task.FileName;
}

void TInstallation::WriteIndex(const std::vector<std::string>& Files) const {
  std::string text = "#define all tasks....\r\n";
  for (const std::string& f : Files)
    text += f + "\r\n";
  WriteFileOrDie(IndexPath(), text);
}

std::string TInstallation::DestinationScalar(const std::string& Sql) const {
  TDbConnection dst;
  dst.SetConnectionString(AccessConnectionString(Destination));
  dst.Open();
  return ScalarOn(dst, Sql);
}

}  // namespace kelvor::test
