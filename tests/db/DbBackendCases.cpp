// Value, type, parameter, statement and transaction behaviour that must be the
// same on every backend. Instantiated by SqliteDbTests.cpp, PostgresDbTests.cpp
// and MariadbDbTests.cpp.
#include <string>
#include <vector>

#include "DbBackendHarness.h"

namespace kelvor::test {
namespace {

const char* const kChinese = "中文测试：数据同步，保持一致";

struct TExpect {
  const char* Column;
  TFieldType SqliteType;
  TFieldType OdbcType;              // PostgreSQL and MariaDB
  std::vector<std::string> Values;  // per row; "<null>" for a null
};

}  // namespace

TEST_P(DbBackendTest, ReadsTypesSizesTextsAndNulls) {
  std::string t = NewTable(
      "id INT, i INT, b BIGINT, n NUMERIC(12,2), r REAL, d DOUBLE PRECISION, v VARCHAR(32), "
      "t TEXT, f BOOLEAN, dt DATE, tm TIME, ts TIMESTAMP, y BLOB");
  ASSERT_DB_OK(Exec("insert into " + t +
                    " values(1, 42, 9007199254740993, 12345678.90, 1.5, 0.1, '" + kChinese +
                    "', 'it''s', true, '2024-05-01', '10:20:30.5', '2024-05-01 10:20:30.789', " +
                    Db->BlobLiteral("00ff41") + ")"));
  ASSERT_DB_OK(Exec("insert into " + t +
                    " values(2, -7, -1, 5, -2.25, 1e20, '', '', false, '1999-12-31', '23:59:59', "
                    "'2000-02-29 00:00:00', " +
                    Db->BlobLiteral("") + ")"));
  ASSERT_DB_OK(Exec("insert into " + t + "(id) values(3)"));

  // MariaDB has no boolean type: BOOLEAN is a TINYINT(1) holding 1 or 0.
  const TExpect flag = IsMariadb()
                           ? TExpect{"f", ftBoolean, ftSmallint, {"1", "0", "<null>"}}
                           : TExpect{"f", ftBoolean, ftBoolean, {"True", "False", "<null>"}};
  const std::vector<TExpect> expected = {
      {"i", ftInteger, ftInteger, {"42", "-7", "<null>"}},
      {"b", ftLargeint, ftLargeint, {"9007199254740993", "-1", "<null>"}},
      {"n", ftBCD, ftBCD, {"12345678.90", "5.00", "<null>"}},
      {"r", ftFloat, ftFloat, {"1.5", "-2.25", "<null>"}},
      {"d", ftFloat, ftFloat, {"0.1", "1e+20", "<null>"}},
      {"v", ftString, ftString, {kChinese, "", "<null>"}},
      {"t", ftString, ftMemo, {"it's", "", "<null>"}},
      flag,
      {"dt", ftDate, ftDate, {"2024-05-01", "1999-12-31", "<null>"}},
      {"tm", ftTime, ftTime, {"10:20:30", "23:59:59", "<null>"}},
      {"ts", ftDateTime, ftDateTime, {"2024-05-01 10:20:30", "2000-02-29 00:00:00", "<null>"}},
      {"y", ftBlob, ftBlob, {std::string("\x00\xff\x41", 3), "", "<null>"}},
  };

  TDbQuery q(Conn());
  q.SetSQL("select i, b, n, r, d, v, t, f, dt, tm, ts, y from " + t + " order by id");
  ASSERT_DB_OK(q.Open());
  ASSERT_EQ(q.FieldCount(), static_cast<int>(expected.size()));
  for (size_t c = 0; c < expected.size(); ++c) {
    const TDbField& f = q.Field(static_cast<int>(c));
    EXPECT_EQ(f.FieldName(), expected[c].Column);
    EXPECT_EQ(FieldTypeName(f.DataType()),
              FieldTypeName(IsSqlite() ? expected[c].SqliteType : expected[c].OdbcType))
        << "column " << expected[c].Column;
  }
  EXPECT_EQ(q.FieldByName("v").Size(), 32u);
  EXPECT_EQ(q.FieldByName("n").Size(), 12u);
  for (int row = 0; row < 3; ++row) {
    ASSERT_FALSE(q.Eof()) << "row " << row;
    for (size_t c = 0; c < expected.size(); ++c) {
      const TDbField& f = q.Field(static_cast<int>(c));
      const std::string& want = expected[c].Values[static_cast<size_t>(row)];
      if (want == "<null>") {
        EXPECT_TRUE(f.IsNull()) << "row " << row << " column " << f.FieldName();
        EXPECT_EQ(f.AsString(), "") << "row " << row << " column " << f.FieldName();
      } else {
        EXPECT_FALSE(f.IsNull()) << "row " << row << " column " << f.FieldName();
        EXPECT_EQ(f.AsString(), want) << "row " << row << " column " << f.FieldName();
      }
    }
    ASSERT_DB_OK(q.Next());
  }
  EXPECT_TRUE(q.Eof());
  std::vector<uint8_t> bytes{9, 9};
  q.FieldByName("y").SaveToBytes(bytes);
  EXPECT_TRUE(bytes.empty()) << "at Eof every field is null";
}

TEST_P(DbBackendTest, LongValuesAndChineseTextRoundTripByteForByte) {
  std::string t = NewTable("id INT, t TEXT, y BLOB");
  std::string text;
  for (int i = 0; i < 20000; ++i)
    text += (i % 3 == 0) ? kChinese : "abc;'\"";
  std::string blob;
  for (int i = 0; i < 300000; ++i)
    blob += static_cast<char>((i * 7) & 0xff);

  TDbQuery ins(Conn());
  ins.SetPrepared(true);
  ins.SetSQL("insert into " + t + "(id, t, y) values(:id, :t, :y)");
  ins.ParamByName("id").SetDataType(ftInteger);
  ins.ParamByName("id").SetValue("1");
  ins.ParamByName("t").SetDataType(ftMemo);
  ins.ParamByName("t").SetValue(text);
  ins.ParamByName("y").LoadFromBytes(blob.data(), blob.size(), ftBlob);
  ASSERT_DB_OK(ins.ExecSQL());

  TDbQuery q(Conn());
  q.SetSQL("select t, y, id from " + t);
  ASSERT_DB_OK(q.Open());
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.Field(0).AsString().size(), text.size());
  EXPECT_TRUE(q.Field(0).AsString() == text) << "long text differs";
  EXPECT_TRUE(q.Field(1).AsBytes() == blob) << "long binary value differs";
  EXPECT_EQ(q.Field(2).AsString(), "1") << "a column after long ones is read too";
  EXPECT_EQ(Scalar("select count(*) from " + t + " where t like '%" + kChinese + "%'"), "1")
      << "the server stored the Chinese text as such";
}

