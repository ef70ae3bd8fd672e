// Photographs the main window and every dialog page with sample content, so
// that their look can be checked on a real display (scripts/screenshots runs
// it under Xvfb). Usage: kelvor_screenshots [output folder]
//
// The application is set up as kelvor sets it up (InitApplication), so Qt's
// own texts are those the program shows. Beside the PNG files it writes
// captions.txt: every photographed window's caption as the X server holds it
// (read with xprop), which is what a window manager puts in the title bar.
// The last shots drive the real controller on throw-away installations:
// the row a new task gets, a task started after it was activated, and two
// copies under way, each row with its progress bar.
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QThread>
#include <QTreeWidget>
#include <cstdio>

#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "engine/udatamodule.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "services/uAlertService.h"
#include "services/uLogService.h"
#include "services/uReportService.h"
#include "shell/uAboutDialog.h"
#include "shell/uApplication.h"
#include "shell/uConfigDialog.h"
#include "shell/uDialogs.h"
#include "shell/uInstanceDialog.h"
#include "shell/uInstanceEditorBinding.h"
#include "shell/uMain.h"
#include "shell/uMainView.h"
#include "shell/uMissionDialog.h"
#include "shell/uMissionReportDialog.h"
#include "shell/uSyncFramework.h"
#include "tasks/uInstance.h"
#include "tasks/uInstanceEditor.h"

using namespace kelvor;

namespace {

QString Folder;
int Failures = 0;
QFile Captions;

void Settle() {
  for (int i = 0; i < 10; ++i) {
    QApplication::processEvents();
    QThread::msleep(20);
  }
}

// The caption the X server holds for Window ("-" off X or without xprop).
QString XCaption(QWidget& Window) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) return QStringLiteral("-");
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(Window.winId()),
                                        QStringLiteral("_NET_WM_NAME")});
  if (!xprop.waitForFinished(5000)) return QStringLiteral("-");
  return QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
}

// The window as the display shows it (not a re-rendering of the widget).
void Shoot(QWidget& Window, const char* Name) {
  Settle();
  QPixmap shot = Window.screen()->grabWindow(Window.winId());
  const QString path = Folder + "/" + Name + ".png";
  if (shot.isNull() || !shot.save(path)) {
    std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
    ++Failures;
    return;
  }
  std::printf("%s (%dx%d)\n", qPrintable(path), shot.width(), shot.height());
  if (Window.isWindow() && !Window.windowTitle().isEmpty())
    Captions.write(QByteArray(Name) + ": " + XCaption(Window).toUtf8() + "\n");
}

void SampleTask(TKelvorInstance& T) {
  T.MissionName = "orders_nightly";
  T.Version = "1.2";
  T.IsActive = true;
  T.Note = "每晚同步订单表";
  T.Mode = 1;
  T.TimePoint = "23:30";
  T.TimeDistance = 12;
  T.ScheduleMode = 1;
  T.WeekSet = 5;
  T.Source = {"/srv/data/shop.db", "reader", "secret", 2, "localhost"};
  T.Destination = {"/srv/data/warehouse.sqlite", "", "", 2, ""};
  T.FieldMaps.DstTable = "orders";
  T.FieldMaps.OperationType = 1;
  T.FieldMaps.SetCommand("select id, customer, amount, created\r\nfrom orders where copied <> 1");
  T.FieldMaps.SetValidationSrc("update orders set copied = 1 where 1=1");
  T.FieldMaps.SetFieldMapText(
      "<id>:<ID|integer|0|true>\r\n<customer>:<CUSTOMER|varchar2|64|false>\r\n"
      "<amount>:<AMOUNT|number|0|false>\r\n<created>:<CREATED|date|0|false>\r\n");
  T.CheckCondition = "select ID from orders";
}

void ShootMenu(TfrmMain& Main, QMenu* Menu, const char* Name) {
  Menu->popup(Main.mapToGlobal(QPoint(8, Main.menuBar()->height())));
  Shoot(*Menu, Name);
  Menu->hide();
}

