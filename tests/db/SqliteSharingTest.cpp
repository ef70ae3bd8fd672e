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
  TDbConnection check;
  check.SetConnectionString(cs);
  ASSERT_DB_OK(check.Open());
  ASSERT_DB_OK(ExecOn(check, "create table t(writer INT, n INT)"));
  constexpr int kWriters = 3, kBatches = 20, kRows = 50;
  std::atomic<bool> writing{true};
  std::vector<std::string> errors(kWriters + 1);
  // Writers insert batches in transactions; one reader counts meanwhile.
  auto work = [&](int Id) {
    try {
      TDbConnection c;
      c.SetConnectionString(cs);
      c.Open();
      TDbQuery q(c);
      q.SetPrepared(true);
      for (int b = 0; Id < kWriters && b < kBatches; ++b) {
        c.BeginTrans();
        for (int r = 0; r < kRows; ++r) {
          q.SetSQL("insert into t(writer, n) values(:w, :n)");
          q.Param(0).SetDataType(ftInteger);
          q.Param(0).SetValue(std::to_string(Id));
          q.Param(1).SetDataType(ftInteger);
          q.Param(1).SetValue(std::to_string(b * kRows + r));
          q.ExecSQL();
        }
        c.CommitTrans();
      }
      while (Id == kWriters && writing)
        ScalarOn(c, "select count(*) from t");
    } catch (const TDbError& e) {
      errors[static_cast<size_t>(Id)] = e.what();
    }
  };
  std::thread reader(work, kWriters);
  std::vector<std::thread> writers;
  for (int i = 0; i < kWriters; ++i)
    writers.emplace_back(work, i);
  for (std::thread& t : writers)
    t.join();
  writing = false;
  reader.join();
  EXPECT_EQ(errors, std::vector<std::string>(kWriters + 1));
  EXPECT_EQ(ScalarOn(check, "select count(*) from t"), std::to_string(kWriters * kBatches * kRows));
  EXPECT_EQ(ScalarOn(check, "select count(distinct writer) from t"), std::to_string(kWriters));
}

}  // namespace
}  // namespace kelvor::test
