// The shared cases on SQLite files, and what only SQLite has: declared column
// types, numbers and dates stored as numbers, missing and foreign files.
#include <sqlite3.h>

#include <array>
#include <filesystem>
#include <span>

#include "DbBackendHarness.h"
#include "platform/Paths.h"

namespace kelvor::test {

INSTANTIATE_TEST_SUITE_P(Sqlite, DbBackendTest, ::testing::Values(TDbSide::SQLite), TestDbName);

namespace {

class SqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    File = Home.CreateSqliteFile("s.db");
    Conn.SetConnectionString(AccessConnectionString(File));
    ASSERT_DB_OK(Conn.Open());
  }
  TDbTestHome Home;
  std::string File;
  TDbConnection Conn;
};

TEST_F(SqliteTest, DeclaredTypesGiveFieldTypesAndSizes) {
  ExecOn(Conn,
         "create table t(a BOOLEAN, b UNSIGNED BIGINT, c MEDIUMINT, d DATETIME, e TIMESTAMP, "
         "f DATE, g TIME, h NVARCHAR(40), i CLOB, j TEXT, k BLOB, l FLOAT, m DOUBLE, n REAL, "
         "o NUMERIC(10, 3), p DECIMAL(5), q, r VARYING_THING, s CHARACTER(20))");
  ExecOn(Conn, "insert into t(a) values(1)");
  TDbQuery q(Conn);
  q.SetSQL("select t.*, 1 + 1 as expr, 'x' || 'y' as txt from t");
  ASSERT_DB_OK(q.Open());
  const std::vector<std::pair<TFieldType, uint32_t>> want = {
      {ftBoolean, 0}, {ftLargeint, 0}, {ftInteger, 0}, {ftDateTime, 0}, {ftDateTime, 0},
      {ftDate, 0},    {ftTime, 0},     {ftString, 40}, {ftString, 0},   {ftString, 0},
      {ftBlob, 0},    {ftFloat, 0},    {ftFloat, 0},   {ftFloat, 0},    {ftBCD, 10},
      {ftBCD, 5},     {ftString, 0},   {ftString, 0},  {ftString, 20},  {ftString, 0},
      {ftString, 0}};
  ASSERT_EQ(q.FieldCount(), static_cast<int>(want.size()));
  for (int i = 0; i < q.FieldCount(); ++i) {
    EXPECT_EQ(FieldTypeName(q.Field(i).DataType()), FieldTypeName(want[i].first))
        << q.Field(i).FieldName();
    EXPECT_EQ(q.Field(i).Size(), want[i].second) << q.Field(i).FieldName();
  }
  EXPECT_EQ(q.FieldByName("expr").AsString(), "2");
  EXPECT_EQ(q.FieldByName("txt").AsString(), "xy");
}

TEST_F(SqliteTest, StoredValuesAreShownInTheLayersTextForms) {
  ExecOn(Conn,
         "create table t(id INT, n NUMERIC(10,3), r REAL, d DATETIME, dd DATE, tt TIME, "
         "f BOOLEAN, i INT)");
  // Numbers in date columns follow SQLite's date functions: integers are
  // seconds since 1970, reals Julian days.
  ExecOn(Conn,
         "insert into t values(1, 2.5, 0.30000000000000004, 1714558830, 2460431.5, "
         "'07:08:09.123', 'true', 12.5)");
  ExecOn(Conn,
         "insert into t values(2, 'n/a', 100.0, "
         "'2024-05-01T10:20:30', '2024-05-01 23:59:59', 45296, 0, 'abc')");
  ExecOn(Conn, "insert into t values(3, -3, 1e-5, 'not a date', '', '', 'maybe', -0)");
  TDbQuery q(Conn);
  q.SetSQL("select n, r, d, dd, tt, f, i from t order by id");
  ASSERT_DB_OK(q.Open());
  auto row = [&]() {
    std::string s;
    for (int i = 0; i < q.FieldCount(); ++i)
      s += q.Field(i).AsString() + "|";
    return s;
  };
  EXPECT_EQ(row(), "2.500|0.30000000000000004|2024-05-01 10:20:30|2024-05-01|07:08:09|True|12.5|");
  q.Next();
  EXPECT_EQ(row(), "n/a|100|2024-05-01 10:20:30|2024-05-01|12:34:56|False|abc|");
  q.Next();
  EXPECT_EQ(row(), "-3.000|1e-05|not a date|||maybe|0|");
}

