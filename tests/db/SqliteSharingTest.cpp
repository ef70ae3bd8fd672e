// Several task threads on one SQLite file, each with its own connection
// opened on its own thread: writers wait for each other through the busy
// timeout instead of failing with "database is locked".
#include <atomic>
#include <thread>
#include <vector>

#include "DbTestSupport.h"

namespace kelvor::test {
namespace {

TEST(SqliteSharingTest, ThreadsWithTheirOwnConnectionsShareAFile) {
  TDbTestHome home;
  const std::string cs = AccessConnectionString(home.CreateSqliteFile("shared.db"));
  {
    TDbConnection setup;
    setup.SetConnectionString(cs);
    ASSERT_DB_OK(setup.Open());
    ASSERT_DB_OK(ExecOn(setup, "create table t(writer INT, n INT)"));
  }
  constexpr int kWriters = 3, kBatches = 20, kRows = 50;
  std::atomic<int> failures{0};
  std::atomic<bool> writing{true};
  std::vector<std::string> errors(kWriters + 1);
  auto writer = [&](int id) {
    try {
      TDbConnection c;
      c.SetConnectionString(cs);
      c.Open();
      TDbQuery q(c);
      q.SetPrepared(true);
      for (int b = 0; b < kBatches; ++b) {
        c.BeginTrans();
        for (int r = 0; r < kRows; ++r) {
          q.SetSQL("insert into t(writer, n) values(:w, :n)");
          q.Param(0).SetDataType(ftInteger);
          q.Param(0).SetValue(std::to_string(id));
          q.Param(1).SetDataType(ftInteger);
          q.Param(1).SetValue(std::to_string(b * kRows + r));
          q.ExecSQL();
        }
        c.CommitTrans();
      }
    } catch (const TDbError& e) {
      errors[static_cast<size_t>(id)] = e.what();
      ++failures;
    }
  };
  auto reader = [&]() {
    try {
      TDbConnection c;
      c.SetConnectionString(cs);
      c.Open();
      while (writing) {
        std::string n = ScalarOn(c, "select count(*) from t");
        if (n.empty()) throw TDbError("empty count");
      }
    } catch (const TDbError& e) {
      errors[kWriters] = e.what();
      ++failures;
    }
  };
  std::vector<std::thread> threads;
  std::thread read(reader);
  for (int i = 0; i < kWriters; ++i)
    threads.emplace_back(writer, i);
  for (std::thread& t : threads)
    t.join();
  writing = false;
  read.join();
  for (const std::string& e : errors)
    EXPECT_EQ(e, "");
  EXPECT_EQ(failures, 0);

  TDbConnection check;
  check.SetConnectionString(cs);
  ASSERT_DB_OK(check.Open());
  EXPECT_EQ(ScalarOn(check, "select count(*) from t"), std::to_string(kWriters * kBatches * kRows));
  EXPECT_EQ(ScalarOn(check, "select count(distinct writer) from t"), std::to_string(kWriters));
}

}  // namespace
}  // namespace kelvor::test
