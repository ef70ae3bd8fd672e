#include "EngineHarness.h"

#include <algorithm>
#include <filesystem>

#include "services/uLogService.h"

namespace kelvor::test {

TEngineEnv::TEngineEnv() : TInstallation(-1) {
  // A writer left by an earlier test would keep its queue; start clean.
  StopLogService(std::chrono::milliseconds(0));
}

std::string TEngineEnv::LogText() {
  StopLogService();
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(Root() + "logs"))
    files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  std::string text;
  for (const auto& f : files)
    text += ReadFileOrEmpty(f);
  return text;
}

std::string TEngineEnv::Progress() {
  FProgress += Channel.TakeText();
  return FProgress;
}

std::unique_ptr<TKelvorInstance> MakeTask(const std::string& Name, const TSyncDataSource& Source,
                                          const TSyncDataSource& Destination, int OperationType,
                                          const std::string& DstTable, const std::string& Command,
                                          const std::vector<TMapEntry>& Maps,
                                          const std::string& ValidationSrc) {
  auto task = std::make_unique<TKelvorInstance>();
  task->MissionName = Name;
  task->Mode = modeInterval;
  task->TimeDistance = 60;
  task->Source = Source;
  task->Destination = Destination;
  task->FieldMaps.OperationType = OperationType;
  task->FieldMaps.DstTable = DstTable;
  task->FieldMaps.SetCommand(Command);
  task->FieldMaps.SetValidationSrc(ValidationSrc);
  for (const TMapEntry& m : Maps) {
    auto e = std::make_unique<TFieldMap>();
    e->Src = e->Dst = m.Name;
    e->FieldLen = m.Len;
    e->IsKey = m.Key;
    task->FieldMaps.Add(std::move(e));
  }
  return task;
}

bool RunAsDaemon(TKelvorOperationHandler& Executor, TKelvorInstance& Task, TBroadMessage* Channel,
                 TRunEnd End) {
  bool ok = Executor.ConnectSource(Task.Source) && Executor.ConnectDestination(Task.Destination);
  if (ok) {
    Executor.MessageChannel = Channel;
    ok = Executor.Execute(Task, End);
  }
  Executor.DisconnectDestination();
  Executor.DisconnectSource();
  return ok;
}

std::string Series(int N) {
  return "(with recursive s(i) as (select 1 union all select i + 1 from s where i < " +
         std::to_string(N) + ") select i from s) q";
}

std::string Go(const std::string& Statement) {
  return Statement + "\r\ngo\r\n";
}

std::string RunConfigName(const ::testing::TestParamInfo<TRunConfig>& Info) {
  return SideName(Info.param.Source) + "To" + SideName(Info.param.Destination);
}

void EngineRunTest::SetUp() {
  SKIP_WITHOUT_SERVER_OF(GetParam().Source);
  SKIP_WITHOUT_SERVER_OF(GetParam().Destination);
  Env = std::make_unique<TEngineEnv>();
  Src = std::make_unique<TTestDatabase>(GetParam().Source, *Env, "src.db");
  Dst = std::make_unique<TTestDatabase>(GetParam().Destination, *Env, "dst.db");
  Name = UniqueName("mission_");
}

void EngineRunTest::TearDown() {
  if (Worker.joinable()) Worker.join();
  Executor.DisconnectDestination();
  Executor.DisconnectSource();
  Dst.reset();
  Src.reset();
  Env.reset();
}

std::unique_ptr<TKelvorInstance> EngineRunTest::Task(int OperationType, const std::string& DstTable,
                                                     const std::string& Command,
                                                     const std::vector<TMapEntry>& Maps,
                                                     const std::string& ValidationSrc) {
  return MakeTask(Name, Src->Settings(), Dst->Settings(), OperationType, DstTable, Command, Maps,
                  ValidationSrc);
}

void EngineRunTest::StartRun(TKelvorInstance& Task) {
  Worker = std::thread([this, &Task] { Result = Run(Task); });
}

bool EngineRunTest::FinishRun() {
  Worker.join();
  return Result;
}

std::string EngineRunTest::SleepingBackend(const std::string& Marker) {
  std::string pid;
  WaitUntil(
      [&] {
        pid = Dst->Scalar(
            "select pid from pg_stat_activity where wait_event = 'PgSleep' and query like '%" +
            Marker + "%' and pid <> pg_backend_pid()");
        return pid != "<no row>";
      },
      std::chrono::seconds(10));
  return pid;
}

std::string EngineRunTest::NewSequence() {
  const std::string seq = UniqueName("ks_");
  Dst->Exec("create sequence " + seq);
  Dst->DropAtEnd("sequence " + seq);
  return seq;
}

std::string EngineRunTest::SequenceValue(const std::string& Seq) {
  return Dst->Scalar("select case when is_called then last_value else 0 end from " + Seq);
}

}  // namespace kelvor::test
