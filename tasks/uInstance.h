// The task record: one synchronisation job ("mission") with its connection
// settings, field map, schedule and run state.
//
// Ownership: a TKelvorInstance owns Source, Destination, FieldMaps (and, once
// the task file reader and the desktop editor are attached, its Scanner and
// Editor). It does not own Owner (the catalogue) or Channel (the registry owns
// every channel).
// Threads: the definition fields are written on the window thread only. The
// task's daemon thread and its executor use the record while it runs:
//  - Executed and StopRequested are read and written under InstanceLock only
//    (SetExecuted, RequestStop, IsFinished, ResetRunState);
//  - RunStartTime and RunEndTime are written by the daemon and read by the
//    window, each whole under its own lock (TGuarded);
//  - FailCount, NextRunDay, NextRunMonth, NextRunTime, DueMinute, DueRuns
//    and RecordCount belong to the daemon thread;
//  - ReadProblem and the schedule fields are written on the window thread,
//    under CatalogueLock once the record is listed, and the service manager
//    reads them under that lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Guarded.h"
#include "tasks/uInstanceEditor.h"
#include "tasks/uSchemaObjects.h"
#include "tasks/uTaskText.h"

namespace kelvor {

class TInstanceCollections;
class TBroadMessage;
class TXmlScanner;
class TAttrList;

// Database type codes (DbType), in the order of the dialog's type lists.
enum TDbTypeCode : int32_t {
  dbOracle = 0,
  dbSqlServer = 1,
  dbAccess = 2,
  dbOdbc = 3,
  dbDb2 = 4,
};

// Operation type codes (TFieldMapCollections::OperationType).
enum TOperationTypeCode : int32_t {
  opInsert = 0,
  opUpdateThenInsert = 1,
  opUpdate = 2,
  opScriptOnDestination = 3,
  opScriptOnSource = 4,
  opMirror = 5,
};

// Schedule modes (Mode) and planned schedule kinds (ScheduleMode).
enum TModeCode : int32_t { modeOnce = 0, modePlanned = 1, modeInterval = 2 };
enum TScheduleModeCode : int32_t { scheduleDaily = 0, scheduleWeekly = 1, scheduleMonthly = 2 };

// One side's connection settings.
class TSyncDataSource {
 public:
  std::string DbName;
  std::string DbUser;
  std::string DbPwd;
  int32_t DbType = 0;
  std::string DbServer;
};

class TSyncInstance {
 public:
  TSyncInstance() = default;
  virtual ~TSyncInstance() = default;
  TSyncInstance(const TSyncInstance&) = delete;
  TSyncInstance& operator=(const TSyncInstance&) = delete;

  // Definition (stored in the task file).
  int32_t Mode = 0;
  std::string TimePoint;
  int32_t TimeDistance = 0;
  int32_t ScheduleMode = 0;
  int32_t WeekSet = 0;
  int32_t DaySet = 0;
  std::atomic<bool> IsActive{false};  // also read by the service manager thread
  std::string Version;
  std::string MissionName;
  std::string Note;
  std::string CheckCondition;
  TInstanceCollections* Owner = nullptr;
  std::string FileName;
  // Why the task file was not read completely; empty when it was. Such a
  // record is listed, so that the operator sees and repairs it, but it never
  // runs, and its file (which holds more than the record) is never written
  // over, until the editor confirms a whole definition.
  std::string ReadProblem;

  // Run state (memory only).
  TGuarded<std::string> RunStartTime;
  TGuarded<std::string> RunEndTime;
  bool Executed = false;       // guarded by InstanceLock
  bool StopRequested = false;  // guarded by InstanceLock
  int32_t FailCount = 0;
  int32_t NextRunDay = 0;
  int32_t NextRunMonth = 0;
  std::string NextRunTime;
  TBroadMessage* Channel = nullptr;
  int32_t RecordCount = 0;
  // The due minute ("YYYY-MM-DD HH:MM") a planned or interval task last fell
  // due in, and how many runs it started in it.
  std::string DueMinute;
  int32_t DueRuns = 0;

  // Task file operations.
  virtual bool LoadFromFile(const std::string& FileName) = 0;
  virtual void SaveToFile(const std::string& FileName) = 0;
  virtual std::string SaveToText() = 0;
};

class TKelvorInstance : public TSyncInstance {
 public:
  TKelvorInstance();
  ~TKelvorInstance() override;

  TSyncDataSource Source;
  TSyncDataSource Destination;
  TFieldMapCollections FieldMaps;
  std::unique_ptr<TXmlScanner> Scanner;  // reads the task file; only its start tags are used
  std::string CurrentElement;  // upper-cased name of the element last started while reading

  // Task file operations (tasks/uInstanceFile.cpp).
  bool LoadFromFile(const std::string& FileName) override;
  void SaveToFile(const std::string& FileName) override;
  std::string SaveToText() override;
  void Save() { SaveToFile(FileName); }
  // Writes the task file (safely: a temporary file renamed over the old one);
  // false when it could not be written. SaveToFile is this without the answer.
  bool WriteTaskFile(const std::string& FileName);
  void DeleteTaskFile();
  // The scanner's start-tag event: fills the fields an element carries.
  // Throws when an integer attribute does not convert, which ends reading.
  void StartElement(const std::string& TagName, const TAttrList& Attributes);

  // Editing (window thread only). The editor is built on first use through
  // the registered factory; without one, Edit and EditNew return false.
  // Owner must be set before either is called: the name check asks it.
  bool Edit(bool ReadOnly);
  bool EditNew();
  TInstanceEditor* Editor();
  // The answer to the editor's name question: true when another record of
  // Owner is named EnteredName (exactly, case-sensitive). A listed record
  // confirming its own unchanged name is never refused; a record not yet
  // listed (an import) is refused any name already taken. No Owner: false.
  bool CheckNameClash(const std::string& EnteredName) const;

  // Schedule and run state (tasks/uInstanceSchedule.cpp).
  // Runs a planned or interval task may start within one due minute: after
  // a success none more, after this many failures it waits for its next moment.
  static constexpr int32_t kRunsPerDueMinute = 3;
  // Why the schedule can never fall due (an unknown mode or planned kind, a
  // time point that no clock shows, a day of the month outside 1..31, an
  // interval that is not positive); empty when it can.
  std::string ScheduleProblem() const;
  // ReadProblem, else ScheduleProblem: empty when the task can run.
  std::string WhyNotRunnable() const;
  void ComputeNextRun();
  void InitSchedule();
  void SetExecuted(bool Value);
  void RecordFailure();
  void ResetRunState();
  void RequestStop();
  bool IsDue();
  bool IsFinished();

 private:
  std::unique_ptr<TInstanceEditor> FEditor;
};

}  // namespace kelvor
