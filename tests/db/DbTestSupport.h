// Databases and installations for tests, reached the way Kelvor reaches them:
// through the system's own connection strings.
//
//   SQLite    an "access" string naming a file in a temporary folder
//   PgOdbc    the server of scripts/with-postgres (KELVOR_PG_* variables) as
//             the "odbc" type, through its data source
//   PgLiteral the same server as the "sqlserver" type, routed to the
//             PostgreSQL driver by the test providers.ini (the engine's
//             literal statement path)
//   MariaOdbc the server of scripts/with-mariadb (KELVOR_MARIADB_* variables)
//             as the odbc type, through its data source
//   MariaLiteral the same server as the "sqlserver" type, routed to the
//             MariaDB driver by the test providers.ini
//
// The two literal sides share the sqlserver type: a TTestDatabase of one of
// them routes its home's providers.ini to its server, so a test uses one of
// them at a time.
//
// A TDbTestHome makes a program folder <temp>/bin/ with <temp>/conf/
// providers.ini beside it and points ProgramFolder() at it for its lifetime,
// so every connection opened meanwhile reads that providers.ini. Tests that
// need PostgreSQL use SKIP_WITHOUT_POSTGRES(). Tables get names unique to the
// process, so test programs may run in parallel against one server; tests
// that need MariaDB use SKIP_WITHOUT_MARIADB(). Not
// thread-safe: set up on the test's main thread.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/DbConnection.h"
#include "db/DbError.h"
#include "db/DbQuery.h"
#include "support/TestSupport.h"
#include "tasks/uInstance.h"

namespace kelvor::test {

enum class TDbSide { SQLite, PgOdbc, PgLiteral, MariaOdbc, MariaLiteral };

class TDbTestHome {
 public:
  // Writes a providers.ini that routes [sqlserver] to the test PostgreSQL
  // (when its variables are set) and sets BoolsAsChar=0 for [odbc], so that
  // PostgreSQL booleans arrive as boolean columns (RouteSqlServerTo(PgLiteral)).
  TDbTestHome();
  ~TDbTestHome();
  TDbTestHome(const TDbTestHome&) = delete;
  TDbTestHome& operator=(const TDbTestHome&) = delete;

  const std::string& Root() const { return FDir.Path(); }  // ends with "/"
  std::string BinFolder() const { return FDir.Path() + "bin/"; }
  void WriteProvidersIni(const std::string& Text) const;
  // Writes a providers.ini that routes the sqlserver type to the server of
  // a literal side (PgLiteral or MariaLiteral), with ExtraLines (CR LF
  // ended "key=value" lines) added to that section.
  void RouteSqlServerTo(TDbSide Side, const std::string& ExtraLines = "") const;
  // Creates an empty SQLite database file Root()+Name (Kelvor never creates one).
  std::string CreateSqliteFile(const std::string& Name) const;

 private:
  TempDir FDir;
  std::string FOldProgramFolder;
};

// The system's connection string of the access type for a file.
std::string AccessConnectionString(const std::string& Path);

bool PostgresAvailable();
#define SKIP_WITHOUT_POSTGRES()                                                            \
  do {                                                                                     \
    if (!::kelvor::test::PostgresAvailable())                                              \
      GTEST_SKIP() << "KELVOR_PG_DSN is not set: run under scripts/with-postgres to test " \
                      "against PostgreSQL";                                                \
  } while (0)

std::string PgEnv(const char* Name);  // a KELVOR_PG_* variable, or ""
// The odbc type: "Provider=MSDASQL.1;...;Data Source=<KELVOR_PG_DSN>".
std::string PostgresOdbcConnectionString(const std::string& User = PgEnv("KELVOR_PG_USER"),
                                         const std::string& Password = PgEnv("KELVOR_PG_PASSWORD"));
// The sqlserver type; with TDbTestHome's providers.ini it reaches PostgreSQL.
std::string PostgresSqlServerConnectionString();

bool MariadbAvailable();
#define SKIP_WITHOUT_MARIADB()                                                                 \
  do {                                                                                         \
    if (!::kelvor::test::MariadbAvailable())                                                   \
      GTEST_SKIP() << "KELVOR_MARIADB_DSN is not set: run under scripts/with-mariadb to test " \
                      "against MariaDB";                                                       \
  } while (0)

std::string MariaEnv(const char* Name);  // a KELVOR_MARIADB_* variable, or ""
// On a connection whose server or session was killed inside a transaction:
// Sql raises with the layer's and the database's texts, the commit raises and
// ends the transaction, and Close does not raise.
void ExpectDeadConnectionFailsItsTransaction(TDbConnection& Victim, const std::string& Sql);
// "$KELVOR_MARIADB_CTL <Command>" (kill, start) on the test server; true when
// it succeeded.
bool MariaServerCtl(const std::string& Command);
// Starts the test server again when the object ends while Killed is set, also
// when the test failed midway.
struct TMariaRestartAtEnd {
  bool Killed = false;
  ~TMariaRestartAtEnd();
};
// The odbc type: "Provider=MSDASQL.1;...;Data Source=<KELVOR_MARIADB_DSN>".
std::string MariadbOdbcConnectionString(
    const std::string& User = MariaEnv("KELVOR_MARIADB_USER"),
    const std::string& Password = MariaEnv("KELVOR_MARIADB_PASSWORD"));
// The sqlserver type; with a providers.ini routed to MariaDB it reaches MariaDB.
std::string MariadbSqlServerConnectionString();
// A copy of the data source Base (from the driver manager's odbc.ini, as
// ODBCINI names it) under the name Name with Lines added, written beside the
// original into Home's folder and made the driver manager's odbc.ini for the
// scope's lifetime.
class TDataSourceScope {
 public:
  TDataSourceScope(const TDbTestHome& Home, const std::string& Base, const std::string& Name,
                   const std::string& Lines);
  ~TDataSourceScope();
  TDataSourceScope(const TDataSourceScope&) = delete;
  TDataSourceScope& operator=(const TDataSourceScope&) = delete;