TEST_P(DbBackendTest, ResultsAreForwardOnlyAndFieldsAreFoundByName) {
  std::string t = NewTable("id INT, Name VARCHAR(10)");
  Exec("insert into " + t + " values(1, 'a')");
  Exec("insert into " + t + " values(2, 'b')");
  TDbQuery q(Conn());
  q.SetSQL("select id, Name from " + t + " where 1 = 0");
  ASSERT_DB_OK(q.Open());
  EXPECT_TRUE(q.Eof());
  EXPECT_EQ(q.FieldCount(), 2);
  EXPECT_EQ(q.FindField("NAME"), &q.Field(1));
  EXPECT_EQ(q.FindField("missing"), nullptr);
  EXPECT_THROW(q.FieldByName("missing"), TDbError);

  q.SetSQL("select id from " + t + " order by id");
  ASSERT_DB_OK(q.Open());
  ASSERT_DB_OK(q.Next());
  ASSERT_DB_OK(q.Next());
  EXPECT_TRUE(q.Eof());
  ASSERT_DB_OK(q.First());
  EXPECT_EQ(q.Field(0).AsString(), "1") << "First runs a forward-only result again";
  q.Close();
  EXPECT_THROW(q.Next(), TDbError) << "a closed query has no rows to move through";
  q.SetSQL("update " + t + " set id = 1");
  EXPECT_THROW(q.Open(), TDbError) << "a statement without a result set cannot be opened";
  EXPECT_FALSE(q.Active());
}

