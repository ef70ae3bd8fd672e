// Runs whose records are applied a batch at a time, written once and run for
// every pair of source and destination (see EngineHarness.h). Each case says
// what the record-by-record statements leave, and the literal-path
// destinations, which send those statements, show the same: batch
// boundaries, a record refused in the middle of a batch, records of one
// batch with the same key, NULL keys.
#include <algorithm>

#include "EngineHarness.h"

namespace kelvor::test {
namespace {

using ::testing::HasSubstr;
using Rows = std::vector<std::string>;

const std::vector<TMapEntry> kIdNameQty = {{"id", true}, {"name"}, {"qty"}};

class EngineBatchTest : public EngineRunTest {
 protected:
  void SetUp() override {
    EngineRunTest::SetUp();
    if (IsSkipped()) return;
    SrcTable = Src->CreateTable("id INTEGER, name VARCHAR(32), qty INTEGER");
    // Small batches: the cases cross their boundaries with a few rows.
    Executor.BatchRows = 7;
  }
  std::string NewDestination() {
    return Dst->CreateTable(
        "id INTEGER primary key, name VARCHAR(32), qty INTEGER check (qty >= 0)");
  }
  Rows RowsOf(const std::string& Table) {
    return Dst->Rows("select id, name, qty from " + Table + " order by id");
  }
  std::string Select() const { return "select id, name, qty from " + SrcTable; }

