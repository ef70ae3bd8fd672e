// The Debian package that scripts/package builds (its path in KELVOR_DEB; the
// tests skip without it), unpacked into a scratch root with dpkg -x: what it
// installs where, the installed kelvord running the demo tasks from that root,
// and its systemd unit as systemd-analyze sees it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>

#include "platform/TextFile.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using test::ReadFileOrEmpty;

using Outcome = test::TShellOutcome;
using test::RunShell;

bool HaveTool(const std::string& Name) {
  return RunShell("command -v " + Name).Status == 0;
}

void LoadSqlScript(const std::string& Database, const std::string& Script) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Database.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, ReadFileOrEmpty(Script).c_str(), nullptr, nullptr, &error);
  const std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << Script << ": " << message;
}

class PackageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* deb = std::getenv("KELVOR_DEB");
    if (!deb || !*deb) return;
    Deb = deb;
    Scratch = std::make_unique<test::TempDir>();
    Unpacked = RunShell("dpkg -x '" + Deb + "' '" + Root() + "' && dpkg-deb -e '" + Deb + "' '" +
                        Scratch->Path() + "control'");
  }
  static void TearDownTestSuite() { Scratch.reset(); }

  void SetUp() override {
    if (Deb.empty())
      GTEST_SKIP() << "KELVOR_DEB is not set: scripts/test builds the package with "
                      "scripts/package and names it there";
    ASSERT_EQ(Unpacked.Status, 0) << Unpacked.Output;
  }

  static std::string Root() { return Scratch->Path() + "root/"; }
  static std::string Prefix() { return Root() + "opt/kelvor/"; }
  static std::string Field(const std::string& Name) {
    return RunShell("dpkg-deb -f '" + Deb + "' " + Name).Output;
  }

  static std::string Deb;
  static std::unique_ptr<test::TempDir> Scratch;
  static Outcome Unpacked;
};

std::string PackageTest::Deb;
std::unique_ptr<test::TempDir> PackageTest::Scratch;
Outcome PackageTest::Unpacked;

TEST_F(PackageTest, InstallsTheLayoutTheSystemFilesAndTheMaintainerScripts) {
  const std::string depends = Field("Depends"), recommends = Field("Recommends");
  for (const char* package :
       {"adduser", "libqt6widgets6", "libqt6core6", "qt6-qpa-plugins", "libsqlite3-0", "libodbc2"})
    EXPECT_TRUE(std::regex_search(depends, std::regex(std::string("(^|, )") + package + "\\b")))
        << package << " in " << depends;
  for (const char* driver : {"odbc-postgresql", "odbc-mariadb", "tdsodbc", "odbc-mdbtools"})
    EXPECT_NE(recommends.find(driver), std::string::npos) << driver << " in " << recommends;

  for (const char* program : {"bin/kelvord", "bin/kelvor"})
    EXPECT_EQ(access((Prefix() + program).c_str(), X_OK), 0) << program;
  for (const char* folder : {"tasks/dbtasks", "logs", "reports", "conf", "data"})
    EXPECT_TRUE(fs::is_directory(Prefix() + folder)) << folder;
  EXPECT_TRUE(fs::exists(Prefix() + "conf/server.ini"));
  // The operator's list of tasks is made by the package's script, never
  // shipped, so that an upgrade cannot replace it.
  EXPECT_FALSE(fs::exists(Prefix() + "tasks/dbtasks/tasks.ini"));
  for (const char* file :
       {"lib/systemd/system/kelvord.service", "usr/share/applications/kelvor.desktop",
        "usr/share/icons/hicolor/scalable/apps/kelvor.svg", "usr/share/man/man1/kelvord.1.gz",
        "usr/share/man/man1/kelvor.1.gz"})
    EXPECT_TRUE(fs::exists(Root() + file)) << file;
  // Installed, not enabled: no link into a target's wants.
  EXPECT_FALSE(fs::exists(Root() + "etc"));

  const std::string control = Scratch->Path() + "control/";
  EXPECT_EQ(ReadFileOrEmpty(control + "conffiles"), "/opt/kelvor/conf/server.ini\n");
  for (const char* script : {"postinst", "prerm", "postrm"}) {
    EXPECT_EQ(access((control + script).c_str(), X_OK), 0) << script;
    const Outcome syntax = RunShell("sh -n '" + control + script + "'");
    EXPECT_EQ(syntax.Status, 0) << script << ": " << syntax.Output;
    EXPECT_EQ(ReadFileOrEmpty(control + script).find("systemctl enable"), std::string::npos);
  }

  for (const char* page : {"kelvord", "kelvor"}) {
    if (!HaveTool("man")) break;
    const Outcome man = RunShell("LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l '" +
                                 Root() + "usr/share/man/man1/" + page + ".1.gz' >/dev/null");
    EXPECT_EQ(man.Status, 0) << page;
    EXPECT_EQ(man.Output, "") << page;
  }
  if (HaveTool("desktop-file-validate")) {
    const Outcome desktop =
        RunShell("desktop-file-validate '" + Root() + "usr/share/applications/kelvor.desktop'");
    EXPECT_EQ(desktop.Status, 0) << desktop.Output;
    EXPECT_EQ(desktop.Output, "");
  }
}

