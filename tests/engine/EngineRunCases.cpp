// Task runs of every operation type, written once and run for every pair of
// source and destination (see EngineHarness.h).
#include <algorithm>

#include "EngineHarness.h"
#include "platform/Text.h"

namespace kelvor::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Rows = std::vector<std::string>;

std::vector<TRunConfig> SqliteSources() {
  std::vector<TRunConfig> r;
  for (const TRunConfig& c : RunConfigs())
    if (c.Source == TDbSide::SQLite) r.push_back(c);
  return r;
}

const std::vector<TMapEntry> kIdNameQty = {{"id", true}, {"name"}, {"qty"}};

// A source of (id, name, qty, done) and a destination of (id, name, qty).
class EngineTypesTest : public EngineRunTest {
 protected:
  void SetUp() override {
    EngineRunTest::SetUp();
    if (IsSkipped()) return;
    SrcTable = Src->CreateTable("id INTEGER, name VARCHAR(32), qty INTEGER, done INTEGER");
    DstTable = Dst->CreateTable("id INTEGER primary key, name VARCHAR(32), qty INTEGER");
  }
  void Source(const std::string& Values) {
    Src->Exec("insert into " + SrcTable + "(id, name, qty, done) values " + Values);
  }
  void Destination(const std::string& Values) {
    Dst->Exec("insert into " + DstTable + "(id, name, qty) values " + Values);
  }
  Rows DestinationRows() {
    return Dst->Rows("select id, name, qty from " + DstTable + " order by id");
  }
  std::string Select() const { return "select id, name, qty from " + SrcTable; }

  std::string SrcTable, DstTable;
};

TEST_P(EngineTypesTest, InsertCopiesRowsAndValidationMakesTheSecondRunCopyNothing) {
  Source("(1, 'a', 10, 0), (2, 'b', 20, 0), (3, 'c', 30, 1)");
  auto task = Task(opInsert, DstTable, Select() + " where done <> 1", kIdNameQty,
                   "update " + SrcTable + " set done = 1 where 1=1");
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(DestinationRows(), (Rows{"1|a|10", "2|b|20"}));
  EXPECT_EQ(Src->Rows("select id, done from " + SrcTable + " order by id"),
            (Rows{"1|1", "2|1", "3|1"}));
  EXPECT_EQ(task->RecordCount, 2);
  EXPECT_TRUE(task->Executed);
  EXPECT_EQ(task->FailCount, 0);
  EXPECT_EQ(Env->Progress(), "begin to open record...\r\nrecord count:2\r\n");

  // Every row is marked: the second run reads nothing and inserts nothing
  // (a second insert of the same keys would break the primary key).
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(DestinationRows(), (Rows{"1|a|10", "2|b|20"}));
  EXPECT_EQ(task->RecordCount, 0);
  EXPECT_THAT(Env->Progress(), HasSubstr("record count:0\r\n"));
  EXPECT_THAT(Env->LogText(), Not(HasSubstr("error")));
}

TEST_P(EngineTypesTest, UpdateThenInsertKeepsQuotesAndDollarPairsInValues) {
  Destination("(1, 'old', 1), (5, 'keep', 5)");
  Source("(1, 'new', 10, 0), (2, 'O''Brien', 20, 0), (3, 'a $$ b', 30, 0), (4, '$$', 40, 0)");
  auto task = Task(opUpdateThenInsert, DstTable, Select(), kIdNameQty);
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(DestinationRows(),
            (Rows{"1|new|10", "2|O'Brien|20", "3|a $$ b|30", "4|$$|40", "5|keep|5"}));
  EXPECT_EQ(task->RecordCount, 4);
  // A second run finds every key and only updates.
  Src->Exec("update " + SrcTable + " set qty = qty + 1");
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(DestinationRows(),
            (Rows{"1|new|11", "2|O'Brien|21", "3|a $$ b|31", "4|$$|41", "5|keep|5"}));
}

TEST_P(EngineTypesTest, UpdateChangesOnlyRowsThatExist) {
  Destination("(1, 'old', 1), (2, 'old', 2)");
  Source("(1, 'x', 10, 0), (3, 'y', 30, 0)");
  auto task = Task(opUpdate, DstTable, Select(), kIdNameQty);
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(DestinationRows(), (Rows{"1|x|10", "2|old|2"}));
  EXPECT_EQ(task->RecordCount, 2);
}

TEST_P(EngineTypesTest, MirrorUpdatesInsertsAndDeletesExtraRows) {
  Destination("(1, 'old', 1), (2, 'gone', 2), (9, 'gone', 9)");
  Source("(1, 'a', 10, 0), (3, 'b', 30, 0)");
  auto task = Task(opMirror, DstTable, Select(), kIdNameQty);
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(DestinationRows(), (Rows{"1|a|10", "3|b|30"}));
  EXPECT_EQ(task->RecordCount, 2);
}