// A date text already in the layer's own form is handed on as it is, both
// ways; texts that only look like it (same length, other separators, blanks,
// a zone) are still read and written anew.
TEST_F(SqliteTest, DateTextsInTheLayersOwnFormPassUnchangedAndOthersAreWrittenAnew) {
  ExecOn(Conn, "create table t(id INT, d DATETIME, dd DATE, tt TIME)");
  struct TCase {
    const char* Text;  // stored in, or bound to, each of the three columns
    const char* DateTime;
    const char* Date;
    const char* Time;
  };
  const TCase cases[] = {
      {"2024-05-01 10:20:30", "2024-05-01 10:20:30", "2024-05-01", "10:20:30"},
      {"2024-05-01", "2024-05-01 00:00:00", "2024-05-01", "00:00:00"},
      {"10:20:30", "1899-12-30 10:20:30", "1899-12-30", "10:20:30"},
      {"0000-01-01 00:00:00", "0000-01-01 00:00:00", "0000-01-01", "00:00:00"},
      // Nineteen characters, but not the form: blanks, "T", a zone.
      {"2024-05-01 10:20   ", "2024-05-01 10:20:00", "2024-05-01", "10:20:00"},
      {"2024-05-01T10:20:30", "2024-05-01 10:20:30", "2024-05-01", "10:20:30"},
      {"2024-05-01 10:20Z  ", "2024-05-01 10:20:00", "2024-05-01", "10:20:00"},
      {" 2024-05-01 10:20Z ", "2024-05-01 10:20:00", "2024-05-01", "10:20:00"},
      // Ten and eight characters that are no plain date or time.
      {"10:20:30.5", "1899-12-30 10:20:30", "1899-12-30", "10:20:30"},
      {"10:20+01:00", "1899-12-30 09:20:00", "1899-12-30", "09:20:00"},
      // The form, but no date: shown unchanged.
      {"2024-02-30 10:20:30", "2024-02-30 10:20:30", "2024-02-30 10:20:30", "2024-02-30 10:20:30"},
      {"2024-05-01 24:00:00", "2024-05-01 24:00:00", "2024-05-01 24:00:00", "2024-05-01 24:00:00"},
  };
  // One row: Text bound to each date column with the type given for it.
  const auto insert = [&](const std::string& Table, int Id, std::array<TFieldType, 3> Types,
                          const char* Text) {
    TDbQuery q(Conn);
    q.SetSQL("insert into " + Table + " values(:id, :d, :dd, :tt)");
    q.Param(0).SetDataType(ftInteger);
    q.Param(0).SetValue(std::to_string(Id));
    for (int i = 1; i <= 3; ++i) {
      q.Param(i).SetDataType(Types[static_cast<size_t>(i - 1)]);
      q.Param(i).SetValue(Text);
    }
    ASSERT_DB_OK(q.ExecSQL());
  };
  // The rows of Sql, one per case, hold what the case expects.
  const auto expectRows = [&](const std::string& Sql, std::span<const TCase> Cases) {
    TDbQuery q(Conn);
    q.SetSQL(Sql);
    ASSERT_DB_OK(q.Open());
    for (const TCase& c : Cases) {
      SCOPED_TRACE(std::string("'") + c.Text + "'");
      ASSERT_FALSE(q.Eof());
      EXPECT_EQ(q.Field(0).AsString(), c.DateTime);
      EXPECT_EQ(q.Field(1).AsString(), c.Date);
      EXPECT_EQ(q.Field(2).AsString(), c.Time);
      q.Next();
    }
  };
  int id = 0;
  for (const TCase& c : cases)  // stored exactly as given
    insert("t", ++id, {ftString, ftString, ftString}, c.Text);
  expectRows("select d, dd, tt from t order by id", cases);

  // Bound as dates and times, texts are stored in the form of their type.
  ExecOn(Conn, "create table b(id INT, d DATETIME, dd DATE, tt TIME)");
  const TCase bound[] = {
      {"2024-05-01 10:20:30", "2024-05-01 10:20:30", "2024-05-01", "10:20:30"},
      {"2024-05-01T10:20:30", "2024-05-01 10:20:30", "2024-05-01", "10:20:30"},
      {" 2024-05-01 10:20:30", "2024-05-01 10:20:30", "2024-05-01", "10:20:30"},
      {"2024-05-01 10:20:30.250", "2024-05-01 10:20:30", "2024-05-01", "10:20:30"},
      {"2024-05-01", "2024-05-01 00:00:00", "2024-05-01", "00:00:00"},
      {"10:20:30", "1899-12-30 10:20:30", "1899-12-30", "10:20:30"},
  };
  id = 0;
  for (const TCase& b : bound)
    insert("b", ++id, {ftDateTime, ftDate, ftTime}, b.Text);
  expectRows("select cast(d as text), cast(dd as text), cast(tt as text) from b order by id",
             bound);
}

