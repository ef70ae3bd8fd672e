#include "DbTestSupport.h"

#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "platform/Paths.h"

namespace kelvor::test {

std::string PgEnv(const char* Name) {
  const char* v = std::getenv(Name);
  return v ? v : "";
}

bool PostgresAvailable() {
  return !PgEnv("KELVOR_PG_DSN").empty();
}

std::string DefaultTestProvidersIni() {
  std::string s =
      "; written by the tests\r\n"
      "[odbc]\r\n"
      "BoolsAsChar=0\r\n";
  if (PostgresAvailable()) {
    s += "[sqlserver]\r\n"
         "Driver=PostgreSQL Unicode\r\n"
         "Server=" +
         PgEnv("KELVOR_PG_HOST") +
         "\r\n"
         "Port=" +
         PgEnv("KELVOR_PG_PORT") +
         "\r\n"
         "Database=" +
         PgEnv("KELVOR_PG_DB") +
         "\r\n"
         "BoolsAsChar=0\r\n";
  }
  return s;
}

TDbTestHome::TDbTestHome() : FOldProgramFolder(ProgramFolder()) {
  FDir.Sub("bin", true);
  FDir.Sub("conf", true);
  SetProgramFolder(BinFolder());
  WriteProvidersIni(DefaultTestProvidersIni());
}

TDbTestHome::~TDbTestHome() {
  SetProgramFolder(FOldProgramFolder);
}

void TDbTestHome::WriteProvidersIni(const std::string& Text) const {
  WriteFileOrDie(ProvidersIniPath(), Text);
}

std::string TDbTestHome::CreateSqliteFile(const std::string& Name) const {
  std::string path = FDir.Path() + Name;
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

std::string PostgresOdbcConnectionString() {
  return PostgresOdbcConnectionString(PgEnv("KELVOR_PG_USER"), PgEnv("KELVOR_PG_PASSWORD"));
}

std::string PostgresSqlServerConnectionString(const std::string& User,
                                              const std::string& Password) {
  return "Provider=SQLOLEDB.1;Password=" + QuoteConnectionValue(Password) +
         ";Persist Security Info=True;User ID=" + QuoteConnectionValue(User) +
         ";Initial Catalog=unused;Data Source=unused";
}

std::string PostgresSqlServerConnectionString() {
  return PostgresSqlServerConnectionString(PgEnv("KELVOR_PG_USER"), PgEnv("KELVOR_PG_PASSWORD"));
}

TSyncDataSource SqliteDataSource(const std::string& Path) {
  TSyncDataSource s;
  s.DbType = 2;
  s.DbName = Path;
  return s;
}

TSyncDataSource PostgresOdbcDataSource() {
  TSyncDataSource s;
  s.DbType = 3;
  s.DbName = PgEnv("KELVOR_PG_DSN");
  s.DbUser = PgEnv("KELVOR_PG_USER");
  s.DbPwd = PgEnv("KELVOR_PG_PASSWORD");
  return s;
}

TSyncDataSource PostgresSqlServerDataSource() {
  TSyncDataSource s;
  s.DbType = 1;
  s.DbName = "unused";
  s.DbServer = "unused";
  s.DbUser = PgEnv("KELVOR_PG_USER");
  s.DbPwd = PgEnv("KELVOR_PG_PASSWORD");
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

}  // namespace kelvor::test
