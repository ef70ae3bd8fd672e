// A probe loaded into the real kelvor program (LD_PRELOAD) for its
// end-to-end test: it watches and drives the windows by their object names,
// as an operator would, and writes what it saw to probe.log and PNG files.
//
// It does nothing unless KELVOR_PROBE_DIR names its output folder. Further:
//   KELVOR_PROBE_TASK    the run-once task to follow
//   KELVOR_PROBE_ROWS    the number of rows the list must show
//   KELVOR_PROBE_HOLD    a SQLite file whose write lock is held from start-up
//                        until the task's row shows it running, so the run
//                        waits (and its row shows it) for as long as needed
//   KELVOR_PROBE_REPORT  the report file the run writes to
// probe.log: one line per check, "ok ..." or "fail ...", and "done" when
// every step was taken. The probe ends the program itself after 150 s.
//
// The probe links only Qt and SQLite (the very libraries the program uses),
// never Kelvor's own code, so it sees the program from outside.
#include <sqlite3.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimer>
#include <cstdlib>

namespace {

QString Env(const char* Name) {
  return qEnvironmentVariable(Name);
}

QString U(const char* Utf8) {
  return QString::fromUtf8(Utf8);
}

class TProbe : public QObject {
 public:
  TProbe() {
    FDir = Env("KELVOR_PROBE_DIR");
    FTask = Env("KELVOR_PROBE_TASK");
    FRows = Env("KELVOR_PROBE_ROWS").toInt();
    FReport = Env("KELVOR_PROBE_REPORT");
    QDir().mkpath(FDir);
    FLog.setFileName(FDir + "/probe.log");
    FLog.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    HoldLock(Env("KELVOR_PROBE_HOLD"));
    FClock.start();
    connect(&FTick, &QTimer::timeout, this, [this] { Tick(); });
    FTick.start(100);
  }

 private:
  void Log(const QString& Line) {
    FLog.write(Line.toUtf8() + "\n");
    FLog.flush();
  }
  void Check(bool Ok, const QString& What) {
    Log((Ok ? QStringLiteral("ok ") : QStringLiteral("fail ")) + What);
  }