// The windows on their own, filled with sample content.
void ShootWindows(const QString& DataFolder) {
  TfrmMain main;
  main.setEnabled(true);
  const char* rows[][7] = {
      {"1", "orders_nightly", "23:30", "23:31", "已停止", "已激活", "每晚同步订单表"},
      {"2", "customers", "08:00", "", "运行中...", "已激活", "客户资料, 每 12 分钟"},
      {"3", "stock_mirror", "", "", "已停止", "未激活，如要运行该任务，请先激活!", "库存镜像"},
      {"4", "warehouse_stock_levels_by_region_nightly", "", "", "已停止", "已激活",
       "按地区每晚同步仓库库存水平, 名称和描述过长时省略, 提示中显示全文"},
  };
  const int images[] = {0, 1, 6, 0};
  for (int r = 0; r < 4; ++r)
    main.AddMissionRow(std::vector<std::string>(rows[r], rows[r] + 7), images[r], nullptr);
  main.SelectMissionRow(0);
  for (const char* line : {"系统正在初始化", "获取所有任务信息....", "完成所有任务信息获取",
                           "2024-03-09 23:30:00 orders_nightly 开始连接目标和源数据库....\r\n"})
    TfrmMain::AddPaneLine(main.MemoStatus, line);
  main.SetStatusText(0, "任务数:4");
  main.SetStatusText(1, "请选择待修改的任务信息!");
  main.btnStopMission->setEnabled(true);
  main.show();
  Shoot(main, "main");
  ShootMenu(main, main.mnuFile, "main_menu_file");
  ShootMenu(main, main.mnuMission, "main_menu_mission");
  ShootMenu(main, main.mnuHelp, "main_menu_help");

  // The exit question as the program asks it.
  std::unique_ptr<QMessageBox> box = TDialogs::MakeMessageBox(
      &main, QMessageBox::Warning, QString::fromUtf8("确定退出VantrelKelvor?"),
      QMessageBox::Ok | QMessageBox::Cancel);
  box->show();
  Shoot(*box, "message_box");
  box->hide();

  TKelvorInstanceDialog task;
  TKelvorInstance sample;
  SampleTask(sample);
  task.LoadToEditor(sample);
  task.show();
  const char* pages[] = {"task_options", "task_content", "task_depend", "task_validate"};
  for (int p = 0; p < 4; ++p) {
    task.pgcMain->setCurrentIndex(p);
    Shoot(task, pages[p]);
  }
  task.cmbOperationType->setCurrentIndex(3);
  task.RichCommands->setPlainText(
      QStringLiteral("UPDATE ORDERS SET STATE = 2 WHERE STATE = 1\nGO\n-- archive\n"
                     "INSERT INTO ORDERS_OLD SELECT * FROM ORDERS WHERE STATE = 2\nGO"));
  task.pgcMain->setCurrentIndex(1);
  Shoot(task, "task_content_commands");
  task.pgcMain->setCurrentIndex(0);
  task.txtMissionName->setText(QString::fromUtf8("订单-每晚"));
  task.btnOkClick();
  Shoot(task, "task_notice");

  // The database file chooser of "源数据库*", opened on a folder of sample
  // files, then its list of file types.
  std::unique_ptr<QFileDialog> chooser =
      TDialogs::MakeFileChooser(&task, QString::fromUtf8(kDatabaseFileFilter), DataFolder, false);
  chooser->show();
  Shoot(*chooser, "file_chooser");
  if (auto* types = chooser->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
    types->showPopup();
    Shoot(*types->view()->window(), "file_chooser_types");
    types->hidePopup();
  }
  chooser->hide();
  task.hide();

  TKelvorInstanceDialog fresh;
  fresh.show();
  Shoot(fresh, "task_new");
  fresh.hide();

  TMissionReportDialog report;
  report.AddRow({"orders_nightly", "23:30", "23:31", "1250", "0", "同步成功,共更新1250条记录"});
  report.AddRow({"customers", "08:00", "08:00", "0", "-1",
                 "connect to database error ,info: [unixODBC][Driver Manager]Data source name not "
                 "found and no default driver specified"});
  report.AddRow({"stock_mirror", "09:10", "09:12", "87", "0", "同步成功"});
  report.show();
  report.listviewReport->selectRow(1);
  Shoot(report, "report");
  // A day without a report file: no rows, and no detail of the day before.
  TDateTime empty = Clock::Now();
  empty.Year -= 1;
  report.SetReportDate(empty);
  TReportFileHandler().LoadDay(report, report.ReportDate());
  Shoot(report, "report_day_without_report");
  report.hide();

  // The date picker's calendar, in the locale the program set.
  QCalendarWidget calendar;
  calendar.setGridVisible(true);
  calendar.show();
  Shoot(calendar, "calendar");
  calendar.hide();

  TConfigDialog config;
  config.MemoServerConfig->setPlainText(QStringLiteral("[server]\nname=kelvor\nport=9000\n"));
  config.MemoTasksConfig->setPlainText(
      QStringLiteral("#define all tasks....\norders_nightly.xml\ncustomers.xml\n"));
  config.show();
  Shoot(config, "config");
  config.hide();

  TAboutDialog about;
  about.show();
  Shoot(about, "about");
  about.hide();

  TMissionDialog pick;
  new QTreeWidgetItem(pick.lvInstance, {QStringLiteral("orders_nightly"), QStringLiteral("1.2")});
  new QTreeWidgetItem(pick.lvInstance, {QStringLiteral("customers"), QStringLiteral("1.0")});
  pick.show();
  Shoot(pick, "mission_select");
  pick.hide();

  main.setEnabled(false);
  main.SelectMissionRow(-1);
  Shoot(main, "main_disabled");
}

