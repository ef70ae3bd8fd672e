// kelvord --check, --run NAME and --dry-run NAME end to end over PostgreSQL
// tasks (both sides through the ODBC data source of scripts/with-postgres,
// logged in as a role of the test's own). --check must write nothing: the
// destination table's content and the server's own count of rows inserted,
// updated and deleted in it (which counts rolled-back changes too) are the
// same before and after, while the same measures do see the --run that
// follows. --dry-run changes rows and rolls them back: the content of both
// tables is the measure there.
#include <gtest/gtest.h>

#include <regex>

#include "KelvordProcess.h"
#include "platform/TextFile.h"
#include "platform/Thread.h"

namespace kelvor {
namespace {

using namespace test;

class KelvordPgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_POSTGRES();
    Home = std::make_unique<TInstallation>(-1);
    Pg = std::make_unique<TTestDatabase>(TDbSide::PgOdbc, *Home, "");
    Role = UniqueName("kr_");
    Pg->Exec("create role " + Role + " login password 'secret'");
    Pg->DropAtEnd("role " + Role);  // dropped last, after its tables
    Source = Pg->CreateTable("id integer primary key, name varchar(20)");
    Destination = Pg->CreateTable("id integer primary key, name varchar(20)");
    Pg->Exec("insert into " + Source + " values (1, 'Anna'), (2, '王芳'), (3, 'O''Brien')");
    Pg->Exec("grant select on " + Source + " to " + Role);
    Pg->Exec("grant select, insert, update, delete on " + Destination + " to " + Role);
  }

  std::shared_ptr<TKelvorInstance> Task(const std::string& Name, const std::string& Password) {
    auto task = Home->CopyTask(Name);
    for (TSyncDataSource* side : {&task->Source, &task->Destination}) {
      *side = Pg->Settings();
      side->DbUser = Role;
      side->DbPwd = "secret";
    }
    task->Destination.DbPwd = Password;
    task->FieldMaps.DstTable = Destination;
    task->FieldMaps.SetCommand("select id, name from " + Source);
    return task;
  }

  // Waits until no session of the role is left, so that the server has
  // counted whatever its sessions did.
  void WaitForSessionsToEnd() {
    ASSERT_TRUE(WaitUntil(
        [&] {
          return Pg->Scalar("select count(*) from pg_stat_activity where usename = '" + Role +
                            "'") == "0";
        },
        std::chrono::seconds(20)));
    TThread::Sleep(1500);  // sessions report their counts at most once a second
  }

  int64_t RowsChanged() {
    return std::stoll(Pg->Scalar(
        "select n_tup_ins + n_tup_upd + n_tup_del from pg_stat_user_tables where relname = '" +
        Destination + "'"));
  }
  // Of the destination table, or of another.
  std::string ContentHash(const std::string& Table = "") {
    return Pg->Scalar("select md5(coalesce(string_agg(r::text, ',' order by r::text), '')) from " +
                      (Table.empty() ? Destination : Table) + " r");
  }

  std::unique_ptr<TInstallation> Home;
  std::unique_ptr<TTestDatabase> Pg;
  std::string Role, Source, Destination;
};

TEST_F(KelvordPgTest, CheckWritesNothingAndRunCopiesTheTask) {
  auto copy = Task("pg_copy", "secret");
  auto column = Task("pg_column", "secret");
  column->FieldMaps.SetFieldMapText(
      "<id>:<id|integer|0|true>\r\n<name>:<name|varchar|20|false>\r\n<Region>:<Region|varchar|8|"
      "false>");
  auto denied = Task("pg_denied", "wrong");
  for (auto* task : {&copy, &column, &denied})
    AddListedTask(*Home, **task);
  Pg->Exec("insert into " + Destination + " values (2, 'old'), (9, 'kept')");
  Pg->Scalar("select pg_stat_force_next_flush()");  // this session's own inserts
  WaitForSessionsToEnd();
  const int64_t changedBefore = RowsChanged();
  const std::string hashBefore = ContentHash();

  ASSERT_EQ(RunKelvord(*Home, {"--check"}), 1) << KelvordOutput(*Home);
  const std::string out = KelvordOutput(*Home);
  for (const char* row : {R"(pg_copy +yes +once +at service start +ok +ok +yes\n)",
                          R"(pg_column +yes +once +at service start +ok +ok +missing: Region\n)",
                          R"(pg_denied +yes +once +at service start +ok +error +-\n)",
                          R"(pg_denied: destination: [^\n]*password authentication failed)",
                          R"(2 active tasks could not run: pg_column, pg_denied)"})
    EXPECT_TRUE(std::regex_search(out, std::regex(row))) << row << "\n" << out;
  WaitForSessionsToEnd();
  EXPECT_EQ(RowsChanged(), changedBefore);
  EXPECT_EQ(ContentHash(), hashBefore);

  ASSERT_EQ(RunKelvord(*Home, {"--run", "pg_copy"}), 0) << KelvordOutput(*Home);
  EXPECT_NE(KelvordOutput(*Home).find("[pg_copy] 同步操作成功执行."), std::string::npos);
  EXPECT_EQ(Pg->Rows("select id, name from " + Destination + " order by id"),
            (std::vector<std::string>{"1|Anna", "2|王芳", "3|O'Brien", "9|kept"}));
  // Two inserts and one update (plus one update that found no row each
  // for ids 1 and 3, which count nothing).
  ASSERT_TRUE(
      WaitUntil([&] { return RowsChanged() == changedBefore + 3; }, std::chrono::seconds(20)))
      << RowsChanged() - changedBefore;
  EXPECT_NE(ContentHash(), hashBefore);
  const std::vector<std::string> report = Home->ReportLines(Clock::Now());
  ASSERT_EQ(report.size(), 1u);
  EXPECT_NE(report[0].find("\t3\t0\tOperation execute successfully."), std::string::npos);
}

