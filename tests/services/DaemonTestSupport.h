// A throw-away installation for tests of the task daemons and the service
// manager: <temp>/bin is the program folder and the current directory, with
// logs/, reports/ and data/ beside it, and two SQLite files (source.db with a
// table of rows, destination.db with the same table empty).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DbTestSupport.h"
#include "ServiceTestSupport.h"
#include "platform/TextFile.h"
#include "platform/Thread.h"
#include "services/uBroadMessage.h"
#include "services/uLogService.h"
#include "services/uReportService.h"
#include "tasks/uInstance.h"

namespace kelvor::test {

class TServiceInstallation {
 public:
  explicit TServiceInstallation(int SourceRows = 3) : FCwd(FHome.BinFolder()) {
    Folder("logs");
    Folder("reports");
    Source = FHome.CreateSqliteFile("source.db");
    Destination = FHome.CreateSqliteFile("destination.db");
    TDbConnection src, dst;
    src.SetConnectionString(AccessConnectionString(Source));
    dst.SetConnectionString(AccessConnectionString(Destination));
    src.Open();
    dst.Open();
    ExecOn(src, "create table t(id integer primary key, name varchar(20))");
    ExecOn(dst, "create table t(id integer primary key, name varchar(20))");
    src.BeginTrans();
    for (int i = 1; i <= SourceRows; ++i)
      ExecOn(src,
             "insert into t values(" + std::to_string(i) + ",'row " + std::to_string(i) + "')");
    src.CommitTrans();
  }

  ~TServiceInstallation() {
    // Everything queued is written before the folders go away.
    StopLogService(std::chrono::milliseconds(2000));
    StopReportService(std::chrono::milliseconds(2000));
  }

  std::string Folder(const std::string& Name) const {
    std::string path = FHome.Root() + Name;
    std::filesystem::create_directories(path);
    return path + "/";
  }

  // A run-once copy of table t from source.db to destination.db.
  std::shared_ptr<TKelvorInstance> CopyTask(const std::string& Name) const {
    auto task = std::make_shared<TKelvorInstance>();
    task->MissionName = Name;
    task->IsActive = true;
    task->Mode = modeOnce;
    task->TimePoint = "17:30";
    task->Source = SqliteDataSource(Source);
    task->Destination = SqliteDataSource(Destination);
    task->FieldMaps.DstTable = "t";
    task->FieldMaps.OperationType = opUpdateThenInsert;
    task->FieldMaps.SetCommand("select * from t");
    task->FieldMaps.SetFieldMapText("<id>:<id|integer|0|true>\r\n<name>:<name|varchar|20|false>");
    return task;
  }

  // The same task with a source file that does not exist: every connect fails.
  std::shared_ptr<TKelvorInstance> FailingTask(const std::string& Name) const {
    auto task = CopyTask(Name);
    task->Source.DbName = FHome.Root() + "missing.db";
    return task;
  }

  std::string DestinationScalar(const std::string& Sql) const {
    TDbConnection dst;
    dst.SetConnectionString(AccessConnectionString(Destination));
    dst.Open();
    return ScalarOn(dst, Sql);
  }

  // Lines of a day's log or report file, once the writers have drained.
  std::vector<std::string> LogLines(const TDateTime& Day) {
    StopLogService(std::chrono::milliseconds(2000));
    std::vector<std::string> lines;
    ReadLines(FHome.Root() + "logs/log" + FormatDayStamp(Day) + ".txt", lines);
    return lines;
  }
  std::vector<std::string> ReportLines(const TDateTime& Day) {
    StopReportService(std::chrono::milliseconds(2000));
    std::vector<std::string> lines;
    ReadLines(FHome.Root() + "reports/report" + FormatDayStamp(Day) + ".txt", lines);
    return lines;
  }

  std::string Source;
  std::string Destination;

 private:
  TDbTestHome FHome;
  CurrentDirectoryScope FCwd;
};

// A fresh channel registered under Key in the process-wide registry.
inline TBroadMessage* NewChannel(const std::string& Key) {
  TBroadMessage* channel =
      GetBroadMessageHandler()->Register(Key, std::make_unique<TBroadMessage>());
  if (Key.front() != '{') channel->SetMissionName(Key);
  return channel;
}

inline std::vector<std::string> TakeLines(TBroadMessage* Channel) {
  return SplitLines(Channel->TakeText());
}

// Waits (polling) until Condition holds or Timeout passes.
template <typename TCondition>
bool WaitUntil(TCondition Condition, std::chrono::milliseconds Timeout = std::chrono::seconds(20)) {
  auto end = std::chrono::steady_clock::now() + Timeout;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    TThread::Sleep(10);
  }
  return true;
}

}  // namespace kelvor::test