  std::string SrcTable;
};

TEST_P(EngineBatchTest, RowsAcrossBatchBoundariesArriveAsRecordByRecordStatementsLeaveThem) {
  for (int rows : {14, 15}) {  // two batches, and one row more
    Src->Exec("delete from " + SrcTable);
    Src->Exec("insert into " + SrcTable + " select i, " + Src->Concat("'n'", "i") + ", i from " +
              Series(rows));
    for (int op : {opInsert, opUpdateThenInsert, opUpdate, opMirror}) {
      SCOPED_TRACE(std::to_string(rows) + " rows, type " + std::to_string(op));
      const std::string dst = NewDestination();
      // Every third key is there already, and one key the source lacks.
      if (op != opInsert) {
        Dst->Exec("insert into " + dst + " select i * 3, 'old', 0 from " + Series(rows / 3));
        Dst->Exec("insert into " + dst + " values (99, 'extra', 99)");
      }
      auto task = Task(op, dst, Select(), kIdNameQty);
      ASSERT_TRUE(Run(*task)) << Env->LogText();
      Rows want;
      const int existing = op == opInsert ? 0 : rows / 3;
      for (int id = 1; id <= rows; ++id)
        if (op != opUpdate || id % 3 == 0)
          want.push_back(std::to_string(id) + "|n" + std::to_string(id) + "|" + std::to_string(id));
      if (op == opUpdateThenInsert || op == opUpdate) want.push_back("99|extra|99");
      EXPECT_EQ(RowsOf(dst), want);
      const TRunCounts& counts = Executor.Counts();
      EXPECT_EQ(counts.Read, rows);
      EXPECT_EQ(counts.Updated, existing);
      EXPECT_EQ(counts.Inserted, op == opUpdate ? 0 : rows - existing);
      EXPECT_EQ(counts.SkippedNoMatch, op == opUpdate ? rows - existing : 0);
      EXPECT_EQ(counts.Deleted, op == opMirror ? 1 : 0);
      EXPECT_EQ(task->RecordCount, rows);
    }
  }
}

TEST_P(EngineBatchTest, RecordRefusedInTheMiddleOfABatchIsNamedAndNothingIsApplied) {
  // Record 10 breaks the destination's check, in the middle of the second batch.
  Src->Exec("insert into " + SrcTable + " select i, " + Src->Concat("'n'", "i") +
            ", case when i = 10 then -10 else i end from " + Series(12));
  for (int op : {opInsert, opUpdateThenInsert}) {
    SCOPED_TRACE("type " + std::to_string(op));
    const std::string dst = NewDestination();
    if (op == opUpdateThenInsert) Dst->Exec("insert into " + dst + " values (3, 'old', 3)");
    const Rows before = RowsOf(dst);
    auto task = Task(op, dst, Select() + " order by id", kIdNameQty);
    EXPECT_FALSE(Run(*task));
    EXPECT_EQ(RowsOf(dst), before);
    EXPECT_EQ(task->FailCount, 1);
    // The refused record's own INSERT, followed by the database's message.
    const std::string log = Env->LogText();
    if (Literal()) {
      EXPECT_THAT(
          log, HasSubstr("insert into " + dst + "(id,name,qty)values(10,'n10',-10) error,info:"));
    } else {
      EXPECT_THAT(log, HasSubstr("execute sql: insert into " + dst +
                                 "(id,name,qty)values(:id,:name,:qty) error,info:"));
      EXPECT_THAT(log, HasSubstr("the record with the key 10"));
    }
  }
}

TEST_P(EngineBatchTest, RecordThatCannotBeWrittenInALaterChunkEndsTheRunWithNothingApplied) {
  // Record 10 has no key; it is read and checked while the first chunk is
  // applied (ordered by qty: databases sort a NULL key first or last).
  Src->Exec("insert into " + SrcTable + " select case when i = 10 then null else i end, " +
            Src->Concat("'n'", "i") + ", i from " + Series(12));
  const std::string dst = NewDestination();
  Dst->Exec("insert into " + dst + " values (3, 'old', 3)");
  auto task = Task(opUpdateThenInsert, dst, Select() + " order by qty", kIdNameQty);
  EXPECT_FALSE(Run(*task));
  EXPECT_EQ(RowsOf(dst), Rows{"3|old|3"});
  EXPECT_EQ(task->FailCount, 1);
  // The literal path sends the record's statement as it is written, and the
  // database refuses its "where id=".
  if (!Literal()) {
    EXPECT_THAT(Env->LogText(),
                HasSubstr("execute transaction error,info:the key column id holds no value"));
  }
}

TEST_P(EngineBatchTest, RecordsOfOneBatchWithOneKeyGiveTheRecordByRecordResult) {
  // The second record of each key updates what the first left: with keys the
  // destination has (only updates), and with keys it has not (an insert, then
  // an update of the row inserted).
  struct TCase {
    const char* Source;
    Rows Want;  // type 1; the mirror has the same less row 3
    int64_t Inserted, Updated;
  };
  const TCase cases[] = {
      {"(1, 'a', 10), (3, 'b', 20), (1, 'c', 30), (3, 'd', 40)", {"1|c|30", "3|d|40"}, 0, 4},
      {"(1, 'a', 10), (2, 'b', 20), (1, 'c', 30), (2, 'd', 40), (4, 'e', 50)",
       {"1|c|30", "2|d|40", "3|old|3", "4|e|50"},
       2,
       3},
  };
  for (const TCase& c : cases)
    for (int op : {opUpdateThenInsert, opMirror}) {
      SCOPED_TRACE(std::string(c.Source) + ", type " + std::to_string(op));
      Src->Exec("delete from " + SrcTable);
      Src->Exec("insert into " + SrcTable + " values " + c.Source);
      const std::string dst = NewDestination();
      Dst->Exec("insert into " + dst + " values (1, 'old', 1), (3, 'old', 3)");
      auto task = Task(op, dst, Select(), kIdNameQty);
      ASSERT_TRUE(Run(*task)) << Env->LogText();
      Rows want = c.Want;
      if (op == opMirror) want.erase(std::remove(want.begin(), want.end(), "3|old|3"), want.end());
      EXPECT_EQ(RowsOf(dst), want);
      EXPECT_EQ(Executor.Counts().Inserted, c.Inserted);
      EXPECT_EQ(Executor.Counts().Updated, c.Updated);
    }
}

TEST_P(EngineBatchTest, KeysTheDestinationTakesForOneAreOneKeyInABatchToo) {
  // MariaDB's default collation takes "k" and "K" for one key.
  if (!Dst->IsMariadb()) GTEST_SKIP() << "PostgreSQL and SQLite compare letter case";
  const std::string src = Src->CreateTable("k VARCHAR(8), v INTEGER");
  const std::string dst = Dst->CreateTable("k VARCHAR(8) primary key, v INTEGER");
  Src->Exec("insert into " + src + " values ('K', 1), ('k', 2)");
  Dst->Exec("insert into " + dst + " values ('k', 0)");
  auto task = Task(opUpdateThenInsert, dst, "select k, v from " + src, {{"k", true}, {"v"}});
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(Dst->Rows("select k, v from " + dst), (Rows{"k|2"}));
}

TEST_P(EngineBatchTest, NullTextKeysFindTheRowWhoseKeyIsEmpty) {
  const std::string src = Src->CreateTable("k VARCHAR(8), v INTEGER");
  // No primary key: a NULL key may be inserted.
  const std::string dst = Dst->CreateTable("k VARCHAR(8), v INTEGER");
  auto rows = [&] {
    return Dst->Rows("select coalesce(k, '<null>'), v from " + dst + " order by v");
  };
  Src->Exec("insert into " + src + " values (null, 10), ('x', 20)");
  Dst->Exec("insert into " + dst + " values ('', 1)");
  auto task = Task(opUpdateThenInsert, dst, "select k, v from " + src, {{"k", true}, {"v"}});
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(rows(), (Rows{"|10", "x|20"}));

  // Where no key is empty, the NULL key finds nothing and goes in as NULL.
  Dst->Exec("delete from " + dst);
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(rows(), (Rows{"<null>|10", "x|20"}));

  // NULL and the empty text in one batch are one key: the second record
  // updates what the first left.
  Src->Exec("insert into " + src + " values ('', 30)");
  Dst->Exec("delete from " + dst);
  Dst->Exec("insert into " + dst + " values ('', 1)");
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(rows(), (Rows{"x|20", "|30"}));
}

INSTANTIATE_TEST_SUITE_P(Runs, EngineBatchTest, ::testing::ValuesIn(RunConfigs()), RunConfigName);

}  // namespace
}  // namespace kelvor::test