// --dry-run over PostgreSQL on both sides rolls back every transaction, the
// validations on the source included: the content of both tables is the same
// before and after, for every row-copying type and both scripts, while the
// output says what would have happened.
TEST_F(KelvordPgTest, DryRunLeavesBothTablesAsTheyWere) {
  Pg->Exec("alter table " + Source + " add column done integer default 0");
  Pg->Exec("grant update on " + Source + " to " + Role);
  Pg->Exec("insert into " + Destination + " values (2, 'old'), (9, 'kept')");
  struct TCase {
    std::string Name;
    int Op;
    std::string Command;  // empty: the copy of the source
    bool Check;
    std::vector<std::string> Lines;  // regular expressions
  };
  const TCase cases[] = {
      {"pg_insert",
       opInsert,
       "",
       true,
       {R"(rows read +3\n)", R"(skipped by the pre-check +1\n)", R"(inserted +2\n)",
        // One INSERT carries both rows.
        R"(1\. destination: insert into \w+\(id,name\)values\(:id,:name\),\(:id,:name\)\n +values: :id=1, :name='Anna', :id=3, :name='O''Brien'\n)"}},
      {"pg_upsert", opUpdateThenInsert, "", false, {R"(inserted +2\n)", R"(updated +1\n)"}},
      {"pg_update",
       opUpdate,
       "",
       false,
       {R"(updated +1\n)", R"(unchanged \(no row had the key\) +2\n)"}},
      {"pg_mirror",
       opMirror,
       "",
       false,
       {R"(inserted +2\n)", R"(updated +1\n)", R"(deleted +1\n)"}},
      {"pg_script",
       opScriptOnDestination,
       "delete from " + Destination + "\r\ngo\r\ninsert into " + Destination +
           " values (5, 'five')\r\ngo\r\n",
       false,
       {R"(statements sent +2 )"}},
      {"pg_source_script",
       opScriptOnSource,
       "update " + Source + " set name = 'changed'\r\ngo\r\n",
       false,
       {R"(statements sent +1 )"}},
  };
  for (const TCase& c : cases) {
    auto task = Task(c.Name, "secret");
    task->FieldMaps.OperationType = c.Op;
    if (c.Command.empty()) {
      task->FieldMaps.SetCommand("select id, name from " + Source + " where done = 0 order by id");
      task->FieldMaps.SetValidationSrc("update " + Source + " set done = 1 where 1=1");
    } else {
      task->FieldMaps.SetCommand(c.Command);
    }
    if (c.Check) task->CheckCondition = "select id from " + Destination;
    AddListedTask(*Home, *task);
  }
  const std::string source = ContentHash(Source), destination = ContentHash();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(RunKelvord(*Home, {"--dry-run", c.Name}), 0) << KelvordOutput(*Home);
    const std::string out = KelvordOutput(*Home);
    for (const std::string& line : c.Lines)
      EXPECT_TRUE(std::regex_search(out, std::regex(line))) << line << "\n" << out;
    EXPECT_EQ(ContentHash(Source), source);
    EXPECT_EQ(ContentHash(), destination);
  }
  EXPECT_TRUE(Home->ReportLines(Clock::Now()).empty());

  ASSERT_EQ(RunKelvord(*Home, {"--run", "pg_mirror"}), 0) << KelvordOutput(*Home);
  EXPECT_EQ(Pg->Rows("select id, name from " + Destination + " order by id"),
            (std::vector<std::string>{"1|Anna", "2|王芳", "3|O'Brien"}));
  EXPECT_NE(ContentHash(Source), source);  // the validations marked the rows
}

}  // namespace
}  // namespace kelvor