TEST_P(DbBackendTest, RowsAffectedCountsRowsMatchedByTheLastExecution) {
  EXPECT_EQ(Conn().DbmsName(), IsSqlite() ? "SQLite" : IsMariadb() ? "MariaDB" : "PostgreSQL");
  std::string t = NewTable("id INT, v INT");
  Exec("insert into " + t + " values(1, 0)");
  Exec("insert into " + t + " values(2, 0)");
  Exec("insert into " + t + " values(3, 5)");
  TDbQuery q(Conn());
  q.SetSQL("update " + t + " set v = 9 where v = 0");
  ASSERT_DB_OK(q.ExecSQL());
  EXPECT_EQ(q.RowsAffected(), 2);
  q.SetSQL("update " + t + " set v = 9 where v = 9");
  ASSERT_DB_OK(q.ExecSQL());
  EXPECT_EQ(q.RowsAffected(), 2) << "rows the UPDATE leaves as they were count too";
  q.SetSQL("update " + t + " set v = 1 where id = 12345");
  ASSERT_DB_OK(q.ExecSQL());
  EXPECT_EQ(q.RowsAffected(), 0) << "an UPDATE matching no row";
  q.SetSQL("create table " + t + "_x (a INT)");
  Db->DropAtEnd("table " + t + "_x");
  ASSERT_DB_OK(q.ExecSQL());
  EXPECT_EQ(q.RowsAffected(), 0) << "a statement that changes no rows";
  q.SetSQL("delete from " + t);
  ASSERT_DB_OK(q.ExecSQL());
  EXPECT_EQ(q.RowsAffected(), 3);
}

TEST_P(DbBackendTest, ParametersAreBoundByTheirDataType) {
  std::string t = NewTable(
      "id INT, i INT, b BIGINT, n NUMERIC(12,2), d DOUBLE PRECISION, ts TIMESTAMP, dt DATE, "
      "tm TIME, f BOOLEAN, y BLOB, v VARCHAR(32)");
  TDbQuery q(Conn());
  q.SetPrepared(true);
  using TRow = std::vector<std::pair<TFieldType, const char*>>;  // nullptr: no value
  // clang-format off
  const TRow rows[] = {
      {{ftInteger, "1"}, {ftInteger, " 42 "}, {ftLargeint, "9007199254740993"},
       {ftBCD, "12345678.90"}, {ftFloat, "0.1"}, {ftDateTime, "2024-05-01 10:20:30"},
       {ftDate, "2024-05-02"}, {ftTime, "10:20:30"}, {ftBoolean, "True"}, {ftBlob, nullptr},
       {ftString, kChinese}},
      // No value, and empty texts for typed parameters: NULL.
      {{ftInteger, "2"}, {ftInteger, ""}, {ftLargeint, nullptr}, {ftBCD, ""}, {ftFloat, nullptr},
       {ftDateTime, ""}, {ftDate, nullptr}, {ftTime, ""}, {ftBoolean, nullptr}, {ftBlob, ""},
       {ftString, nullptr}},
      {{ftSmallint, "3"}, {ftWord, "-5"}, {ftAutoInc, "+7"}, {ftFMTBcd, "-0.5"},
       {ftCurrency, "2.25"}, {ftTimeStamp, "2024-05-01T01:02:03.999"},
       {ftDate, "2024-05-03 00:00:00"}, {ftTime, "1899-12-30 23:00:01"}, {ftBoolean, "0"},
       {ftVarBytes, "xyz"}, {ftString, ""}},
  };
  // clang-format on
  for (const TRow& row : rows) {
    q.SetSQL("insert into " + t +
             "(id, i, b, n, d, ts, dt, tm, f, y, v) values(:id, :i, :b, :n, "
             ":d, :ts, :dt, :tm, :f, :y, :v)");
    ASSERT_EQ(q.ParamCount(), 11);
    for (int i = 0; i < 11; ++i) {
      q.Param(i).SetDataType(row[static_cast<size_t>(i)].first);
      if (row[static_cast<size_t>(i)].second)
        q.Param(i).SetValue(row[static_cast<size_t>(i)].second);
    }
    if (&row == &rows[0]) q.ParamByName("y").LoadFromBytes("\x00\x01\xfe", 3, ftBlob);
    ASSERT_DB_OK(q.ExecSQL());
    EXPECT_EQ(q.RowsAffected(), 1);
  }
  using namespace std::string_literals;
  const std::string yes = IsMariadb() ? "1" : "True", no = IsMariadb() ? "0" : "False";
  EXPECT_EQ(Db->Rows("select i, b, n, d, ts, dt, tm, f, y, v from " + t + " order by id"),
            (std::vector<std::string>{
                "42|9007199254740993|12345678.90|0.1|2024-05-01 10:20:30|2024-05-02|10:20:30|" +
                    yes + "|\x00\x01\xfe|"s + kChinese,
                "<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>",
                "-5|7|-0.50|2.25|2024-05-01 01:02:03|2024-05-03|23:00:01|" + no + "|xyz|"}));
}

