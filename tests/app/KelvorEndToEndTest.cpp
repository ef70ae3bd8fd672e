// The real kelvor program under Xvfb, from start to exit, on a throw-away
// installation (a copy of the program in its bin/, two tasks listed in
// tasks.ini, two SQLite files).
//
// The program is watched and driven by the probe library (KelvorProbe.cpp)
// loaded into it: the list shows the tasks, the run-once task's row turns to
// running while the probe holds the destination's write lock, and back once
// it lets go; the console shows the service's lines, the report dialog the
// run; the exit question is answered OK. The probe's PNG files land in the
// folder KELVOR_E2E_SHOTS names (scripts/e2e-screenshots), else in a
// temporary one.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DbTestSupport.h"
#include "platform/Clock.h"
#include "platform/TextFile.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

constexpr int kSourceRows = 500;

std::string Quote(const std::string& Text) {
  std::string q = "'";
  for (char c : Text)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool OnPath(const char* Program) {
  return std::system((std::string("command -v ") + Program + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(KelvorEndToEndTest, RunsAndShowsARunOnceTaskUnderXvfb) {
  if (!OnPath("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";

  test::TInstallation home(kSourceRows);
  const std::string root = home.Root();
  fs::copy_file(KELVOR_BINARY, root + "bin/kelvor");
  fs::permissions(root + "bin/kelvor", fs::perms::owner_all, fs::perm_options::add);
  // A run-once copy, and a daily task that is only listed.
  auto copy = home.CopyTask("orders_copy");
  copy->Note = "订单表一次同步";
  home.StoreTask(*copy);
  auto nightly = home.WatchTask("orders_nightly");
  nightly->IsActive = false;
  home.StoreTask(*nightly);
  home.WriteIndex({"orders_copy.xml", "orders_nightly.xml"});

  // The run, watched by the probe.
  const char* shots = std::getenv("KELVOR_E2E_SHOTS");
  const std::string out = shots && *shots ? std::string(shots) : root + "shots";
  fs::create_directories(out);
  const std::string report = home.ReportPath(Clock::Now());
  const std::string command =
      "cd " + Quote(root + "bin") + " && timeout 240 xvfb-run -a -s '-screen 0 1280x1024x24' env" +
      " QT_QPA_PLATFORM=xcb LD_PRELOAD=" + Quote(KELVOR_PROBE) + " KELVOR_PROBE_DIR=" + Quote(out) +
      " KELVOR_PROBE_TASK=orders_copy KELVOR_PROBE_ROWS=2" +
      " KELVOR_PROBE_RECORDS=" + std::to_string(kSourceRows) +
      " KELVOR_PROBE_HOLD=" + Quote(home.Destination) + " KELVOR_PROBE_REPORT=" + Quote(report) +
      " " + Quote(root + "bin/kelvor") + " >" + Quote(out + "/kelvor.out") + " 2>&1";
  const int status = std::system(command.c_str());
  const std::string probeLog = test::ReadFileOrEmpty(out + "/probe.log");
  const std::string programOut = test::ReadFileOrEmpty(out + "/kelvor.out");
  ASSERT_TRUE(WIFEXITED(status)) << probeLog << programOut;
  EXPECT_EQ(WEXITSTATUS(status), 0) << probeLog << programOut;

  // Every check of the probe passed, and it went all the way.
  std::vector<std::string> lines = SplitLines(probeLog);
  int checks = 0;
  for (const std::string& line : lines) {
    EXPECT_NE(line.rfind("fail", 0), 0u) << line;
    if (line.rfind("ok", 0) == 0) ++checks;
  }
  EXPECT_NE(probeLog.find("\ndone\n"), std::string::npos) << probeLog << programOut;
  EXPECT_GE(checks, 20) << probeLog;
  for (const char* shot :
       {"01-started", "02-running", "03-finished", "04-task-info", "05-report", "06-exit-question"})
    EXPECT_TRUE(fs::exists(out + "/" + shot + ".png")) << shot;

  // What the run left behind.
  EXPECT_EQ(home.DestinationScalar("select count(*) from t"), std::to_string(kSourceRows));
  std::vector<std::string> reportLines;
  ASSERT_TRUE(ReadLines(report, reportLines));
  ASSERT_EQ(reportLines.size(), 1u);
  EXPECT_EQ(reportLines[0].rfind("orders_copy\t", 0), 0u) << reportLines[0];
  EXPECT_NE(reportLines[0].find("\t" + std::to_string(kSourceRows) + "\t0\t"), std::string::npos)
      << reportLines[0];
}

}  // namespace
}  // namespace kelvor