// MariaDB and MySQL used to count an UPDATE that changes nothing as 0 rows,
// which made these types insert every unchanged row a second time.
TEST_P(EngineTypesTest, SecondRunOverUnchangedDataChangesNothing) {
  Source("(1, 'a', 10, 0), (2, 'b', 20, 0)");
  // Without a primary key a row inserted again shows as a second row.
  const std::string loose = Dst->CreateTable("id INTEGER, name VARCHAR(32), qty INTEGER");
  for (const std::string& table : {DstTable, loose})
    for (int op : {opUpdateThenInsert, opMirror}) {
      auto task = Task(op, table, Select(), kIdNameQty);
      for (int run = 1; run <= 2; ++run)
        ASSERT_TRUE(Run(*task)) << "run " << run << " of type " << op << "\n" << Env->LogText();
      EXPECT_EQ(Dst->Rows("select id, name, qty from " + table + " order by id"),
                (Rows{"1|a|10", "2|b|20"}))
          << "type " << op;
    }
}

// A run's counts are what it did to the destination, the same whether its
// transactions commit or, in a dry run, roll back; a dry run leaves both
// sides as they were, the validations on the source included. An UPDATE
// that matches a row counts as updated even when the row held those values.
TEST_P(EngineTypesTest, CountsAreWhatTheRunDidAndADryRunKeepsNothing) {
  Source("(1, 'a', 10, 0), (2, 'b', 20, 0), (3, 'c', 30, 0), (4, 'd', 40, 0)");
  const Rows all = {"1|a|10", "2|b|20", "3|c|30", "4|d|40"};
  struct TCase {
    std::string What;
    int Op;
    std::string Before;  // destination rows
    bool Check;          // a check condition reading the destination's keys
    bool Ok;
    TRunCounts Want;  // read, pre-check, inserted, updated, no matching key, deleted
    Rows After;
  };
  const TCase cases[] = {
      {"fresh insert", opInsert, "", false, true, {4, 0, 4, 0, 0, 0}, all},
      {"update then insert over half the rows",
       opUpdateThenInsert,
       "(1, 'a', 10), (2, 'old', 2)",
       false,
       true,
       {4, 0, 2, 2, 0, 0},
       all},
      {"second update then insert over half-changed rows",
       opUpdateThenInsert,
       "(1, 'a', 10), (2, 'b', 20), (3, 'old', 3), (4, 'old', 4)",
       false,
       true,
       {4, 0, 0, 4, 0, 0},
       all},
      {"update only",
       opUpdate,
       "(1, 'old', 1), (2, 'old', 2), (7, 'x', 7)",
       false,
       true,
       {4, 0, 0, 2, 2, 0},
       {"1|a|10", "2|b|20", "7|x|7"}},
      {"mirror with rows to delete",
       opMirror,
       "(1, 'old', 1), (8, 'x', 8), (9, 'x', 9)",
       false,
       true,
       {4, 0, 3, 1, 0, 2},
       all},
      {"a pre-check that skips rows",
       opInsert,
       "(1, 'dst', 1), (3, 'dst', 3)",
       true,
       true,
       {4, 2, 2, 0, 0, 0},
       {"1|dst|1", "2|b|20", "3|dst|3", "4|d|40"}},
      {"a mirror whose pre-check holds every row back",
       opMirror,
       "(1, 'x', 1), (2, 'x', 2), (3, 'x', 3), (4, 'x', 4), (9, 'x', 9)",
       true,
       true,
       {4, 4, 0, 0, 0, 1},
       {"1|x|1", "2|x|2", "3|x|3", "4|x|4"}},
      {"a failed run applied nothing",
       opInsert,
       "(3, 'there', 3)",
       false,
       false,
       {4, 0, 0, 0, 0, 0},
       {"3|there|3"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    Dst->Exec("delete from " + DstTable);
    if (!c.Before.empty()) Destination(c.Before);
    Src->Exec("update " + SrcTable + " set done = 0");
    const Rows before = DestinationRows();
    auto task = Task(c.Op, DstTable, Select() + " where done = 0 order by id", kIdNameQty,
                     "update " + SrcTable + " set done = 1 where 1=1");
    if (c.Check) task->CheckCondition = "select id from " + DstTable;

    EXPECT_EQ(Run(*task, TRunEnd::Rollback), c.Ok) << Env->LogText();
    EXPECT_EQ(Executor.Counts(), c.Want);
    EXPECT_EQ(DestinationRows(), before);
    EXPECT_EQ(Src->Count(SrcTable + " where done = 1"), "0");

    EXPECT_EQ(Run(*task), c.Ok) << Env->LogText();
    EXPECT_EQ(Executor.Counts(), c.Want);
    EXPECT_EQ(DestinationRows(), c.After);
    const int64_t copied = c.Ok ? c.Want.Read - c.Want.SkippedByCheck : 0;
    EXPECT_EQ(Src->Count(SrcTable + " where done = 1"), std::to_string(copied));
  }
}

// A run keeps its first statements as they were sent, each with its side and
// its bound values, and counts them all.
TEST_P(EngineTypesTest, TheFirstStatementsAreKeptWithTheirValues) {
  Source("(1, 'O''Brien', 10, 0), (2, 'b', 20, 0)");
  auto task = Task(opInsert, DstTable, Select() + " order by id", kIdNameQty,
                   "update " + SrcTable + " set done = 1 where 1=1");
  Executor.KeepStatements = 3;
  ASSERT_TRUE(Run(*task, TRunEnd::Rollback)) << Env->LogText();
  Executor.KeepStatements = 0;
  std::vector<std::string> sent;
  for (const TSentStatement& s : Executor.SentStatements())
    sent.push_back((s.OnSource ? "source: " : "destination: ") + s.Sql + " | " + s.Values);
  const std::string insert = "destination: insert into " + DstTable + "(id,name,qty)values";
  const std::string validation =
      "source: update " + SrcTable + " set done = 1 where 1=1 and id=1 | ";
  const std::string values1 = ":id=1, :name='O''Brien', :qty=10",
                    values2 = ":id=2, :name='b', :qty=20";
  if (Literal()) {
    EXPECT_EQ(sent, (std::vector<std::string>{insert + "(1,'O''Brien',10) | ",
                                              insert + "(2,'b',20) | ", validation}));
  } else {
    // One INSERT carries both records.
    EXPECT_EQ(sent, (std::vector<std::string>{
                        insert + "(:id,:name,:qty),(:id,:name,:qty) | " + values1 + ", " + values2,
                        validation, validation.substr(0, validation.size() - 4) + "2 | "}));
  }
  // Two validations after the inserts.
  EXPECT_EQ(Executor.SentCount(), Literal() ? 4 : 3);
}

// Rows of a (k, v) table put with parameters, so that the test's own
// statements depend on no dialect.
void PutKeyRow(TTestDatabase& Db, const std::string& Table, const std::string& Key, int V,
               int Done = -1) {
  TDbQuery q(Db.Conn());
  q.SetSQL("insert into " + Table +
           (Done < 0 ? "(k, v) values(:k, :v)" : "(k, v, done) values(:k, :v, :d)"));
  q.Param(0).SetDataType(ftString);
  q.Param(0).SetValue(Key);
  q.Param(1).SetDataType(ftInteger);
  q.Param(1).SetValue(std::to_string(V));
  if (Done >= 0) {
    q.Param(2).SetDataType(ftInteger);
    q.Param(2).SetValue(std::to_string(Done));
  }
  q.ExecSQL();
}

// Key values with backslashes and quotes, the text of an injection among
// them, find their own row and no other, and the validations, whose key
// conditions run on the source, mark only the rows copied. A literal
// destination is tried under both rules a database may have for a
// backslash in a literal (MariaDB reads it as an escape unless sql_mode has
// NO_BACKSLASH_ESCAPES; PostgreSQL only with standard_conforming_strings off).
TEST_P(EngineTypesTest, KeysWithBackslashesAndQuotesFindTheirOwnRows) {
  const std::vector<std::string> keys = {"C:\\temp\\new",  "back\\slash", "ends\\",
                                         "\\' or 1=1 -- ", "O'Brien",     "plain"};
  const std::string src = Src->CreateTable("k VARCHAR(32), v INTEGER, done INTEGER");
  const std::string dst = Dst->CreateTable("k VARCHAR(32), v INTEGER");
  struct TRule {
    std::string ProvidersLines;  // for the destination's sqlserver section
    bool Escapes;
  };
  std::vector<TRule> rules = {{"", Dst->Side() == TDbSide::MariaLiteral}};
  if (Dst->Side() == TDbSide::MariaLiteral)
    rules.push_back(
        {"InitStmt=SET sql_mode=CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')\r\n", false});
  if (Dst->Side() == TDbSide::PgLiteral)
    rules.push_back({"ConnSettings=set standard_conforming_strings=off\r\n", true});
  for (const TRule& rule : rules) {
    SCOPED_TRACE("providers lines: " + rule.ProvidersLines);
    if (Literal()) {
      Env->RouteSqlServerTo(Dst->Side(), rule.ProvidersLines);
      TDbConnection probe;
      probe.SetConnectionString(Dst->ConnectionString());
      ASSERT_DB_OK(probe.Open());
      EXPECT_EQ(probe.BackslashEscapes(), rule.Escapes);
    }
    for (int op : {opUpdateThenInsert, opUpdate, opMirror}) {
      SCOPED_TRACE("type " + std::to_string(op));
      Src->Exec("delete from " + src);
      Dst->Exec("delete from " + dst);
      for (const std::string& k : keys) {
        PutKeyRow(*Src, src, k, op, 0);
        PutKeyRow(*Dst, dst, k, 0);
      }
      // Not selected by the command: no validation may mark it.
      PutKeyRow(*Src, src, "held back", op, 2);
      PutKeyRow(*Dst, dst, "other", 0);
      auto task = Task(op, dst, "select k, v from " + src + " where done = 0", {{"k", true}, {"v"}},
                       "update " + src + " set done = 1 where 1=1");
      ASSERT_TRUE(Run(*task)) << Env->LogText();
      Rows want;
      for (const std::string& k : keys)
        want.push_back(k + "|" + std::to_string(op));
      if (op != opMirror) want.push_back("other|0");
      Rows got = Dst->Rows("select k, v from " + dst);
      std::sort(got.begin(), got.end());
      std::sort(want.begin(), want.end());
      EXPECT_EQ(got, want);
      EXPECT_EQ(Src->Rows("select done, count(*) from " + src + " group by done order by done"),
                (Rows{"1|" + std::to_string(keys.size()), "2|1"}));
    }
  }
}

TEST_P(EngineTypesTest, MirrorWithNoSourceRowsLeavesTheDestination) {
  Destination("(1, 'stay', 1), (2, 'stay', 2)");
  auto task = Task(opMirror, DstTable, Select(), kIdNameQty);
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(DestinationRows(), (Rows{"1|stay|1", "2|stay|2"}));
  EXPECT_EQ(task->RecordCount, 0);
  EXPECT_THAT(Env->LogText(), HasSubstr("mission<" + Name +
                                        "> the source gave no rows; the mirror delete is skipped"));
}

TEST_P(EngineTypesTest, TypesThatUpdateNeedAKeyField) {
  Destination("(1, 'stay', 1), (2, 'stay', 2)");
  Source("(1, 'x', 10, 0)");
  const std::vector<TMapEntry> noKey = {{"id"}, {"name"}, {"qty"}};
  for (int op : {opUpdateThenInsert, opUpdate, opMirror}) {
    auto task = Task(op, DstTable, Select(), noKey);
    EXPECT_FALSE(Run(*task)) << op;
    EXPECT_EQ(task->FailCount, 1) << op;
    EXPECT_EQ(DestinationRows(), (Rows{"1|stay|1", "2|stay|2"})) << op;
    EXPECT_THAT(Env->LogText(), HasSubstr("mission<" + Name + "> operation type " +
                                          std::to_string(op) + " needs a key field"));
  }
  EXPECT_EQ(Env->Progress(), "");  // nothing was read
}

TEST_P(EngineTypesTest, CheckConditionSkipsKeysTheDestinationHas) {
  Destination("(1, 'dst', 1), (2, 'dst', 2)");
  Source("(1, 'src', 10, 0), (2, 'src', 20, 0), (3, 'src', 30, 0), (4, 'src', 40, 0)");
  auto task = Task(opInsert, DstTable, Select(), kIdNameQty,
                   "update " + SrcTable + " set done = 1 where 1=1");
  task->CheckCondition = "select id from " + DstTable;
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(DestinationRows(), (Rows{"1|dst|1", "2|dst|2", "3|src|30", "4|src|40"}));
  EXPECT_EQ(task->RecordCount, 2);
  EXPECT_THAT(Env->Progress(), HasSubstr("record count:2\r\n"));
  // Skipped rows are neither copied nor validated.
  EXPECT_EQ(Src->Rows("select id, done from " + SrcTable + " order by id"),
            (Rows{"1|0", "2|0", "3|1", "4|1"}));

  // Without a check condition the keys of the last run no longer apply: the
  // same rows are read again (and break the primary key).
  task->CheckCondition.clear();
  EXPECT_FALSE(Run(*task));
  EXPECT_THAT(Env->Progress(), HasSubstr("record count:4\r\n"));
}

TEST_P(EngineTypesTest, MirrorKeepsRowsTheCheckConditionHeldBack) {
  Destination("(1, 'dst', 1), (2, 'dst', 2), (9, 'gone', 9)");
  Source("(1, 'src', 10, 0), (2, 'src', 20, 0), (3, 'src', 30, 0)");
  auto task = Task(opMirror, DstTable, Select(), kIdNameQty);
  task->CheckCondition = "select id from " + DstTable;
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  // Rows 1 and 2 are in the source: held back from the copy, never deleted.
  EXPECT_EQ(DestinationRows(), (Rows{"1|dst|1", "2|dst|2", "3|src|30"}));
  // Every source row known already: nothing to copy, the extra row still goes.
  Dst->Exec("insert into " + DstTable + "(id, name, qty) values (8, 'gone', 8)");
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(DestinationRows(), (Rows{"1|dst|1", "2|dst|2", "3|src|30"}));
}

TEST_P(EngineTypesTest, FailingRowLeavesTheDestinationUnchangedAndIsLogged) {
  Destination("(3, 'there', 3)");
  Source("(1, 'n1', 1, 0), (2, 'n2', 2, 0), (3, 'n3', 3, 0), (4, 'n4', 4, 0)");
  auto task = Task(opInsert, DstTable, Select(), kIdNameQty);
  EXPECT_FALSE(Run(*task));
  EXPECT_EQ(DestinationRows(), (Rows{"3|there|3"}));
  EXPECT_EQ(task->FailCount, 1);
  EXPECT_FALSE(task->Executed);
  const std::string log = Env->LogText();
  const std::string statement =
      Literal() ? "insert into " + DstTable + "(id,name,qty)values(3,'n3',3)"
                : "insert into " + DstTable + "(id,name,qty)values(:id,:name,:qty)";
  EXPECT_THAT(log, HasSubstr("execute sql: " + statement + " error,info:"));
  EXPECT_THAT(log, HasSubstr(Dst->IsPostgres()  ? "duplicate key value violates unique constraint"
                             : Dst->IsMariadb() ? "Duplicate entry '3' for key 'PRIMARY'"
                                                : "UNIQUE constraint failed"));
  EXPECT_THAT(log, HasSubstr("mission<" + Name + "> execute 1 times fail!"));
}

TEST_P(EngineTypesTest, SourceCommandThatDoesNotOpenFailsTheRun) {
  Destination("(1, 'stay', 1)");
  auto task = Task(opMirror, DstTable, "select id, name, qty from no_such_table_here", kIdNameQty);
  EXPECT_FALSE(Run(*task));
  EXPECT_EQ(task->FailCount, 1);
  EXPECT_EQ(DestinationRows(), (Rows{"1|stay|1"}));
  const std::string log = Env->LogText();
  EXPECT_THAT(log,
              HasSubstr("execute sql: select id, name, qty from no_such_table_here error,info:"));
  EXPECT_THAT(log, HasSubstr("mission<" + Name + "> execute 1 times fail!"));
}

TEST_P(EngineTypesTest, ColumnMissingFromTheSourceFailsTheRunAndNothingIsDeleted) {
  Destination("(1, 'stay', 1), (2, 'stay', 2)");
  Source("(1, 'x', 10, 0)");
  auto task = Task(opMirror, DstTable, "select id, name from " + SrcTable, kIdNameQty);
  EXPECT_FALSE(Run(*task));
  EXPECT_EQ(task->FailCount, 1);
  EXPECT_EQ(DestinationRows(), (Rows{"1|stay|1", "2|stay|2"}));
  EXPECT_THAT(Env->LogText(), HasSubstr("在试图建立内存数据集出现失败,具体错误为: "));
  // Nothing was counted as read.
  EXPECT_THAT(Env->Progress(), Not(HasSubstr("record count:")));
}

// Once a statement of a run has failed, nothing more of the run is sent: not
// the rest of the batch, not the rows after a failed check condition, not
// the mirror's delete, which would otherwise remove rows whose keys the run
// never reached (and, where the database has ended the transaction after
// the failure, remove them for good).
TEST_P(EngineTypesTest, AfterAFailedStatementNothingMoreOfTheRunIsSent) {
  {
    SCOPED_TRACE("a row the destination refuses in the middle of a mirror");
    const std::string guarded = Dst->CreateTable(
        "id INTEGER primary key, name VARCHAR(32), qty INTEGER check (qty < 1000)");
    Dst->Exec("insert into " + guarded +
              "(id, name, qty) values (1, 'old', 1), (2, 'old', 2), (8, 'extra', 8), "
              "(9, 'extra', 9)");
    Source("(1, 'a', 10, 0), (2, 'b', 20, 0), (3, 'c', 5000, 0), (4, 'd', 40, 0)");
    auto task = Task(opMirror, guarded, Select(), kIdNameQty);
    EXPECT_FALSE(Run(*task));
    EXPECT_EQ(task->FailCount, 1);
    EXPECT_EQ(Dst->Rows("select id, name, qty from " + guarded + " order by id"),
              (Rows{"1|old|1", "2|old|2", "8|extra|8", "9|extra|9"}));
    const std::string log = Env->LogText();
    // The insert of row 3 failed (the pair's insert part begins with a blank).
    EXPECT_THAT(log, ::testing::ContainsRegex("execute sql: ? insert into " + guarded +
                                              "\\(id,name,qty\\)values\\(.* error,info:"));
    EXPECT_THAT(log, Not(HasSubstr("delete from " + guarded)));
    Src->Exec("delete from " + SrcTable);
  }
  {
    SCOPED_TRACE("a check condition that fails");
    Destination("(1, 'old', 1), (9, 'extra', 9)");
    Source("(1, 'a', 10, 0), (2, 'b', 20, 0)");
    auto task = Task(opMirror, DstTable, Select(), kIdNameQty);
    task->CheckCondition = "select id from no_such_table_here";
    const size_t progress = Env->Progress().size();
    EXPECT_FALSE(Run(*task));
    EXPECT_EQ(task->FailCount, 1);
    EXPECT_EQ(DestinationRows(), (Rows{"1|old|1", "9|extra|9"}));
    EXPECT_THAT(Env->LogText(),
                HasSubstr("execute sql: select id from no_such_table_here error,info:"));
    EXPECT_EQ(Env->Progress().substr(progress), "");  // nothing was read
  }
  {
    SCOPED_TRACE("a validation that fails after the copy");
    // The copy is committed and stays a success; the delete that would
    // follow the validations is not sent. (The parameterised apply deletes
    // inside its own transaction, before the validations, and only there.)
    auto task = Task(opMirror, DstTable, Select(), kIdNameQty,
                     "update no_such_table_here set done = 1 where 1=1");
    EXPECT_TRUE(Run(*task)) << Env->LogText();
    EXPECT_EQ(DestinationRows(),
              Literal() ? (Rows{"1|a|10", "2|b|20", "9|extra|9"}) : (Rows{"1|a|10", "2|b|20"}));
    const std::string log = Env->LogText();
    EXPECT_THAT(log, HasSubstr("update no_such_table_here set done = 1 where 1=1 and"));
    if (Literal())
      EXPECT_THAT(log, HasSubstr("execute sql: delete from " + DstTable +
                                 " where not ( (id=1) or (id=2)) not sent: an earlier statement "
                                 "of the run failed (mission<" +
                                 Name + ">)"));
    else
      EXPECT_THAT(log, Not(HasSubstr("not sent")));
  }
}

// Cases that need SQLite's leniency in the source: a column keeps text that
// does not fit its declared type.
using EngineSqliteSourceTest = EngineTypesTest;

TEST_P(EngineSqliteSourceTest, ValueThatIsNoNumberIsRefusedNotRun) {
  // SQLite keeps text that does not fit its column's type, so an INTEGER
  // field can carry any text; it must reach the destination as a value.
  Source("(1, 'a', '1); delete from " + DstTable + "; --', 0)");
  Destination("(7, 'stay', 7)");
  auto task = Task(opInsert, DstTable, Select(), kIdNameQty);
  EXPECT_FALSE(Run(*task));
  EXPECT_EQ(DestinationRows(), (Rows{"7|stay|7"}));
  EXPECT_EQ(task->FailCount, 1);
}

TEST_P(EngineSqliteSourceTest, DateThatDoesNotParseEndsTheRunBeforeAnythingIsApplied) {
  const std::string src = Src->CreateTable("id INTEGER, ts TIMESTAMP");
  const std::string dst = Dst->CreateTable("id INTEGER, ts TIMESTAMP");
  Src->Exec("insert into " + src + " values (1, '2024-05-01 10:00:00'), (2, 'not a date')");
  for (int op : {opInsert, opUpdateThenInsert, opUpdate, opMirror}) {
    auto task = Task(op, dst, "select id, ts from " + src + " order by id", {{"id", true}, {"ts"}});
    EXPECT_FALSE(Run(*task)) << op;
    EXPECT_EQ(task->FailCount, 1) << op;
    EXPECT_EQ(Dst->Count(dst), "0") << op;
  }
  // The line names the value, the column and the task.
  EXPECT_THAT(Env->LogText(),
              HasSubstr("execute transaction error,info:'not a date' in column ts is not a "
                        "valid date and time (mission<" +
                        Name + ">)"));
}

// SQLite keeps a NUL byte inside a text; PostgreSQL's text types cannot hold
// one, and its driver used to cut the value short there without a word.
TEST_P(EngineSqliteSourceTest, TextWithANulByteArrivesWholeOrFailsTheRunNamingTheColumn) {
  Source("(1, 'plain', 1, 0), (2, 'a' || char(0) || 'b', 2, 0)");
  Destination("(9, 'stay', 9)");
  for (int op : {opInsert, opMirror}) {
    SCOPED_TRACE("type " + std::to_string(op));
    auto task = Task(op, DstTable, Select(), kIdNameQty);
    if (Dst->IsPostgres()) {
      EXPECT_FALSE(Run(*task));
      EXPECT_EQ(task->FailCount, 1);
      EXPECT_EQ(DestinationRows(), (Rows{"9|stay|9"}));
      EXPECT_THAT(Env->LogText(),
                  HasSubstr("the value in column name of the row with key 2 holds a "
                            "NUL byte, which the destination's text cannot hold "
                            "(mission<" +
                            Name + ">)"));
    } else {
      ASSERT_TRUE(Run(*task)) << Env->LogText();
      EXPECT_EQ(Dst->Rows("select id, hex(name) from " + DstTable + " order by id"),
                op == opInsert ? (Rows{"1|706C61696E", "2|610062", "9|73746179"})
                               : (Rows{"1|706C61696E", "2|610062"}));
      Dst->Exec("delete from " + DstTable + " where id <> 9");
    }
  }
}

// ---------------------------------------------------------------------------
// Mirrors past the plain condition form

// Many keys: the written condition would be a statement of megabytes; the
// destination compares them all the same, and a row with a NULL key stays.
TEST_P(EngineRunTest, MirrorOfManyKeys) {
  constexpr int kKeys = 50000;
  const std::string src = Src->CreateTable("id INTEGER, name VARCHAR(32)");
  // Indexed but not unique, so that it can hold a NULL key: without an index
  // every UPDATE would read the whole table.
  const std::string dst = Dst->CreateTable("id INTEGER, name VARCHAR(32)");
  Dst->Exec("create index " + dst + "_id on " + dst + "(id)");
  Src->Exec("insert into " + src + "(id, name) select i, " + Src->Concat("'n'", "i") + " from " +
            Series(kKeys));
  // Every key but the first 100, which the run inserts, and 1,000 extra rows.
  Dst->Exec("insert into " + dst + "(id, name) select i + 100, 'old' from " + Series(kKeys + 900));
  Dst->Exec("insert into " + dst + "(id, name) values (null, 'null key')");
  auto task = Task(opMirror, dst, "select id, name from " + src, {{"id", true}, {"name"}});
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(Dst->Rows("select count(*), count(id), min(id), max(id) from " + dst),
            Rows{std::to_string(kKeys + 1) + "|" + std::to_string(kKeys) + "|1|" +
                 std::to_string(kKeys)});
  EXPECT_EQ(Dst->Count(dst + " where name = " + Dst->Concat("'n'", "id")), std::to_string(kKeys));
}

// A destination row whose key compares as NULL with a source key is kept by
// the written condition "not ((a=1 and b='k1') or ...)": only a row where,
// for every source key, some key column holds another value goes.
TEST_P(EngineRunTest, MirrorDeletesARowWithANullKeyOnlyWhereAnotherColumnDiffers) {
  const std::string src = Src->CreateTable("a INTEGER, b VARCHAR(8), v INTEGER");
  const std::string dst = Dst->CreateTable("a INTEGER, b VARCHAR(8), v INTEGER");
  Src->Exec("insert into " + src + " values (1, 'k1', 10), (2, 'k2', 20)");
  Dst->Exec("insert into " + dst +
            " values (1, 'k1', 0), (null, 'k1', 0), (null, 'zz', 0), (null, null, 0), "
            "(2, null, 0), (3, null, 0), (9, 'k9', 0)");
  auto task = Task(opMirror, dst, "select a, b, v from " + src, {{"a", true}, {"b", true}, {"v"}});
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  Rows got = Dst->Rows("select a, b, v from " + dst);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (Rows{"1|k1|10", "2|<null>|0", "2|k2|20", "<null>|<null>|0", "<null>|k1|0"}));

  const std::string one = Dst->CreateTable("id INTEGER, v INTEGER");
  Dst->Exec("insert into " + one + " values (null, 0), (1, 0), (7, 0)");
  auto single = Task(opMirror, one, "select a as id, v from " + src, {{"id", true}, {"v"}});
  ASSERT_TRUE(Run(*single)) << Env->LogText();
  got = Dst->Rows("select id, v from " + one);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (Rows{"1|10", "2|20", "<null>|0"}));
}

