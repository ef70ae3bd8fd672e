// Many rows per round trip and savepoints, on every backend: whatever form a
// batch of rows travels in, the table ends up as the one-row INSERT run row
// by row leaves it, and a savepoint undoes a batch the database refused.
// Instantiated with DbBackendCases.cpp by the SQLite, PostgreSQL and MariaDB
// test programs.
#include <algorithm>
#include <string>
#include <vector>

#include "DbBackendHarness.h"
#include "db/DbInsertBatch.h"

namespace kelvor::test {
namespace {

using TForm = TDbInsertBatch::TForm;

constexpr const char* kColumns =
    "id INT PRIMARY KEY, i INT, b BIGINT, n NUMERIC(12,2), d DOUBLE PRECISION, ts TIMESTAMP, "
    "dt DATE, tm TIME, f BOOLEAN, y BLOB, v VARCHAR(40), t TEXT";
constexpr const char* kHead = "(id,i,b,n,d,ts,dt,tm,f,y,v,t)values";
constexpr const char* kGroup = "(:id,:i,:b,:n,:d,:ts,:dt,:tm,:f,:y,:v,:t)";

// Row Id's values, in the columns' order; a few rows hold the values that
// make a batch declare a column differently from its other rows.
void FillRow(TDbParam* P, int Id) {
  const std::string id = std::to_string(Id);
  const TFieldType types[] = {ftInteger, ftInteger, ftLargeint, ftBCD,  ftFloat,  ftDateTime,
                              ftDate,    ftTime,    ftBoolean,  ftBlob, ftString, ftMemo};
  for (int c = 0; c < 12; ++c) {
    P[c].SetDataType(types[c]);
    P[c].SetSize(c == 10 ? 40 : 0);
  }
  P[0].SetValue(id);
  if (Id % 7 != 0) P[1].SetValue(std::to_string(Id * 3 - 500));
  P[2].SetValue(Id == 333 ? "9007199254740993" : std::to_string(Id) + "000");  // one wider than INT
  P[3].SetValue(Id % 11 == 0 ? "" : std::to_string(Id) + "." + std::to_string(Id % 100));
  if (Id % 5 != 0) P[4].SetValue(Id % 2 ? "0.1" : "-2.5e+20");
  P[5].SetValue("2024-05-" + std::string(Id % 28 < 9 ? "0" : "") + std::to_string(Id % 28 + 1) +
                " 10:20:" + (Id % 60 < 10 ? "0" : "") + std::to_string(Id % 60));
  if (Id % 13 != 0) P[6].SetValue("1999-12-31");
  P[7].SetValue("23:59:59");
  P[8].SetValue(Id % 3 ? "True" : "False");
  if (Id % 4 != 0) {
    const std::string bytes = std::string("\x00\xff", 2) + id;
    P[9].LoadFromBytes(bytes.data(), bytes.size(), ftBlob);
  }
  if (Id == 500) {
    // One row of another type in a column: it cannot share an array with
    // its neighbours.
    P[10].SetDataType(ftInteger);
    P[10].SetValue("7");
  } else if (Id % 9 != 0) {
    P[10].SetValue("中文 it's \"q\" " + id);
  }
  if (Id == 400)
    P[11].SetValue(std::string(9000, 'x') + id);  // a long text among short ones
  else if (Id % 6 != 0)
    P[11].SetValue(Id % 2 ? "" : "note " + id);
}

// Inserts rows First..Last through the batch, sending whenever a round trip
// is full and at the end.
void InsertRows(TDbInsertBatch& Batch, int First, int Last, int64_t& Affected) {
  for (int id = First; id <= Last; ++id) {
    FillRow(Batch.AddRow(), id);
    if (Batch.Full()) {
      Batch.Flush();
      Affected += Batch.RowsAffected();
    }
  }
  Batch.Flush();
  Affected += Batch.RowsAffected();
}

constexpr TForm kForms[] = {TForm::OneByOne, TForm::ParameterArrays, TForm::MultiRowValues};
const char* FormName(TForm Form) {
  return Form == TForm::OneByOne          ? "one by one"
         : Form == TForm::ParameterArrays ? "parameter arrays"
                                          : "multi-row values";
}

}  // namespace

TEST_P(DbBackendTest, InsertBatchLeavesWhatRowByRowLeavesInEveryForm) {
  // More rows than one round trip carries in every form, and not a
  // multiple of any of them.
  const int rows = 1001;
  std::vector<std::string> expected;
  for (TForm form : kForms) {
    SCOPED_TRACE(FormName(form));
    const std::string t = NewTable(kColumns);
    TDbInsertBatch batch(Conn());
    ASSERT_DB_OK(batch.SetStatement("insert into " + t + kHead, kGroup));
    EXPECT_EQ(batch.RowStatement(), "insert into " + t + kHead + kGroup);
    EXPECT_EQ(batch.ParamCount(), 12u);
    batch.SetForm(form);
    int64_t affected = 0;
    ASSERT_DB_OK(Conn().BeginTrans());
    ASSERT_DB_OK(InsertRows(batch, 1, rows, affected));
    ASSERT_DB_OK(Conn().CommitTrans());
    EXPECT_EQ(affected, rows);
    std::vector<std::string> got =
        Db->Rows("select id, i, b, n, d, ts, dt, tm, f, y, v, t from " + t + " order by id");
    ASSERT_EQ(got.size(), static_cast<size_t>(rows));
    if (expected.empty()) {
      expected = got;  // one by one comes first
      const std::string no = IsMariadb() ? "0" : "False";
      EXPECT_EQ(got[332],
                "333|499|9007199254740993|333.33|0.1|2024-05-26 10:20:33|1999-12-31|"
                "23:59:59|" +
                    no + "|" + std::string("\x00\xff", 2) + "333|<null>|");
      EXPECT_EQ(got[499].substr(got[499].size() - 11), "|7|note 500");
      EXPECT_EQ(Scalar("select length(t) from " + t + " where id = 400"), "9003");
    } else {
      for (size_t r = 0; r < got.size(); ++r)
        ASSERT_EQ(got[r], expected[r]) << "row " << r + 1;
    }
  }
}

TEST_P(DbBackendTest, RowsOfLongValuesTravelInFewerPerStatement) {
  // 18 MB in all: more than MariaDB takes in one packet.
  const std::string t = NewTable("id INT, t TEXT");
  TDbInsertBatch batch(Conn());
  ASSERT_DB_OK(batch.SetStatement("insert into " + t + "(id,t)values", "(:id,:t)"));
  batch.SetForm(TForm::MultiRowValues);
  const std::string text(1536 * 1024, 'x');
  size_t most = 0;  // rows in one flush
  for (int id = 1; id <= 12; ++id) {
    TDbParam* p = batch.AddRow();
    p[0].SetDataType(ftInteger);
    p[0].SetValue(std::to_string(id));
    p[1].SetDataType(ftMemo);
    p[1].SetValue(text + std::to_string(id));
    if (batch.Full()) {
      most = std::max(most, batch.RowCount());
      ASSERT_DB_OK(batch.Flush());
    }
  }
  EXPECT_EQ(most, 3u) << "the values fill a statement before the rows do";
  ASSERT_DB_OK(batch.Flush());
  EXPECT_EQ(
      Scalar("select count(*) from " + t + " where length(t) = " + std::to_string(text.size() + 1)),
      "9");
  EXPECT_EQ(Scalar("select sum(id) from " + t), "78");

  // Sent at once, the rows still travel in statements the server takes.
  Exec("delete from " + t);
  for (int id = 1; id <= 12; ++id) {
    TDbParam* p = batch.AddRow();
    p[0].SetDataType(ftInteger);
    p[0].SetValue(std::to_string(id));
    p[1].SetDataType(ftMemo);
    p[1].SetValue(text);
  }
  ASSERT_DB_OK(batch.Flush());
  EXPECT_EQ(batch.RowsAffected(), 12);
  EXPECT_EQ(Scalar("select count(*) from " + t), "12");
}

TEST_P(DbBackendTest, SavepointUndoesARefusedBatchAndTheTransactionGoesOn) {
  const std::string t = NewTable(kColumns);
  TDbConnection other;
  ASSERT_DB_OK(OpenSecond(other));
  for (TForm form : kForms) {
    SCOPED_TRACE(FormName(form));
    Exec("delete from " + t);
    TDbInsertBatch batch(Conn());
    ASSERT_DB_OK(batch.SetStatement("insert into " + t + kHead, kGroup));
    batch.SetForm(form);
    int64_t affected = 0;
    ASSERT_DB_OK(Conn().BeginTrans());
    ASSERT_DB_OK(InsertRows(batch, 1, 10, affected));
    ASSERT_DB_OK(Conn().SetSavepoint());
    EXPECT_TRUE(Conn().SavepointSet());
    // Rows 11 to 30, and row 5 again in the middle: the key is taken.
    for (int id = 11; id <= 30; ++id)
      FillRow(batch.AddRow(), id == 20 ? 5 : id);
    EXPECT_THROW(batch.Flush(), TDbError);
    EXPECT_EQ(batch.RowCount(), 0u) << "a flush forgets its rows, also when it fails";
    EXPECT_THROW(Exec("select 1"), TDbError) << "nothing is sent after the failure";
    ASSERT_DB_OK(Conn().RollbackToSavepoint());
    EXPECT_EQ(CountOn(Conn(), t), "10") << "the rows of the refused batch are gone";
    // The savepoint stays for another attempt, here row by row.
    batch.SetForm(TForm::OneByOne);
    ASSERT_DB_OK(InsertRows(batch, 11, 19, affected));
    ASSERT_DB_OK(Conn().ReleaseSavepoint());
    EXPECT_FALSE(Conn().SavepointSet());
    EXPECT_EQ(CountOn(other, t), "0");
    ASSERT_DB_OK(Conn().CommitTrans());
    EXPECT_EQ(CountOn(other, t), "19");
  }
}

TEST_P(DbBackendTest, SavepointsNeedATransactionAndComeOneAtATime) {
  EXPECT_TRUE(Conn().HasSavepoints());
  EXPECT_THROW(Conn().SetSavepoint(), TDbError) << "no transaction";
  ASSERT_DB_OK(Conn().BeginTrans());
  EXPECT_THROW(Conn().RollbackToSavepoint(), TDbError) << "none set";
  EXPECT_THROW(Conn().ReleaseSavepoint(), TDbError) << "none set";
  ASSERT_DB_OK(Conn().SetSavepoint());
  EXPECT_THROW(Conn().SetSavepoint(), TDbError) << "one at a time";
  ASSERT_DB_OK(Conn().RollbackToSavepoint());
  // The savepoint stays after a return to it.
  ASSERT_DB_OK(Conn().RollbackToSavepoint());
  ASSERT_DB_OK(Conn().CommitTrans());
  EXPECT_FALSE(Conn().SavepointSet()) << "the transaction's end ends it";
  ASSERT_DB_OK(Conn().BeginTrans());
  EXPECT_FALSE(Conn().SavepointSet());
  ASSERT_DB_OK(Conn().SetSavepoint());
  ASSERT_DB_OK(Conn().RollbackTrans());
  EXPECT_FALSE(Conn().SavepointSet());
}

}  // namespace kelvor::test
