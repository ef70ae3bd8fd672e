// kelvord end to end: the real program on a temporary installation with
// SQLite databases, started as an operator or systemd would start it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "DbTestSupport.h"
#include "platform/TextFile.h"
#include "tasks/uInstanceCollections.h"

extern char** environ;

namespace kelvor {
namespace {

// <temp>/bin (the --home folder), tasks/dbtasks, logs, reports, data.
class Installation {
 public:
  Installation() {
    for (const char* f : {"bin", "tasks/dbtasks", "logs", "reports", "data"})
      std::filesystem::create_directories(Dir.Path() + f);
    Catalogue.SetFolder(Dir.Path() + "tasks/dbtasks/");
  }

  std::string Root() const { return Dir.Path(); }
  std::string Db(const std::string& Name) const { return Dir.Path() + "data/" + Name; }

  // Creates an SQLite database file and runs Sql on it.
  void CreateDatabase(const std::string& Name, const std::string& Sql) {
    TDbConnection c;
    std::string path = Db(Name);
    test::WriteFileOrDie(path, "");
    c.SetConnectionString(test::AccessConnectionString(path));
    c.Open();
    for (const auto& statement : SplitStatements(Sql))
      test::ExecOn(c, statement);
  }

  std::string Scalar(const std::string& Name, const std::string& Sql) const {
    TDbConnection c;
    c.SetConnectionString(test::AccessConnectionString(Db(Name)));
    c.Open();
    return test::ScalarOn(c, Sql);
  }

  // A run-once task copying table t of source.db into destination.db; the
  // databases are named relative to the program folder, as an operator would.
  std::shared_ptr<TKelvorInstance> AddTask(const std::string& Name, int OperationType) {
    auto task = std::make_shared<TKelvorInstance>();
    task->MissionName = Name;
    task->IsActive = true;
    task->Source.DbType = dbAccess;
    task->Source.DbName = "..\\data\\source.db";
    task->Destination.DbType = dbAccess;
    task->Destination.DbName = "../data/destination.db";
    task->FieldMaps.DstTable = "t";
    task->FieldMaps.OperationType = OperationType;
    task->FieldMaps.SetCommand("select * from t");
    task->FieldMaps.SetFieldMapText("<id>:<id|integer|0|true>\n<name>:<name|varchar|40|false>");
    Catalogue.Add(task);
    EXPECT_TRUE(Catalogue.SaveMission(*task));
    Catalogue.SaveIndex();
    return task;
  }