TEST_P(DbBackendTest, PreparedStatementIsReusedWhileTheTextIsUnchanged) {
  std::string a = NewTable("id INT, v VARCHAR(20)");
  std::string b = NewTable("id INT, v VARCHAR(20)");
  TDbQuery q(Conn());
  q.SetPrepared(true);
  const std::string insA = "insert into " + a + "(id, v) values(:id, :v)";
  const std::string insB = "insert into " + b + "(v, id) values(:v, :id)";
  ASSERT_DB_OK(Conn().BeginTrans());
  for (int i = 1; i <= 300; ++i) {
    // Alternating texts, as the engine's update-then-insert does.
    q.SetSQL(i % 3 == 0 ? insB : insA);
    q.ParamByName("id").SetDataType(ftInteger);
    q.ParamByName("id").SetValue(std::to_string(i));
    q.ParamByName("v").SetDataType(ftString);
    if (i % 2 == 0) q.ParamByName("v").SetValue("v" + std::to_string(i));
    ASSERT_DB_OK(q.ExecSQL());
  }
  ASSERT_DB_OK(Conn().CommitTrans());
  EXPECT_EQ(CountOn(Conn(), a), "200");
  EXPECT_EQ(CountOn(Conn(), b), "100");
  EXPECT_EQ(Scalar("select sum(id) from " + a), std::to_string(45150 - 15150));
  // A value set for one record never leaks into the next: unset is NULL.
  EXPECT_EQ(Scalar("select count(*) from " + a + " where v is null"), "100");
  EXPECT_EQ(
      Scalar("select count(*) from " + b + " where v = " +
             Db->Concat("'v'", IsMariadb() ? "cast(id as char(10))" : "cast(id as varchar(10))")),
      "50");

  // Unprepared statements run too and do not disturb the kept ones.
  q.SetPrepared(false);
  q.SetSQL("update " + a + " set v = 'x' where id = 1");
  ASSERT_DB_OK(q.ExecSQL());
  EXPECT_EQ(q.RowsAffected(), 1);
  q.SetPrepared(true);
  q.SetSQL(insA);
  q.Param(0).SetDataType(ftInteger);
  q.Param(0).SetValue("1000");
  ASSERT_DB_OK(q.ExecSQL());
  EXPECT_EQ(CountOn(Conn(), a), "201");
}

TEST_P(DbBackendTest, PlaceholdersBecomeParametersOnlyWithTheParameterCheck) {
  std::string t = NewTable("id INT, note VARCHAR(40)");
  TDbQuery q(Conn());
  q.SetSQL("insert into " + t + "(id, note) values(:id, ':not_a_param -- /* x */')");
  ASSERT_EQ(q.ParamCount(), 1);
  q.Param(0).SetDataType(ftInteger);
  q.Param(0).SetValue("7");
  ASSERT_DB_OK(q.ExecSQL());
  EXPECT_EQ(Scalar("select note from " + t + " where id = 7"), ":not_a_param -- /* x */");

  q.SetParamCheck(false);
  EXPECT_EQ(q.ParamCount(), 0);
  q.SetSQL("select ':x' from " + t);
  ASSERT_DB_OK(q.Open());
  EXPECT_EQ(q.Field(0).AsString(), ":x");
}