TEST_F(SqliteTest, SeveralStatementsInOneTextAllRun) {
  TDbQuery q(Conn);
  q.SetSQL("create table a(x INT); insert into a values(1); insert into a values(2);\n-- done\n");
  ASSERT_DB_OK(q.ExecSQL());
  EXPECT_EQ(q.RowsAffected(), 2);
  EXPECT_EQ(ScalarOn(Conn, "select count(*) from a"), "2");
  q.SetSQL("insert into a values(:x); insert into a values(:y)");
  q.Param(0).SetDataType(ftInteger);
  q.Param(0).SetValue("3");
  q.Param(1).SetDataType(ftInteger);
  q.Param(1).SetValue("4");
  ASSERT_DB_OK(q.ExecSQL());
  EXPECT_EQ(ScalarOn(Conn, "select group_concat(x) from a"), "1,2,3,4");
  q.SetSQL("   ");
  ASSERT_DB_OK(q.ExecSQL());  // an empty text does nothing
}

TEST_F(SqliteTest, AQuestionMarkWithoutParameterCheckIsAnErrorNotANull) {
  ExecOn(Conn, "create table a(x INT)");
  TDbQuery q(Conn);
  q.SetParamCheck(false);
  q.SetSQL("insert into a values(:x)");
  EXPECT_THROW(q.ExecSQL(), TDbError);
  EXPECT_EQ(ScalarOn(Conn, "select count(*) from a"), "0");
}

TEST_F(SqliteTest, MissingOrForeignFilesAreReportedAndNeverCreated) {
  const std::string missing = Home.Root() + "missing/nothing.db";
  const std::string notes = Home.Root() + "notes.txt";
  WriteFileOrDie(notes, std::string(4096, 'x'));
  for (auto [path, message] : {std::pair{missing, "does not exist"}, {notes, "not a database"}}) {
    TDbConnection c;
    c.SetConnectionString(AccessConnectionString(path));
    try {
      c.Open();
      ADD_FAILURE() << "opened " << path;
    } catch (const TDbError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
    EXPECT_FALSE(c.Connected());
  }
  EXPECT_FALSE(std::filesystem::exists(missing));

  // Backslashes in the file name are folder separators.
  TDbConnection c;
  c.SetConnectionString(AccessConnectionString(Home.Root() + "bin\\..\\s.db"));
  ASSERT_DB_OK(c.Open());
  EXPECT_EQ(c.Route().FilePath, Home.Root() + "bin/../s.db");
}

// A statement can end the transaction the layer began without failing: the
// statements after it would each commit on their own.
TEST_F(SqliteTest, TransactionEndedByTheDatabaseSendsNothingMoreAndCommitsNothing) {
  ExecOn(Conn, "create table t(id INT)");
  for (auto [ender, kept] :
       {std::pair{"commit", "1"}, {"end transaction", "1"}, {"rollback", "0"}}) {
    SCOPED_TRACE(ender);
    ExecOn(Conn, "delete from t");
    ASSERT_DB_OK(Conn.BeginTrans());
    ExecOn(Conn, "insert into t values(1)");
    ASSERT_DB_OK(ExecOn(Conn, ender));
    try {
      ExecOn(Conn, "insert into t values(2)");
      ADD_FAILURE() << "sent after the transaction ended";
    } catch (const TDbError& e) {
      EXPECT_NE(std::string(e.what()).find("the database ended the transaction"), std::string::npos)
          << e.what();
    }
    try {
      Conn.CommitTrans();
      ADD_FAILURE() << "committed a transaction that had ended";
    } catch (const TDbError& e) {
      EXPECT_NE(std::string(e.what()).find("the database ended the transaction"), std::string::npos)
          << e.what();
    }
    EXPECT_FALSE(Conn.InTransaction());
    EXPECT_EQ(ScalarOn(Conn, "select count(*) from t"), kept);
  }
}

TEST_F(SqliteTest, ClosingTheConnectionEndsResultsOfItsQueries) {
  TDbConnection& c = Conn;
  TDbQuery q(c);
  q.SetPrepared(true);
  q.SetSQL("select 1 union all select 2");
  ASSERT_DB_OK(q.Open());
  c.Close();
  EXPECT_FALSE(q.Active());
  EXPECT_THROW(q.Open(), TDbError) << "the connection is closed";
  ASSERT_DB_OK(c.Open());
  ASSERT_DB_OK(q.Open());  // reopening gives the query a fresh statement
  EXPECT_EQ(q.Field(0).AsString(), "1");
}

}  // namespace
}  // namespace kelvor::test