// The destination decides which keys are equal: in a column that ignores
// letter case, "ABC" finds the row "abc" (updated, nothing inserted, nothing
// deleted).
TEST_P(EngineRunTest, KeyInOtherLetterCaseFindsItsRowInACaseInsensitiveColumn) {
  if (Dst->IsPostgres()) GTEST_SKIP() << "the test server has no case-insensitive collation";
  const std::string column =
      Dst->IsMariadb() ? "VARCHAR(32) COLLATE utf8mb4_general_ci" : "VARCHAR(32) COLLATE NOCASE";
  const std::string src = Src->CreateTable("k VARCHAR(32), v INTEGER");
  const std::string dst = Dst->CreateTable("k " + column + ", v INTEGER");
  Src->Exec("insert into " + src + " values ('ABC', 1)");
  for (int op : {opUpdateThenInsert, opMirror}) {
    SCOPED_TRACE("type " + std::to_string(op));
    Dst->Exec("delete from " + dst);
    Dst->Exec("insert into " + dst + " values ('abc', 0), ('other', 0)");
    auto task = Task(op, dst, "select k, v from " + src, {{"k", true}, {"v"}});
    ASSERT_TRUE(Run(*task)) << Env->LogText();
    Rows got = Dst->Rows("select k, v from " + dst);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, op == opMirror ? Rows{"abc|1"} : (Rows{"abc|1", "other|0"}));
  }
}

