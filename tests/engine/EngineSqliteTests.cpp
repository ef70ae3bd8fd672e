// The shared run cases between SQLite files, and what needs SQLite's own
// behaviour: a read that fails in the middle of a result, large mirrors, the
// dialog's data module. (The access type's path rule runs for real in the
// kelvord tests.)
#include "EngineHarness.h"
#include "engine/udatamodule.h"

namespace kelvor::test {

std::vector<TRunConfig> RunConfigs() {
  return {{TDbSide::SQLite, TDbSide::SQLite}};
}

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Rows = std::vector<std::string>;

using SqliteEngineTest = EngineRunTest;

TEST_P(SqliteEngineTest, ReadErrorInTheMiddleFailsTheRunAndTheMirrorDeletesNothing) {
  const std::string src = Src->CreateTable("id INTEGER, v INTEGER");
  Src->Exec("insert into " + src + " select i, i from " + Series(5));
  // abs() of the smallest integer raises "integer overflow" at row 3, after
  // two rows have been read (no ORDER BY: a sort would compute every row
  // before the first is handed out). In chunks of two rows, the failing row
  // is read while the first chunk is applied.
  // Each run leaves its lines in the log after those of the runs before.
  const auto count = [](const std::string& Text, const std::string& Line) {
    size_t n = 0;
    for (size_t at = Text.find(Line); at != std::string::npos; at = Text.find(Line, at + 1))
      ++n;
    return n;
  };
  size_t runs = 0;
  for (size_t chunk : {size_t{5000}, size_t{2}})
    for (int op : {opMirror, opInsert}) {
      SCOPED_TRACE("chunks of " + std::to_string(chunk) + ", type " + std::to_string(op));
      ++runs;
      const std::string dst = Dst->CreateTable("id INTEGER primary key, v INTEGER");
      if (op == opMirror) Dst->Exec("insert into " + dst + " select i, 0 from " + Series(9));
      const Rows before = Dst->Rows("select count(*), sum(v) from " + dst);
      Executor.BatchRows = chunk;
      auto task = Task(op, dst,
                       "select id, abs(case when id = 3 then -9223372036854775807 - 1 else v end) "
                       "as v from " +
                           src,
                       {{"id", true}, {"v"}});
      EXPECT_FALSE(Run(*task));
      EXPECT_EQ(task->FailCount, 1);
      EXPECT_EQ(Dst->Rows("select count(*), sum(v) from " + dst), before);
      const std::string log = Env->LogText();
      EXPECT_EQ(count(log, "在试图建立内存数据集出现失败,具体错误为: "), runs);
      EXPECT_EQ(count(log, "integer overflow"), runs);
      EXPECT_EQ(count(log, "mission<" + Name + "> execute 1 times fail!"), runs);
    }
}

// SQLite rolls back the whole transaction after some errors (a full disk, a
// trigger's RAISE(ROLLBACK)); the statements sent after that would each
// commit on their own, the mirror's delete among them.
TEST_P(SqliteEngineTest, MirrorWhoseTransactionTheDatabaseEndsKeepsEveryRow) {
  const std::string src = Src->CreateTable("id INTEGER, v INTEGER");
  const std::string dst = Dst->CreateTable("id INTEGER primary key, v INTEGER");
  Src->Exec("insert into " + src + " select i, i from " + Series(500));
  Dst->Exec("insert into " + dst + " select i, 0 from " + Series(500));
  Dst->Exec("insert into " + dst + " select i + 1000, 0 from " + Series(10));
  Dst->Exec("create trigger " + dst + "_refuse before update on " + dst +
            " when new.id = 250 begin select raise(rollback, 'row 250 refused'); end");
  for (int op : {opMirror, opUpdateThenInsert}) {
    auto task = Task(op, dst, "select id, v from " + src + " order by id", {{"id", true}, {"v"}});
    EXPECT_FALSE(Run(*task)) << op;
    EXPECT_EQ(Dst->Rows("select count(*), sum(v) from " + dst), Rows{"510|0"}) << op;
  }
  const std::string log = Env->LogText();
  EXPECT_THAT(log, HasSubstr("row 250 refused"));
  EXPECT_THAT(log, Not(HasSubstr("delete from " + dst)));
}

TEST_P(SqliteEngineTest, MirrorOfOneHundredThousandRows) {
  const std::string src = Src->CreateTable("id INTEGER, name VARCHAR(32)");
  const std::string dst = Dst->CreateTable("id INTEGER primary key, name VARCHAR(32)");
  Src->Exec("insert into " + src + " select i * 2, 'n' || i from " + Series(100000));
  Dst->Exec("insert into " + dst + " select i, 'old' from " + Series(1000));
  auto task = Task(opMirror, dst, "select id, name from " + src, {{"id", true}, {"name"}});
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(Dst->Rows("select count(*), min(id), max(id) from " + dst), Rows{"100000|2|200000"});
  EXPECT_EQ(Dst->Count(dst + " where name = 'n' || (id / 2)"), "100000");
  EXPECT_EQ(task->RecordCount, 100000);
  // The run tells how far it got every 10,000 rows, and how many records it
  // took once it has read them all.
  const std::string progress = Env->Progress();
  EXPECT_THAT(progress, HasSubstr("begin to open record...\r\napplied 10000 of 100000\r\n"));
  EXPECT_THAT(progress, HasSubstr("applied 90000 of 100000\r\nrecord count:100000\r\n"));
  EXPECT_THAT(progress, HasSubstr("applied 100000 of 100000\r\n"));
  EXPECT_THAT(progress, Not(HasSubstr("applied 5000 ")));
}

TEST_P(SqliteEngineTest, MirrorOfThousandsOfCompositeKeys) {
  // A condition nested one level per key would pass SQLite's depth limit of 1000.
  const std::string src = Src->CreateTable("a INTEGER, b VARCHAR(8), v INTEGER");
  const std::string dst = Dst->CreateTable("a INTEGER, b VARCHAR(8), v INTEGER");
  Src->Exec("insert into " + src + " select i, 'k' || (i % 7), i from " + Series(3000));
  Dst->Exec("insert into " + dst + " select i, 'x', 0 from " + Series(500));
  auto task = Task(opMirror, dst, "select a, b, v from " + src, {{"a", true}, {"b", true}, {"v"}});
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(Dst->Rows("select count(*), sum(v) from " + dst), Rows{"3000|4501500"});
}

TEST_P(SqliteEngineTest, LargeObjectsOfEveryLengthOnInsertAndUpdate) {
  const std::string src = Src->CreateTable("id INTEGER, data BLOB");
  const std::string dst = Dst->CreateTable("id INTEGER primary key, data BLOB");
  Src->Exec("insert into " + src + " values (1, NULL), (2, x'41'), (3, x'00ff00'), (4, NULL), " +
            "(5, x'42'), (6, x'00ff00'), (7, x''), (8, x'')");
  // Rows 4 to 6 and 8 exist and are updated; rows 1 to 3 and 7 are inserted.
  Dst->Exec("insert into " + dst + " values (4, x'99'), (5, x'99'), (6, x'99'), (8, x'99')");
  auto task =
      Task(opUpdateThenInsert, dst, "select id, data from " + src, {{"id", true}, {"data"}});
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  // One byte is a value on both paths; NULL stays NULL and no bytes stay no
  // bytes, whether inserted or updated.
  EXPECT_EQ(Dst->Rows("select id, typeof(data), hex(data) from " + dst + " order by id"),
            (Rows{"1|null|", "2|blob|41", "3|blob|00FF00", "4|null|", "5|blob|42", "6|blob|00FF00",
                  "7|blob|", "8|blob|"}));
}

TEST_P(SqliteEngineTest, ParameterisedApplyRollsBackAKeyThatCannotBeBound) {
  const std::string dst = Dst->CreateTable("id INTEGER, d DATE");
  auto task = Task(opUpdateThenInsert, dst, "", {});
  ASSERT_TRUE(Executor.ConnectDestination(task->Destination));
  Executor.CurrentTask = task.get();
  TObuRec records;
  for (const char* day : {"2024-01-01", "2024-01-02", "not a day"}) {
    TObuFields r;
    TObuField id, d;
    id.FieldName = "id", id.DataType = ftInteger, id.Value = "1";
    d.FieldName = "d", d.DataType = ftDate, d.Value = day, d.IsKey = true;
    r.Add(id);
    r.Add(d);
    records.Add(std::move(r));
  }
  // The third record's key cannot be bound (a run refuses it before it
  // applies anything): the apply fails after two rows were inserted, and
  // takes them back.
  EXPECT_FALSE(Executor.ApplyRecordsWithParameters(records, opUpdateThenInsert));
  EXPECT_FALSE(Executor.DestinationConnection.InTransaction());
  EXPECT_EQ(Dst->Count(dst), "0");
  EXPECT_THAT(Env->LogText(), ::testing::HasSubstr("execute update " + dst +
                                                   " set id= :id where d= :d error,info:"));
}

TEST_P(SqliteEngineTest, StatementOperationsAnswerZeroOrMinusOneAndLogTheStatement) {
  const std::string dst = Dst->CreateTable("id INTEGER, name VARCHAR(8)");
  ASSERT_TRUE(Executor.ConnectDestination(Dst->Settings()));
  EXPECT_EQ(Executor.ExecDestination("insert into " + dst + " values (1, 'a'), (2, 'b')"), 0);
  int64_t rows = -5;
  EXPECT_EQ(Executor.ExecDestinationCounted("update " + dst + " set name = 'c'", rows), 0);
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(Executor.ExecDestinationCounted("update nowhere set x = 1", rows), -1);
  EXPECT_EQ(rows, 2);  // left as it was
  EXPECT_THAT(Env->LogText(), HasSubstr("execute sql: update nowhere set x = 1 error,info:"));

  // A batch does not start inside a transaction that is already open.
  Executor.DestinationConnection.BeginTrans();
  EXPECT_FALSE(Executor.RunDestinationBatch({"delete from " + dst}));
  EXPECT_EQ(Executor.RunUpsertBatch({{"delete from " + dst + " ", ""}}), -1);
  Executor.DestinationConnection.RollbackTrans();
  EXPECT_EQ(Dst->Count(dst), "2");
}

// A script's own COMMIT ends the run's transaction: a dry run can no longer
// take back what ran before it, and must not say it did.
TEST_P(SqliteEngineTest, DryRunOfAScriptThatCommitsItselfFails) {
  const std::string t = Dst->CreateTable("id INTEGER");
  auto script =
      Task(opScriptOnDestination, "", Go("insert into " + t + " values (1)") + Go("commit"));
  EXPECT_FALSE(Run(*script, TRunEnd::Rollback));
  EXPECT_EQ(script->FailCount, 1);
  EXPECT_EQ(Dst->Count(t), "1");  // the script committed it itself
  EXPECT_THAT(Env->LogText(),
              HasSubstr("Unable to roll back the dry run: the database ended the transaction by "
                        "itself; what ran before may have been committed"));
}

TEST_P(SqliteEngineTest, LongStatementsAreCutInTheLog) {
  const std::string statement =
      "insert into no_such_table_here values ('" + std::string(10000, 'x') + "')";
  auto task = Task(opScriptOnDestination, "", Go(statement));
  EXPECT_FALSE(Run(*task));
  const std::string log = Env->LogText();
  EXPECT_THAT(log, HasSubstr("execute sql: " + statement.substr(0, 4096) +
                             "... (cut; the statement has 10042 bytes) error,info:"));
  EXPECT_THAT(log, Not(HasSubstr(std::string(4097, 'x'))));
}

// ---------------------------------------------------------------------------
// The dialog's data module

TEST_P(SqliteEngineTest, DataModuleConnectsAndReadsColumns) {
  const std::string t = Dst->CreateTable("id INTEGER, name VARCHAR(32), note TEXT");
  TgDataModule module;
  ASSERT_TRUE(module.ConnectDatabase(Env->Root() + "dst.db", "u", "p", "", dbAccess));
  ASSERT_TRUE(module.OpenQuery("select id, name, note from " + t + " where name <> ':x'"));
  ASSERT_EQ(module.FieldCount(), 3);
  EXPECT_EQ(module.FieldName(1), "name");
  EXPECT_EQ(module.FieldSize(1), 32);
  EXPECT_EQ(module.FieldSize(0), 0);
  EXPECT_EQ(module.FieldName(3), "");
  EXPECT_EQ(module.FieldSize(-1), 0);
  EXPECT_FALSE(module.OpenQuery("select from"));
  EXPECT_EQ(module.FieldCount(), 0);
  EXPECT_EQ(module.FieldName(0), "");
  EXPECT_THAT(Env->LogText(), Not(HasSubstr("select from")));

  EXPECT_FALSE(module.ConnectDatabase(Env->Root() + "missing.db", "", "", "", dbAccess));
  EXPECT_FALSE(module.OpenQuery("select 1"));
  const std::string log = Env->LogText();
  EXPECT_THAT(log, HasSubstr("connect to database error ,info: "));
  EXPECT_THAT(log, HasSubstr("missing.db"));
}

INSTANTIATE_TEST_SUITE_P(Sqlite, SqliteEngineTest, ::testing::ValuesIn(RunConfigs()),
                         RunConfigName);

}  // namespace
}  // namespace kelvor::test