 private:
  std::string FOld;
};

// A task's settings for a SQLite file (the access type, absolute path).
TSyncDataSource SqliteDataSource(const std::string& Path);

// A name no other test process uses at the same time: Prefix + pid + counter.
std::string UniqueName(const std::string& Prefix);

// Runs Sql on the connection with a fresh query (ExecSQL).
void ExecOn(TDbConnection& Connection, const std::string& Sql);
// The text of column 0 of the first row of Sql, "<no row>" without one.
std::string ScalarOn(TDbConnection& Connection, const std::string& Sql);

std::string SideName(TDbSide Side);
bool IsPostgresSide(TDbSide Side);
bool IsMariadbSide(TDbSide Side);
// The sqlserver type: the engine's literal statement path.
bool IsLiteralSide(TDbSide Side);
// Skips the test when a side's server is not running.
#define SKIP_WITHOUT_SERVER_OF(Side)                                   \
  do {                                                                 \
    if (::kelvor::test::IsPostgresSide(Side)) SKIP_WITHOUT_POSTGRES(); \
    if (::kelvor::test::IsMariadbSide(Side)) SKIP_WITHOUT_MARIADB();   \
  } while (0)

// One database as a test sees it: a task's settings for it and the test's own
// connection (opened with the side's own connection string) for setting up
// and checking. Drops what it created when destroyed.
class TTestDatabase {
 public:
  // FileName: the SQLite file in Home's root (created when missing). A
  // literal side routes Home's sqlserver type to its server.
  TTestDatabase(TDbSide Side, const TDbTestHome& Home, const std::string& FileName);
  ~TTestDatabase();

  bool IsPostgres() const { return IsPostgresSide(FSide); }
  bool IsMariadb() const { return IsMariadbSide(FSide); }
  TDbSide Side() const { return FSide; }
  std::string ConnectionString() const;
  TSyncDataSource Settings() const;
  TDbConnection& Conn() { return FConn; }

  // Creates a table with a unique name; BLOB in the column list becomes
  // bytea on PostgreSQL, TEXT and BLOB LONGTEXT and LONGBLOB on MariaDB.
  std::string CreateTable(const std::string& Columns);
  // Something else to drop at the end ("sequence x", "role y", ...).
  void DropAtEnd(const std::string& What) { FDrops.push_back(What); }
  void Exec(const std::string& Sql) { ExecOn(FConn, Sql); }
  std::string Scalar(const std::string& Sql) { return ScalarOn(FConn, Sql); }
  std::string Count(const std::string& Table) { return Scalar("select count(*) from " + Table); }
  // Every row of Sql, its values as text joined with "|", NULL as "<null>".
  std::vector<std::string> Rows(const std::string& Sql);
  // The literal of bytes given in hexadecimal.
  std::string BlobLiteral(const std::string& Hex) const;
  // SQL joining two texts: "||" is a logical or on MariaDB.
  std::string Concat(const std::string& A, const std::string& B) const;

 private:
  TDbSide FSide;
  std::string FFile;
  TDbConnection FConn;
  std::vector<std::string> FDrops;
};

// A throw-away installation, made the program folder and the current
// directory for its lifetime: bin/, tasks/dbtasks/, logs/, reports/ and
// conf/ (server.ini, providers.ini) in Root(), and unless SourceRows < 0 two
// SQLite files there: source.db whose table t(id, name) holds SourceRows rows
// "row <id>", and destination.db with t empty. Destroyed, it first lets the
// log and report writers write what is queued.
class TInstallation : public TDbTestHome {
 public:
  explicit TInstallation(int SourceRows = 3);
  ~TInstallation();

  // As the programs name it: beside the program folder.
  std::string TaskFolder() const { return BinFolder() + "../tasks/dbtasks/"; }
  std::string IndexPath() const { return TaskFolder() + "tasks.ini"; }
  std::string ServerIniPath() const { return Root() + "conf/server.ini"; }
  std::string ReportPath(const TDateTime& Day) const;
  // The lines of a day's log or report file, once its writer has drained.
  std::vector<std::string> LogLines(const TDateTime& Day) const;
  std::vector<std::string> ReportLines(const TDateTime& Day) const;

  // An active run-once copy of t from source.db to destination.db.
  std::shared_ptr<TKelvorInstance> CopyTask(const std::string& Name) const;
  // The copy as a daily task due at 23:59, which a pinned earlier clock only watches.
  std::shared_ptr<TKelvorInstance> WatchTask(const std::string& Name) const;
  // The copy from a source file that does not exist: every connect fails.
  std::shared_ptr<TKelvorInstance> FailingTask(const std::string& Name) const;
  // Writes the task's file into the task folder (and sets its FileName).
  void StoreTask(TKelvorInstance& Task) const;
  // tasks.ini listing the given file names.
  void WriteIndex(const std::vector<std::string>& Files) const;
  std::string DestinationScalar(const std::string& Sql) const;

  std::string Source;
  std::string Destination;

 private:
  CurrentDirectoryScope FCwd;
};

}  // namespace kelvor::test

// Fails the test with the database's message when Statement raises TDbError.
#define ASSERT_DB_OK(Statement)                                  \
  do {                                                           \
    try {                                                        \
      Statement;                                                 \
    } catch (const ::kelvor::TDbError& e_) {                     \
      FAIL() << #Statement << " raised TDbError: " << e_.what(); \
    }                                                            \
  } while (0)