TEST_P(EngineRunTest, MirrorOfMoreThan200CompositeKeys) {
  const std::string src = Src->CreateTable("a INTEGER, b VARCHAR(8), v INTEGER");
  const std::string dst = Dst->CreateTable("a INTEGER, b VARCHAR(8), v INTEGER");
  Src->Exec("insert into " + src + " select i, " + Src->Concat("'k'", "(i % 3)") + ", i from " +
            Series(260));
  // Extra rows: keys that share a or b with a source row but not both.
  Dst->Exec("insert into " + dst + " select i, " + Dst->Concat("'k'", "((i + 1) % 3)") +
            ", 0 from " + Series(40));
  Dst->Exec("insert into " + dst + " select i + 1000, " + Dst->Concat("'k'", "(i % 3)") +
            ", 0 from " + Series(40));
  auto task = Task(opMirror, dst, "select a, b, v from " + src, {{"a", true}, {"b", true}, {"v"}});
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(Dst->Rows("select count(*), min(a), max(a), sum(v) from " + dst),
            Rows{"260|1|260|33930"});
  EXPECT_EQ(Dst->Count(dst + " where b <> " + Dst->Concat("'k'", "(a % 3)")), "0");
}

TEST_P(EngineRunTest, CheckConditionWithSeveralKeysIgnoresLetterCase) {
  const std::string src = Src->CreateTable("a INTEGER, b VARCHAR(8), v INTEGER");
  const std::string dst = Dst->CreateTable("a INTEGER, b VARCHAR(8), v INTEGER");
  Src->Exec("insert into " + src + " values (1, 'X', 10), (2, 'y', 20), (3, 'x', 30)");
  Dst->Exec("insert into " + dst + " values (1, 'x', 0), (2, 'z', 0)");
  auto task = Task(opInsert, dst, "select a, b, v from " + src, {{"a", true}, {"b", true}, {"v"}});
  task->CheckCondition = "select a, b from " + dst;  // key texts "1:x" and "2:z"
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(Dst->Rows("select a, b, v from " + dst + " order by a, v"),
            (Rows{"1|x|0", "2|z|0", "2|y|20", "3|x|30"}));
}