  // Starts kelvord --home <bin> Args..., standard output and error to a file.
  pid_t Start(std::vector<std::string> Args) {
    Args.insert(Args.begin(), {KELVORD_PATH, "--home", Dir.Path() + "bin"});
    std::vector<char*> argv;
    for (auto& a : Args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, OutputPath().c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, KELVORD_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // Runs kelvord to its end; its exit status.
  int Run(std::vector<std::string> Args) { return Wait(Start(std::move(Args))); }

  static int Wait(pid_t Pid) {
    int status = 0;
    if (waitpid(Pid, &status, 0) != Pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string OutputPath() const { return Dir.Path() + "kelvord.out"; }
  std::string Output() const { return test::ReadFileOrEmpty(OutputPath()); }
  std::string Today(const std::string& Folder, const std::string& Prefix) const {
    time_t t = time(nullptr);
    char day[16];
    strftime(day, sizeof day, "%Y%m%d", localtime(&t));
    return test::ReadFileOrEmpty(Dir.Path() + Folder + "/" + Prefix + day + ".txt");
  }

  TInstanceCollections Catalogue;

 private:
  static std::vector<std::string> SplitStatements(const std::string& Sql) {
    std::vector<std::string> r;
    size_t start = 0, semi;
    while ((semi = Sql.find(";\n", start)) != std::string::npos) {
      r.push_back(Sql.substr(start, semi - start));
      start = semi + 2;
    }
    if (start < Sql.size()) r.push_back(Sql.substr(start));
    return r;
  }

  test::TempDir Dir;
};

const char* kTable = "create table t(id integer primary key, name varchar(40))";

TEST(KelvordTest, RunsTheTasksUntilIdleAndWritesReportAndLog) {
  Installation home;
  home.CreateDatabase("source.db", std::string(kTable) + ";\n" +
                                       "insert into t values(1,'Anna');\n"
                                       "insert into t values(2,'王芳');\n"
                                       "insert into t values(3,'O''Brien')");
  home.CreateDatabase("destination.db", std::string(kTable) + ";\n" +
                                            "insert into t values(2,'old');\n"
                                            "insert into t values(9,'gone')");
  home.AddTask("mirror", opMirror);
  ASSERT_EQ(home.Run({"--until-idle"}), 0) << home.Output();

  EXPECT_EQ(home.Scalar("destination.db", "select group_concat(id || '=' || name, ',') from t"),
            "1=Anna,2=王芳,3=O'Brien");
  const std::string out = home.Output();
  EXPECT_NE(out.find("启动完成."), std::string::npos) << out;
  EXPECT_NE(out.find("[mirror] record count:3"), std::string::npos) << out;
  EXPECT_NE(out.find("[mirror] 同步操作成功执行."), std::string::npos) << out;
  EXPECT_NE(out.find("任务<mirror>已经停止."), std::string::npos) << out;
  EXPECT_NE(out.find("数据同步服务已经停止."), std::string::npos) << out;
  const std::string report = home.Today("reports", "report");
  EXPECT_NE(report.find("\t3\t0\tOperation execute successfully.\r\n"), std::string::npos)
      << report;
  EXPECT_EQ(report.substr(0, 7), "mirror\t");
}

TEST(KelvordTest, FailedRunGivesStatusOneAndLogLines) {
  Installation home;
  home.CreateDatabase("source.db", kTable);
  auto task = home.AddTask("broken", opInsert);
  task->Source.DbName = "../data/missing.db";
  ASSERT_TRUE(home.Catalogue.SaveMission(*task));
  EXPECT_EQ(home.Run({"--until-idle"}), 1) << home.Output();
  const std::string log = home.Today("logs", "log");
  EXPECT_NE(log.find("connect to database error ,info: "), std::string::npos) << log;
  EXPECT_NE(log.find("mission<broken> execute 3 times fail!"), std::string::npos) << log;
  EXPECT_TRUE(home.Today("reports", "report").empty());
}

TEST(KelvordTest, UsageErrorsAndMissingTasksGiveStatusTwo) {
  Installation home;
  EXPECT_EQ(home.Run({"--no-such-option"}), 2);
  EXPECT_NE(home.Output().find("usage: kelvord"), std::string::npos);
  EXPECT_EQ(home.Run({"--until-idle"}), 2);
  EXPECT_NE(home.Output().find("tasks/dbtasks/tasks.ini"), std::string::npos) << home.Output();
}

TEST(KelvordTest, TerminateDuringALongBatchRollsBackAndExitsCleanly) {
  Installation home;
  // Every insert into the destination does some work, so the batch takes
  // seconds and the stop request arrives while it runs.
  home.CreateDatabase("source.db",
                      std::string(kTable) +
                          ";\ninsert into t with recursive n(i) as (select 1 union all select i+1 "
                          "from n where i < 3000) select i, 'row ' || i from n");
  home.CreateDatabase("destination.db",
                      std::string(kTable) +
                          ";\ncreate trigger slow after insert on t begin select count(*) from "
                          "(with recursive c(x) as (select 1 union all select x+1 from c where "
                          "x < 40000) select x from c); end");
  home.AddTask("long", opInsert);
  pid_t pid = home.Start({});
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (home.Output().find("[long] record count:3000") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_NE(home.Output().find("[long] record count:3000"), std::string::npos) << home.Output();
  kill(pid, SIGTERM);
  EXPECT_EQ(Installation::Wait(pid), 1) << home.Output();  // the run was stopped: it failed
  const std::string out = home.Output();
  EXPECT_NE(out.find("kelvord: stop requested"), std::string::npos) << out;
  EXPECT_NE(out.find("[long] Mission has been explicit stopped!"), std::string::npos) << out;
  EXPECT_NE(out.find("数据同步服务已经停止."), std::string::npos) << out;
  EXPECT_EQ(home.Scalar("destination.db", "select count(*) from t"), "0");
  EXPECT_NE(home.Today("logs", "log").find("mission<long> execute 1 times fail!"),
            std::string::npos);
}

}  // namespace
}  // namespace kelvor
