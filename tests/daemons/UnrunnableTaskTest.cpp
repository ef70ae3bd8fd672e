// Listed tasks that cannot run: a task file cut at every byte either loads
// as the whole task or cannot run, and the service says what cannot run and
// why (log and service channel) while it runs the rest, against real files.
#include <gtest/gtest.h>

#include "DbTestSupport.h"
#include "daemons/uNotifyService.h"
#include "platform/TextFile.h"
#include "services/uBroadMessage.h"
#include "tasks/uInstanceCollections.h"

namespace kelvor {
namespace {

using test::At;
using test::WaitUntil;

// The text of a task as its file holds it: the installation's copy task with
// four fields.
std::string TaskText(const test::TInstallation& Home, const std::string& Name, bool Active = true) {
  auto task = Home.CopyTask(Name);
  task->IsActive = Active;
  task->FieldMaps.SetCommand("select id, name\r\nfrom t");
  task->FieldMaps.SetFieldMapText(
      "<id>:<id|integer|0|true>\r\n<name>:<name|varchar|20|false>\r\n"
      "<name>:<label|varchar|20|false>\r\n<id>:<code|integer|0|false>");
  return task->SaveToText();
}

// The same text cut inside its field list, as a disk that filled up leaves it.
std::string CutInFieldList(const std::string& Text) {
  return Text.substr(0, Text.find("<field src= \"name\" dst =\"label\"") + 24);
}

TEST(TruncationSweepTest, EveryCutLoadsTheWholeTaskOrCannotRun) {
  test::TInstallation home;
  const std::string full = TaskText(home, "sweep");
  const size_t whole = full.find("</xml>") + 6;  // from here on every cut is the whole task
  const std::string file = home.TaskFolder() + "sweep.xml";
  home.WriteIndex({"sweep.xml"});
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    test::WriteFileOrDie(file, full.substr(0, cut));
    TInstanceCollections missions;
    missions.SetFolder(home.TaskFolder());
    missions.LoadAll();
    ASSERT_EQ(missions.Count(), 1) << cut;  // listed and loaded, so the window shows it
    std::shared_ptr<TKelvorInstance> task = missions.GetItem(0);
    const std::string reason = NotRunnableReason(*task, true);
    if (cut < whole) {
      EXPECT_NE(reason, "") << "cut at " << cut << " would run";
    } else {
      EXPECT_EQ(reason, "") << cut;
      EXPECT_EQ(task->SaveToText(), full) << cut;
    }
  }
}

class UnrunnableTaskTest : public ::testing::Test {
 protected:
  std::string Name(const std::string& Base) { return test::UniqueName(Base); }
  void Store(const std::shared_ptr<TKelvorInstance>& Task) { Home.StoreTask(*Task); }
  bool Has(const std::vector<std::string>& Lines, const std::string& Part) {
    for (const auto& line : Lines)
      if (line.find(Part) != std::string::npos) return true;
    return false;
  }

  test::FixedClock Clock{At(2026, 12, 7, 9, 0, 0)};
  test::TInstallation Home;
};

TEST_F(UnrunnableTaskTest, TheServiceSaysWhatCannotRunAndRunsTheRest) {
  const std::string ok = Name("ok"), cut = Name("cut"), idleCut = Name("idle_cut"),
                    zero = Name("zero"), mode = Name("mode");
  Store(Home.CopyTask(ok));
  test::WriteFileOrDie(Home.TaskFolder() + cut + ".xml", CutInFieldList(TaskText(Home, cut)));
  test::WriteFileOrDie(Home.TaskFolder() + idleCut + ".xml",
                       CutInFieldList(TaskText(Home, idleCut, false)));
  auto zeroTask = Home.CopyTask(zero);
  zeroTask->Mode = modeInterval;
  zeroTask->TimeDistance = 0;
  Store(zeroTask);
  auto modeTask = Home.CopyTask(mode);
  modeTask->Mode = 99;
  Store(modeTask);
  Home.WriteIndex({ok + ".xml", cut + ".xml", idleCut + ".xml", zero + ".xml", mode + ".xml"});

  TInstanceCollections missions;
  missions.SetFolder(Home.TaskFolder());
  ASSERT_TRUE(missions.LoadAll());
  ASSERT_EQ(missions.Count(), 5);
  EXPECT_EQ(CountNotRunnable(missions), 4);

  auto manager = std::make_shared<TRevoroProxyService>(&missions);
  manager->Resume();
  ASSERT_TRUE(WaitUntil([&] {
    return manager->Started() && missions.FindByName(ok)->RunEndTime.Get() != "" &&
           manager->RunningDaemonCount() == 0 && !AnyDaemonRunning();
  }));
  // A start request and an addition while the service runs are refused too.
  TBroadMessage* zeroChannel = test::NewChannel(zero);
  zeroChannel->RequestStart();
  ASSERT_TRUE(WaitUntil([&] { return !zeroChannel->IsStartRequested(); }));
  manager->AddMission(missions.FindByName(mode));
  RequestServiceStop(*manager, missions, 0);
  ASSERT_TRUE(manager->WaitFor(std::chrono::seconds(20)));

  const std::vector<std::string> lines = SplitLines(manager->ServiceChannel->TakeText());
  const std::string folder = Home.TaskFolder();
  const std::string expected[] = {
      "任务<" + cut + ">不能运行: the file ends before its root element closes",
      "任务<" + idleCut + ">不能运行: the file ends before its root element closes",
      "任务<" + zero + ">不能运行: its interval of 0 minutes is not positive (task file " + folder +
          zero + ".xml)",
      "任务<" + mode + ">不能运行: its schedule mode 99 is none of",
      "任务<" + ok + ">已经运行...",
  };
  for (const std::string& part : expected)
    EXPECT_TRUE(Has(lines, part)) << part;
  int zeroLines = 0, modeLines = 0;
  for (const auto& line : lines) {
    zeroLines += line.rfind("任务<" + zero + ">不能运行", 0) == 0;
    modeLines += line.rfind("任务<" + mode + ">不能运行", 0) == 0;
  }
  EXPECT_EQ(zeroLines, 2);  // at the start and for the start request
  EXPECT_EQ(modeLines, 2);  // at the start and for the addition
  const std::vector<std::string> log = Home.LogLines(At(2026, 12, 7));
  for (const std::string& part : std::vector<std::string>{
           "mission<" + cut + "> cannot run: the file ends before its root element closes",
           "mission<" + zero + "> cannot run: its interval of 0 minutes is not positive"})
    EXPECT_TRUE(Has(log, part)) << part;

  // Only the whole task ran, once; nothing that cannot run got a daemon.
  EXPECT_EQ(Home.ReportLines(At(2026, 12, 7)).size(), 1u);
  EXPECT_EQ(Home.DestinationScalar("select count(*) from t"), "3");
  for (const std::string& name : std::vector<std::string>{cut, idleCut, mode})
    EXPECT_EQ(GetBroadMessageHandler()->Find(name), nullptr) << name;
  EXPECT_EQ(zeroChannel->GetRunState(), 0);
}

}  // namespace
}  // namespace kelvor