  void HoldLock(const QString& Path) {
    if (Path.isEmpty()) return;
    const QByteArray p = Path.toUtf8();
    bool ok = sqlite3_open_v2(p.constData(), &FLock, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
              sqlite3_exec(FLock, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    Check(ok, "write lock of the destination held");
  }
  void ReleaseLock() {
    if (!FLock) return;
    sqlite3_exec(FLock, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(FLock);
    FLock = nullptr;
    Log("ok write lock released");
  }

  QWidget* Main() const {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == QLatin1String("frmMain")) return w;
    return nullptr;
  }
  template <typename T>
  T* Child(const char* Name) const {
    QWidget* main = Main();
    return main ? main->findChild<T*>(QLatin1String(Name)) : nullptr;
  }
  QAction* Action(const char* Name) const { return Child<QAction>(Name); }
  QTableWidget* List() const { return Child<QTableWidget>("ListViewInstances"); }
  int TaskRow() const {
    QTableWidget* list = List();
    for (int r = 0; list && r < list->rowCount(); ++r)
      if (list->item(r, 1) && list->item(r, 1)->text() == FTask) return r;
    return -1;
  }
  QString Cell(int Column) const {
    const int row = TaskRow();
    QTableWidgetItem* item = row >= 0 ? List()->item(row, Column) : nullptr;
    return item ? item->text() : QString();
  }
  QString PaneText(const char* Name) const {
    QPlainTextEdit* pane = Child<QPlainTextEdit>(Name);
    return pane ? pane->toPlainText() : QString();
  }

  void Shoot(QWidget* Window, const QString& Name) {
    for (int i = 0; i < 5; ++i)
      QApplication::processEvents();
    QScreen* screen = Window->screen();
    QPixmap shot = screen ? screen->grabWindow(Window->winId()) : QPixmap();
    if (shot.isNull()) shot = Window->grab();  // a platform without window grabs
    const QString path = FDir + "/" + Name + ".png";
    Check(!shot.isNull() && shot.save(path), "screenshot " + path);
  }

  void Tick() {
    if (FClock.elapsed() > 150000) {
      Log(QStringLiteral("fail timeout in step %1").arg(FStep));
      std::_Exit(3);
    }
    // Steps 5 and 7 wait for a modal dialog's check.
    using TStep = void (TProbe::*)();
    static const TStep steps[] = {&TProbe::StartedStep,  &TProbe::RunningStep,
                                  &TProbe::FinishedStep, &TProbe::TaskInfoStep,
                                  &TProbe::ReportStep,   nullptr,
                                  &TProbe::ExitStep,     nullptr};
    if (steps[FStep]) (this->*steps[FStep])();
  }

  // The controller's start-up has enabled the window.
  void StartedStep() {
    QWidget* main = Main();
    if (!main || !main->isVisible() || !main->isEnabled() || !List()) return;
    Check(
        List()->rowCount() == FRows,
        QStringLiteral("the list shows %1 rows (%2 expected)").arg(List()->rowCount()).arg(FRows));
    Check(TaskRow() >= 0, "the list shows the task " + FTask);
    const QString console = PaneText("MemoStatus");
    Check(console.startsWith(U("系统正在初始化\n获取所有任务信息....\n完成所有任务信息获取")),
          "the console starts with the start-up lines");
    QLabel* count = Child<QLabel>("StatusPanel0");
    Check(count && count->text() == U("任务数:") + QString::number(FRows),
          "status panel 0 reads " + (count ? count->text() : QString()));
    Check(!Action("btnStartServer")->isEnabled() && Action("btnStopServer")->isEnabled(),
          "the service buttons show a running service");
    if (TaskRow() >= 0) List()->selectRow(TaskRow());
    Shoot(main, "01-started");
    FStep = 1;
  }

  void RunningStep() {
    if (Cell(4) != U("运行中...")) return;
    Check(!Cell(2).isEmpty(), "the running row shows its start time " + Cell(2));
    Check(PaneText("MemoStatus").contains(U("任务<") + FTask + U(">已经运行...")),
          "the console shows the daemon's start line");
    Check(PaneText("MemoStatus").contains(U("启动完成.")), "the console shows the service lines");
    // The task commands follow a row when it is selected: select it anew.
    List()->clearSelection();
    List()->selectRow(TaskRow());
    Check(Action("btnStopMission")->isEnabled() && Action("N_StopMission")->isEnabled() &&
              !Action("btnStartMission")->isEnabled(),
          "stop task, not start task, is offered for the running row");
    Shoot(Main(), "02-running");
    ReleaseLock();
    FStep = 2;
  }

  void FinishedStep() {
    if (Cell(4) != U("已停止") || Cell(3).isEmpty()) return;
    Check(PaneText("MemoStatus").contains(U("任务<") + FTask + U(">已经停止.")),
          "the console shows the daemon's stop line");
    Shoot(Main(), "03-finished");
    Child<QTabWidget>("PageControl")->setCurrentIndex(1);
    FStep = 3;
  }

  void TaskInfoStep() {
    if (!PaneText("MemoInfo").contains(U("同步操作成功执行."))) return;
    Check(PaneText("MemoInfo").contains(U("开始连接目标和源数据库....")),
          "the task information shows the run's lines");
    Shoot(Main(), "04-task-info");
    Child<QTabWidget>("PageControl")->setCurrentIndex(0);
    FStep = 4;
  }

  void ReportStep() {
    QFile report(FReport);
    if (!report.open(QIODevice::ReadOnly) || report.size() == 0) return;
    FStep = 5;
    QTimer::singleShot(700, this, [this] { CheckReport(); });
    Action("btnReport")->trigger();  // modal: returns once CheckReport closed it
    FStep = 6;
  }

  void CheckReport() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    const bool shown = dialog && dialog->objectName() == QLatin1String("TMissionReportDialog");
    Check(shown, "the report dialog is shown");
    if (!shown) return;
    auto* list = dialog->findChild<QTableWidget*>(QStringLiteral("listviewReport"));
    const bool row = list && list->rowCount() >= 1 && list->item(0, 0);
    Check(row && list->item(0, 0)->text() == FTask, "the report lists the run of " + FTask);
    if (row) {
      Check(list->item(0, 3)->text() == Env("KELVOR_PROBE_RECORDS"),
            "the report counts " + list->item(0, 3)->text() + " records");
      Check(list->item(0, 4)->text() == QLatin1String("0"), "the run's result code is 0");
      list->selectRow(0);
    }
    Shoot(dialog, "05-report");
    dialog->findChild<QPushButton*>(QStringLiteral("btnClose"))->click();
  }

  void ExitStep() {
    FStep = 7;
    QTimer::singleShot(700, this, [this] { CheckExit(); });
    Action("btnExit")->trigger();
  }

  void CheckExit() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    Check(box && box->text() == U("确定退出VantrelKelvor?"), "the exit question is asked");
    if (!box) {
      std::_Exit(4);
    }
    Shoot(box, "06-exit-question");
    Log("done");
    box->button(QMessageBox::Ok)->click();
  }

  QString FDir, FTask, FReport;
  int FRows = 0;
  int FStep = 0;
  sqlite3* FLock = nullptr;
  QFile FLog;
  QTimer FTick;
  QElapsedTimer FClock;
};

void StartProbe() {
  if (Env("KELVOR_PROBE_DIR").isEmpty()) return;
  // Made once the event loop runs: the application is then fully built.
  QTimer::singleShot(0, qApp, [] { new TProbe; });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartProbe)