// A task the service watches without running it now: daily, three hours on.
void StoreWatchedTask(const std::string& TaskFolder, const std::string& Name, bool Active) {
  TKelvorInstance task;
  SampleTask(task);
  task.MissionName = Name;
  task.IsActive = Active;
  task.Note = Active ? "每天同步" : "激活后由启动任务启动";
  task.ScheduleMode = 0;
  TDateTime later = Clock::Now();
  later.Hour = (later.Hour + 3) % 24;
  task.TimePoint = FormatHHMM(later);
  task.WriteTaskFile(TaskFolder + Name + ".xml");
}

// The controller on the real windows of a throw-away installation: New
// selects the new task's row; a task activated while the service runs starts
// at "启动任务"; a task that cannot start says why in the console.
void ShootController(const QString& Root) {
  const std::string root = Root.toStdString() + "/";
  for (const char* sub : {"bin", "tasks/dbtasks", "logs", "reports", "conf"})
    QDir().mkpath(Root + "/" + sub);
  const std::string tasks = root + "tasks/dbtasks/";
  StoreWatchedTask(tasks, "orders_nightly", true);
  StoreWatchedTask(tasks, "stock_mirror", false);
  WriteLines(tasks + "tasks.ini",
             {"#define all tasks....", "orders_nightly.xml", "stock_mirror.xml"});
  SetProgramFolder(root + "bin/");
  if (::chdir((root + "bin").c_str()) != 0) ++Failures;

  TgDataModule data;
  RegisterInstanceDialog(&data);
  {
    TfrmMain main;
    TConfigDialog config(&main);
    TMissionReportDialog report(&main);
    TMainWindowView view(main, config, report);
    std::unique_ptr<TSyncFramework> framework = CreateSyncFramework(view);
    main.show();
    framework->ReadyTimer();
    Settle();

    // New: the dialog is filled and confirmed as an operator would.
    TDialogs::PushModalDriver([](QDialog& D) {
      auto& dialog = static_cast<TKelvorInstanceDialog&>(D);
      dialog.txtMissionName->setText(QStringLiteral("customers_new"));
      dialog.txtNote->setText(QString::fromUtf8("新增的任务"));
      dialog.cmbsrcdbtype->setCurrentIndex(2);
      dialog.txt_srcdbName->setText(QStringLiteral("../data/shop.db"));
      dialog.rdbtimer->setChecked(true);
      dialog.txt_timepoint->setText(QStringLiteral("03:00"));
      dialog.btnOk->click();
    });
    main.btnNew->trigger();
    Shoot(main, "main_after_new");

    // Activated while the service runs, then started.
    main.SelectMissionRow(1);
    main.n_ActiveMission->trigger();
    main.btnStartMission->trigger();
    framework->MessageTimer();
    // A task whose daemon already runs cannot be started again.
    framework->StartMission("orders_nightly");
    framework->MessageTimer();
    Shoot(main, "main_started");

    framework->StopServiceForExit(std::chrono::seconds(10), 0);
  }
  SetInstanceEditorFactory(nullptr);
}

std::string SqliteConnectionString(const std::string& Path) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + Path;
}

void ExecOnFile(const std::string& Path, const std::string& Sql) {
  TDbConnection connection;
  connection.SetConnectionString(SqliteConnectionString(Path));
  connection.Open();
  TDbQuery query(connection);
  query.SetSQL(Sql);
  query.ExecSQL();
}

int64_t RowsIn(const std::string& Path) {
  try {
    TDbConnection connection;
    connection.SetConnectionString(SqliteConnectionString(Path));
    connection.Open();
    TDbQuery query(connection);
    query.SetSQL("select count(*) from orders");
    query.Open();
    return query.Eof() ? 0 : std::stoll(query.Field(0).AsString());
  } catch (const std::exception&) {
    return -1;
  }
}

// A run-once copy of the orders of ../data/sales.db, validated row by row.
void StoreCopyTask(const std::string& TaskFolder, const std::string& Name,
                   const std::string& Destination, const std::string& Command, const char* Note) {
  TKelvorInstance task;
  SampleTask(task);
  task.MissionName = Name;
  task.Note = Note;
  task.Mode = modeOnce;
  task.Source = {"../data/sales.db", "", "", dbAccess, ""};
  task.Destination = {Destination, "", "", dbAccess, ""};
  task.CheckCondition.clear();
  task.FieldMaps.DstTable = "orders";
  task.FieldMaps.SetCommand(Command);
  task.FieldMaps.SetValidationSrc("update orders set amount = amount where 1=1");
  task.FieldMaps.SetFieldMapText(
      "<id>:<id|integer|0|true>\r\n<customer>:<customer|varchar|40|false>\r\n"
      "<amount>:<amount|numeric|0|false>\r\n");
  task.WriteTaskFile(TaskFolder + Name + ".xml");
}