TEST_P(DbBackendTest, CommittedChangesAreSeenByOthersOnlyAfterCommit) {
  std::string t = NewTable("id INT");
  TDbConnection other;
  ASSERT_DB_OK(OpenSecond(other));

  ASSERT_DB_OK(Conn().BeginTrans());
  EXPECT_TRUE(Conn().InTransaction());
  EXPECT_THROW(Conn().BeginTrans(), TDbError) << "one transaction per connection";
  Exec("insert into " + t + " values(1)");
  Exec("insert into " + t + " values(2)");
  EXPECT_EQ(CountOn(Conn(), t), "2");
  EXPECT_EQ(CountOn(other, t), "0");
  ASSERT_DB_OK(Conn().CommitTrans());
  EXPECT_FALSE(Conn().InTransaction());
  EXPECT_EQ(CountOn(other, t), "2");

  ASSERT_DB_OK(Conn().BeginTrans());
  Exec("delete from " + t);
  ASSERT_DB_OK(Conn().RollbackTrans());
  EXPECT_FALSE(Conn().InTransaction());
  EXPECT_EQ(CountOn(other, t), "2");
  EXPECT_EQ(CountOn(Conn(), t), "2");
  EXPECT_NO_THROW(Conn().RollbackTrans()) << "nothing to roll back";
  EXPECT_THROW(Conn().CommitTrans(), TDbError) << "nothing to commit";

  // Closing with a transaction open rolls it back.
  ASSERT_DB_OK(Conn().BeginTrans());
  Exec("delete from " + t);
  Conn().Close();
  EXPECT_FALSE(Conn().InTransaction());
  EXPECT_EQ(Conn().DbmsName(), "");
  EXPECT_EQ(CountOn(other, t), "2");
}

TEST_P(DbBackendTest, FailedStatementEndsTheTransactionAndMakesCommitRollBackAndRaise) {
  std::string t = NewTable("id INT PRIMARY KEY");
  TDbConnection other;
  ASSERT_DB_OK(OpenSecond(other));
  ASSERT_DB_OK(Conn().BeginTrans());
  Exec("insert into " + t + " values(1)");
  EXPECT_THROW(Exec("insert into " + t + " values(1)"), TDbError) << "duplicate key";
  // The driver might go on (psqlodbc does), and the database might have
  // ended the transaction (SQLite does after some errors): nothing more is
  // sent in it.
  try {
    Exec("insert into " + t + " values(2)");
    ADD_FAILURE() << "a statement was sent after a failed one";
  } catch (const TDbError& e) {
    EXPECT_EQ(e.DriverText(), "Statement not sent");
  }
  EXPECT_TRUE(Conn().InTransaction());
  try {
    Conn().CommitTrans();
    FAIL() << "committed a transaction in which a statement failed";
  } catch (const TDbError& e) {
    EXPECT_NE(std::string(e.what()).find("rolled back"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(Conn().InTransaction());
  EXPECT_EQ(CountOn(other, t), "0");
  EXPECT_EQ(CountOn(Conn(), t), "0");

  // The next transaction starts clean.
  ASSERT_DB_OK(Conn().BeginTrans());
  Exec("insert into " + t + " values(3)");
  ASSERT_DB_OK(Conn().CommitTrans());
  EXPECT_EQ(CountOn(other, t), "1");
}

TEST_P(DbBackendTest, StatementErrorsAreReadable) {
  TDbQuery q(Conn());
  q.SetSQL("select * from no_such_table_kelvor");
  try {
    q.Open();
    FAIL() << "opened a missing table";
  } catch (const TDbError& e) {
    EXPECT_FALSE(e.DriverText().empty());
    EXPECT_NE(e.DatabaseText().find("no_such_table_kelvor"), std::string::npos) << e.what();
    if (!IsSqlite()) {
      EXPECT_EQ(e.SqlState(), IsMariadb() ? "42S02" : "42P01") << e.what();
    }
  }
  EXPECT_FALSE(q.Active());
  q.SetSQL("select 1");
  ASSERT_DB_OK(q.Open());  // the query is usable after an error
  EXPECT_EQ(q.Field(0).AsString(), "1");
}

}  // namespace kelvor::test