TEST_F(PackageTest, TheInstalledServiceRunsTheDemoTasks) {
  // A copy of the unpacked installation, run from its own folder as the
  // unit runs it, with no --home: the program finds everything beside itself.
  test::TempDir copy;
  fs::copy(Prefix(), copy.Path() + "kelvor", fs::copy_options::recursive);
  const std::string home = copy.Path() + "kelvor/";
  const std::string demo = std::string(KELVOR_SOURCE_DIR) + "/examples/demo/";
  for (const auto& entry : fs::directory_iterator(demo + "tasks"))
    fs::copy_file(entry.path(), home + "tasks/dbtasks/" + entry.path().filename().string());
  LoadSqlScript(home + "data/source.db", demo + "source.sql");
  LoadSqlScript(home + "data/destination.db", demo + "destination.sql");

  const Outcome check = RunShell("cd / && '" + home + "bin/kelvord' --check");
  EXPECT_EQ(check.Status, 0) << check.Output;
  EXPECT_NE(check.Output.find("every active task could run"), std::string::npos) << check.Output;

  const Outcome run = RunShell("cd / && '" + home + "bin/kelvord' --until-idle");
  ASSERT_EQ(run.Status, 0) << run.Output;
  std::vector<std::string> report;
  ASSERT_TRUE(ReadLines(home + "reports/report" + FormatDayStamp(Clock::Now()) + ".txt", report))
      << run.Output;
  EXPECT_EQ(report.size(), 5u);
  for (const std::string& line : report)
    EXPECT_NE(line.find("\t0\tOperation execute successfully."), std::string::npos) << line;
  const Outcome orders =
      RunShell("sqlite3 '" + home + "data/destination.db' 'select count(*) from orders'");
  EXPECT_EQ(orders.Output, "3000\n");
}

TEST_F(PackageTest, TheUnitPassesSystemdAnalyzeVerify) {
  if (!HaveTool("systemd-analyze")) GTEST_SKIP() << "systemd-analyze is not installed";
  // The scratch root gets the system's own units, so that the targets the
  // unit names resolve; its program and man page are the package's own.
  test::TempDir root;
  ASSERT_EQ(RunShell("cp -a '" + Root() + ".' '" + root.Path() + "' && mkdir -p '" + root.Path() +
                     "usr/lib/systemd' && cp -a /lib/systemd/system '" + root.Path() +
                     "usr/lib/systemd/'")
                .Status,
            0);
  const Outcome verify =
      RunShell("MANPATH='" + root.Path() + "usr/share/man' systemd-analyze --root='" + root.Path() +
               "' verify /lib/systemd/system/kelvord.service");
  EXPECT_EQ(verify.Status, 0) << verify.Output;
  EXPECT_EQ(verify.Output, "");
  const std::string unit = ReadFileOrEmpty(root.Path() + "lib/systemd/system/kelvord.service");
  for (const char* setting : {"\nUser=kelvor\n", "\nExecStart=/opt/kelvor/bin/kelvord\n",
                              "\nKillSignal=SIGTERM\n", "\nRestart=on-failure\n"})
    EXPECT_NE(unit.find(setting), std::string::npos) << setting;
}

}  // namespace
}  // namespace kelvor