// Two copies under way at once, each row with its bar. Both are held after
// their destination batch, whose progress the bars show: their validation
// batches wait for the write lock of the source file, which this program
// holds until the shot is taken. Then the runs end and the bars go.
void ShootProgress(const QString& Root) {
  const std::string root = Root.toStdString() + "/";
  for (const char* sub : {"bin", "tasks/dbtasks", "logs", "reports", "conf", "data"})
    QDir().mkpath(Root + "/" + sub);
  const std::string data = root + "data/";
  const std::string tasks = root + "tasks/dbtasks/";
  constexpr int kSales = 45000, kArchived = 16000;
  try {
    for (const char* file : {"sales.db", "warehouse.db", "archive.db"}) {
      QFile f(QString::fromStdString(data + file));
      f.open(QIODevice::WriteOnly);
      f.close();
      ExecOnFile(data + file,
                 "create table orders(id integer primary key, customer varchar(40), "
                 "amount numeric(12,2))");
    }
    ExecOnFile(data + "sales.db",
               "insert into orders with recursive n(i) as (select 1 union all select i + 1 from n "
               "limit " +
                   std::to_string(kSales) +
                   ") select i, 'customer ' || (i % 700), round((i % 997) * 1.25, 2) from n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cannot make the sample databases: %s\n", e.what());
    ++Failures;
    return;
  }
  StoreCopyTask(tasks, "orders_to_warehouse", "../data/warehouse.db", "select * from orders",
                "全部订单复制到仓库");
  StoreCopyTask(tasks, "orders_to_archive", "../data/archive.db",
                "select * from orders where id <= " + std::to_string(kArchived), "旧订单归档");
  StoreWatchedTask(tasks, "stock_nightly", true);
  WriteLines(tasks + "tasks.ini", {"#define all tasks....", "orders_to_warehouse.xml",
                                   "orders_to_archive.xml", "stock_nightly.xml"});
  SetProgramFolder(root + "bin/");
  if (::chdir((root + "bin").c_str()) != 0) ++Failures;

  TDbConnection lock;
  lock.SetConnectionString(SqliteConnectionString(data + "sales.db"));
  lock.Open();
  lock.BeginTrans();
  {
    TfrmMain main;
    TConfigDialog config(&main);
    TMissionReportDialog report(&main);
    TMainWindowView view(main, config, report);
    std::unique_ptr<TSyncFramework> framework = CreateSyncFramework(view);
    main.show();
    framework->ReadyTimer();
    // Both destination batches done: the runs wait for the source.
    for (int i = 0; i < 600; ++i) {
      if (RowsIn(data + "warehouse.db") == kSales && RowsIn(data + "archive.db") == kArchived)
        break;
      Settle();
    }
    main.SelectMissionRow(0);
    framework->MessageTimer();
    main.PageControl->setCurrentIndex(1);
    if (!main.MissionProgress(0) || !main.MissionProgress(1)) {
      std::fprintf(stderr, "the runs show no progress bar\n");
      ++Failures;
    }
    Shoot(main, "main_progress");

    lock.RollbackTrans();
    auto underWay = [&] {
      return main.MissionProgress(0) || main.MissionProgress(1) ||
             main.MissionImage(0) != miStopped || main.MissionImage(1) != miStopped;
    };
    for (int i = 0; i < 300 && underWay(); ++i) {
      Settle();
      framework->MessageTimer();
    }
    Shoot(main, "main_progress_done");
    framework->StopServiceForExit(std::chrono::seconds(10), 0);
  }
  lock.Close();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  InitApplication();
  Folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("out/screenshots");
  QDir().mkpath(Folder);
  Folder = QDir(Folder).absolutePath();
  Captions.setFileName(Folder + "/captions.txt");
  Captions.open(QIODevice::WriteOnly | QIODevice::Truncate);

  QTemporaryDir scratch;
  const QString data = scratch.path() + "/data";
  QDir().mkpath(data);
  for (const char* name : {"shop.db", "warehouse.sqlite", "archive.sqlite3", "north.mdb",
                           "south.accdb", "readme.txt"}) {
    QFile f(data + "/" + name);
    f.open(QIODevice::WriteOnly);
  }
  SetProgramFolder(scratch.path().toStdString() + "/bin/");
  ShootWindows(data);
  ShootController(scratch.path() + "/home");
  ShootProgress(scratch.path() + "/progress");

  StopAlertService();
  StopLogService();
  StopReportService();
  return Failures == 0 ? 0 : 1;
}
