// Task runs against real databases: the executor reads a source and writes a
// destination exactly as a task daemon makes it do (connect source, connect
// destination, Execute, disconnect both), in a throw-away installation.
//
// The run cases (EngineRunCases.cpp) are written once and instantiated per
// pair of source and destination (TDbSide, see DbTestSupport.h) by the
// SQLite, the PostgreSQL and the MariaDB programs: SQLite, PgOdbc and
// MariaOdbc take the parameterised path, PgLiteral and MariaLiteral the
// literal statement path.
#pragma once

#include <gmock/gmock.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DbTestSupport.h"
#include "engine/uKelvorOperation.h"
#include "services/uBroadMessage.h"

namespace kelvor {
// Counts in a failed expectation read as the closing lines show them.
inline void PrintTo(const TRunCounts& Counts, std::ostream* Out) {
  *Out << Counts.Text();
}
}  // namespace kelvor

namespace kelvor::test {

// An installation without databases of its own, and the channel runs post to.
class TEngineEnv : public TInstallation {
 public:
  TEngineEnv();
  TBroadMessage Channel;

  // Waits for the log writer to drain, stops it, and returns the text of
  // every log file written so far.
  std::string LogText();
  // Every progress line posted to Channel so far (CR LF after each).
  std::string Progress();

 private:
  std::string FProgress;
};

struct TMapEntry {
  std::string Name;  // source and destination column
  bool Key = false;
  int Len = 0;
};

// A task built in code, scheduled by interval so that a successful run does
// not make it "finished" for the next run.
std::unique_ptr<TKelvorInstance> MakeTask(const std::string& Name, const TSyncDataSource& Source,
                                          const TSyncDataSource& Destination, int OperationType,
                                          const std::string& DstTable, const std::string& Command,
                                          const std::vector<TMapEntry>& Maps,
                                          const std::string& ValidationSrc = "");

// One run as a daemon makes it. False when a connect or the run failed.
bool RunAsDaemon(TKelvorOperationHandler& Executor, TKelvorInstance& Task, TBroadMessage* Channel,
                 TRunEnd End = TRunEnd::Commit);

// A row source of the numbers 1..N as column i, for "insert ... select".
std::string Series(int N);
// Statement followed by a separator line, for scripts.
std::string Go(const std::string& Statement);

struct TRunConfig {
  TDbSide Source;
  TDbSide Destination;
};
std::string RunConfigName(const ::testing::TestParamInfo<TRunConfig>& Info);
// The pairs a test program runs the shared cases with (defined by each program).
std::vector<TRunConfig> RunConfigs();

class EngineRunTest : public ::testing::TestWithParam<TRunConfig> {
 protected:
  void SetUp() override;
  void TearDown() override;

  bool Literal() const { return IsLiteralSide(GetParam().Destination); }
  std::unique_ptr<TKelvorInstance> Task(int OperationType, const std::string& DstTable,
                                        const std::string& Command,
                                        const std::vector<TMapEntry>& Maps = {},
                                        const std::string& ValidationSrc = "");
  bool Run(TKelvorInstance& Task, TRunEnd End = TRunEnd::Commit) {
    return RunAsDaemon(Executor, Task, &Env->Channel, End);
  }

  // A run on a thread of its own, as a daemon makes it; FinishRun waits for
  // it and answers its result.
  void StartRun(TKelvorInstance& Task);
  bool FinishRun();
  // PostgreSQL only: the process id of the session sleeping in a statement
  // that mentions Marker ("<no row>" when none shows within ten seconds); a
  // sequence dropped at the end, and the last value it handed out.
  std::string SleepingBackend(const std::string& Marker);
  std::string NewSequence();
  std::string SequenceValue(const std::string& Seq);

  std::unique_ptr<TEngineEnv> Env;
  std::unique_ptr<TTestDatabase> Src;
  std::unique_ptr<TTestDatabase> Dst;
  TKelvorOperationHandler Executor{"test"};
  std::string Name;  // the task's name, unique to the test
  std::thread Worker;
  bool Result = false;
};

}  // namespace kelvor::test
