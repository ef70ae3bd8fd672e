// A destination on a disk that fills up in the middle of a mirror: a small
// tmpfs, mounted by the test, holds the SQLite destination file, or the
// tablespace of the PostgreSQL destination table. Mounting needs root; the
// tests skip otherwise. The run fails and every destination row stays as it
// was: the rows already updated are rolled back and the mirror's delete,
// which would remove every row the run had not reached, is never sent.
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "EngineHarness.h"
#include "support/TmpfsMount.h"

namespace kelvor::test {
namespace {

using ::testing::HasSubstr;
using Rows = std::vector<std::string>;

// The source rows carry values of kValueBytes, the destination rows short
// ones: the updates make the destination grow until the disk is full, while
// a delete of most of its rows would still fit.
constexpr int kRows = 3000;
constexpr int kValueBytes = 1500;
constexpr int kOldBytes = 10;
constexpr int kExtraRows = 10;             // destination rows a mirror deletes
constexpr size_t kRoom = 1 << 20;          // free bytes left on the disk before the run
constexpr size_t kDiskBytes = 256u << 20;  // the disk while the destination is filled

// A value of Bytes of the letter, for "insert ... select".
std::string Filler(const std::string& Letter, int Bytes, bool Postgres) {
  return Postgres
             ? "repeat('" + Letter + "', " + std::to_string(Bytes) + ")"
             : "replace(hex(zeroblob(" + std::to_string(Bytes / 2) + ")), '0', '" + Letter + "')";
}

class FullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Env = std::make_unique<TEngineEnv>();
    DiskFolder = Env->Root() + "disk";
    std::filesystem::create_directories(DiskFolder);
    Disk = std::make_unique<TmpfsMount>(DiskFolder, kDiskBytes);
    if (!Disk->Mounted()) GTEST_SKIP() << "no tmpfs to fill: " << Disk->Failure();
    Src = std::make_unique<TTestDatabase>(TDbSide::SQLite, *Env, "src.db");
    SrcTable = Src->CreateTable("id INTEGER, data VARCHAR(2000)");
    Src->Exec("insert into " + SrcTable + " select i, " + Filler("n", kValueBytes, false) +
              " from " + Series(kRows));
  }
  void TearDown() override {
    Executor.DisconnectDestination();
    Executor.DisconnectSource();
    if (Disk && Disk->Mounted()) Resize(kDiskBytes);  // room to drop the tables
    Dst.reset();
    Src.reset();
  }

  // Mounts the disk again with Bytes in all, or, by default, with kRoom
  // bytes free beside what it holds now.
  void Resize(uint64_t Bytes = 0) {
    if (Bytes == 0) {
      struct statvfs s {};
      ASSERT_EQ(::statvfs(DiskFolder.c_str(), &s), 0) << std::strerror(errno);
      Bytes = static_cast<uint64_t>(s.f_blocks - s.f_bfree) * s.f_frsize + kRoom;
    }
    const std::string options = "size=" + std::to_string(Bytes);
    ASSERT_EQ(::mount("tmpfs", DiskFolder.c_str(), "tmpfs", MS_REMOUNT, options.c_str()), 0)
        << std::strerror(errno);
  }

  // A mirror of the source into Table, whose rows 1..kRows hold short values
  // and which holds kExtraRows more: it fails, and the table is as before.
  void MirrorFailsAndLeavesEveryRow(const std::string& Table) {
    const std::string before = "select count(*), min(id), max(id), sum(length(data)) from " + Table;
    const Rows rows = Dst->Rows(before);
    ASSERT_EQ(rows,
              Rows{std::to_string(kRows + kExtraRows) + "|1|" + std::to_string(kRows + kExtraRows) +
                   "|" + std::to_string((kRows + kExtraRows) * kOldBytes)});
    auto task = MakeTask(UniqueName("full_"), Src->Settings(), Dst->Settings(), opMirror, Table,
                         "select id, data from " + SrcTable + " order by id",
                         {{"id", true}, {"data", false, 2000}});
    EXPECT_FALSE(RunAsDaemon(Executor, *task, &Env->Channel));
    EXPECT_EQ(task->FailCount, 1);
    EXPECT_EQ(Dst->Rows(before), rows);
    EXPECT_EQ(Dst->Count(Table + " where data not like 'o%'"), "0");
    const std::string log = Env->LogText();
    EXPECT_THAT(
        log, HasSubstr(Dst->IsPostgres() ? "No space left on device" : "database or disk is full"));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("delete from " + Table)));
  }

  std::unique_ptr<TEngineEnv> Env;
  std::string DiskFolder;
  std::unique_ptr<TmpfsMount> Disk;
  std::unique_ptr<TTestDatabase> Src;
  std::unique_ptr<TTestDatabase> Dst;
  std::string SrcTable;
  TKelvorOperationHandler Executor{"full"};
};

TEST_F(FullDiskTest, SqliteMirrorLeavesEveryRow) {
  Dst = std::make_unique<TTestDatabase>(TDbSide::SQLite, *Env, "disk/dst.db");
  const std::string table = Dst->CreateTable("id INTEGER primary key, data VARCHAR(2000)");
  Dst->Exec("insert into " + table + " select i, " + Filler("o", kOldBytes, false) + " from " +
            Series(kRows + kExtraRows));
  Resize();
  // SQLite rolls the whole transaction back when the disk is full.
  MirrorFailsAndLeavesEveryRow(table);
}

TEST_F(FullDiskTest, PostgresMirrorLeavesEveryRow) {
  SKIP_WITHOUT_POSTGRES();
  for (TDbSide side : {TDbSide::PgOdbc, TDbSide::PgLiteral}) {
    SCOPED_TRACE(SideName(side));
    Dst = std::make_unique<TTestDatabase>(side, *Env, "");
    // The server writes the tablespace: it runs as a user of its own, which
    // must own the folder and be able to reach it.
    struct stat data {};
    ASSERT_EQ(::stat(Dst->Scalar("select current_setting('data_directory')").c_str(), &data), 0)
        << std::strerror(errno);
    const std::string location = DiskFolder + "/" + SideName(side);
    std::filesystem::create_directories(location);
    ASSERT_EQ(::chmod(Env->Root().c_str(), 0711), 0);
    ASSERT_EQ(::chown(location.c_str(), data.st_uid, data.st_gid), 0) << std::strerror(errno);
    const std::string space = UniqueName("kts_");
    Dst->Exec("create tablespace " + space + " location '" + location + "'");
    Dst->DropAtEnd("tablespace " + space);
    const std::string table = UniqueName("kt_");
    Dst->Exec("create table " + table + "(id INTEGER primary key, data VARCHAR(2000)) tablespace " +
              space);
    Dst->DropAtEnd("table " + table);
    Dst->Exec("insert into " + table + " select i, " + Filler("o", kOldBytes, true) +
              " from generate_series(1, " + std::to_string(kRows + kExtraRows) + ") i");
    Dst->Exec("checkpoint");
    Resize();
    MirrorFailsAndLeavesEveryRow(table);
    Resize(kDiskBytes);
    Dst.reset();
  }
}

}  // namespace
}  // namespace kelvor::test