// ---------------------------------------------------------------------------
// $now$ and scripts

TEST_P(EngineRunTest, NowIsMidnightOfToday) {
  FixedClock clock(At(2024, 5, 1, 15, 30, 0));
  const std::string src = Src->CreateTable("id INTEGER, ts TIMESTAMP");
  const std::string dst = Dst->CreateTable("id INTEGER, ts TIMESTAMP");
  Src->Exec("insert into " + src +
            " values (1, '2024-04-30 23:59:59'), (2, '2024-05-01 00:00:00'), "
            "(3, '2024-05-01 12:00:00')");
  auto task = Task(opInsert, dst, "select id, ts from " + src + " where ts >= $NOW$",
                   {{"id", true}, {"ts"}});
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(Dst->Rows("select id, ts from " + dst + " order by id"),
            (Rows{"2|2024-05-01 00:00:00", "3|2024-05-01 12:00:00"}));
}

// Separators in every case and line end, a second separator (an empty
// statement, skipped), a commented one, $now$, and a last statement that no
// separator follows (not run).
std::string Script(const std::string& Table) {
  return ReplaceAll(
      "-- fill T\r\ninsert into T(id, name)\r\n values(1, 'a')\r\nGO\r\n  go  \r\n--go\r\n"
      "insert into T(id, name) values(2, 'b')\ngo;\rinsert into T(id, name) values(3, $now$)\r\n"
      "Go\r\ninsert into T(id, name) values(4, 'no separator follows')",
      "T(", Table + "(");
}

TEST_P(EngineRunTest, ScriptOnTheDestinationIsCutAtGoLines) {
  FixedClock clock(At(2024, 5, 1, 15, 30, 0));
  const std::string dst = Dst->CreateTable("id INTEGER, name VARCHAR(32)");
  auto task = Task(opScriptOnDestination, "", Script(dst));
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(Dst->Rows("select id, name from " + dst + " order by id"),
            (Rows{"1|a", "2|b", "3|2024-05-01 00:00:00"}));
  EXPECT_TRUE(task->Executed);
  EXPECT_EQ(Env->Progress(), "");
}

TEST_P(EngineRunTest, ScriptOnTheSourceRunsOnTheSource) {
  FixedClock clock(At(2024, 5, 1, 15, 30, 0));
  const std::string src = Src->CreateTable("id INTEGER, name VARCHAR(32)");
  auto task = Task(opScriptOnSource, "", Script(src));
  ASSERT_TRUE(Run(*task)) << Env->LogText();
  EXPECT_EQ(Src->Rows("select id, name from " + src + " order by id"),
            (Rows{"1|a", "2|b", "3|2024-05-01 00:00:00"}));
}

TEST_P(EngineRunTest, ScriptWithAFailingStatementChangesNothing) {
  const std::string dst = Dst->CreateTable("id INTEGER, name VARCHAR(32)");
  const std::string bad = "insert into no_such_table_here(id) values(2)";
  auto task = Task(opScriptOnDestination, "",
                   "insert into " + dst + "(id, name) values(1, 'a')\r\ngo\r\n" + bad +
                       "\r\ngo\r\ninsert into " + dst + "(id, name) values(3, 'c')\r\ngo\r\n",
                   {});
  EXPECT_FALSE(Run(*task));
  EXPECT_EQ(Dst->Count(dst), "0");
  EXPECT_EQ(task->FailCount, 1);
  const std::string log = Env->LogText();
  EXPECT_THAT(log, HasSubstr("execute sql: " + bad + " error,info:"));
  EXPECT_THAT(log, HasSubstr("no_such_table_here"));
}

TEST_P(EngineRunTest, ScriptWithoutStatementsFailsAndOnlySeparatorsSucceed) {
  auto none = Task(opScriptOnDestination, "", "-- nothing\r\nselect 1\r\n", {});
  EXPECT_FALSE(Run(*none));
  EXPECT_EQ(none->FailCount, 1);
  EXPECT_THAT(Env->LogText(), HasSubstr("mission<" + Name +
                                        "> the script holds no statement followed by a go line"));
  auto separators = Task(opScriptOnDestination, "", "go\r\nGO\r\n", {});
  EXPECT_TRUE(Run(*separators)) << Env->LogText();
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Runs, EngineRunTest, ::testing::ValuesIn(RunConfigs()), RunConfigName);
INSTANTIATE_TEST_SUITE_P(Runs, EngineTypesTest, ::testing::ValuesIn(RunConfigs()), RunConfigName);
INSTANTIATE_TEST_SUITE_P(Runs, EngineSqliteSourceTest, ::testing::ValuesIn(SqliteSources()),
                         RunConfigName);

}  // namespace kelvor::test
