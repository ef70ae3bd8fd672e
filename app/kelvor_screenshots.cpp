// Photographs the main window and every dialog page with sample content, so
// that their look can be checked on a real display (scripts/screenshots runs
// it under Xvfb). Usage: kelvor_screenshots [output folder]
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QTreeWidget>
#include <cstdio>

#include "shell/uAboutDialog.h"
#include "shell/uConfigDialog.h"
#include "shell/uInstanceDialog.h"
#include "shell/uMain.h"
#include "shell/uMissionDialog.h"
#include "shell/uMissionReportDialog.h"
#include "tasks/uInstance.h"

using namespace kelvor;

namespace {

QString Folder;
int Failures = 0;

void Settle() {
  for (int i = 0; i < 10; ++i) {
    QApplication::processEvents();
    QThread::msleep(20);
  }
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
  T.Destination = {"warehouse", "loader", "secret", 3, "dbhost"};
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

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kelvor"));
  Folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("out/screenshots");
  QDir().mkpath(Folder);

  TfrmMain main;
  main.setEnabled(true);
  const char* rows[][7] = {
      {"1", "orders_nightly", "23:30", "23:31", "已停止", "已激活", "每晚同步订单表"},
      {"2", "customers", "08:00", "", "运行中...", "已激活", "客户资料, 每 12 分钟"},
      {"3", "stock_mirror", "", "", "已停止", "未激活，如要运行该任务，请先激活!", "库存镜像"},
  };
  const int images[] = {0, 1, 6};
  for (int r = 0; r < 3; ++r)
    main.AddMissionRow(std::vector<std::string>(rows[r], rows[r] + 7), images[r], nullptr);
  main.SelectMissionRow(0);
  for (const char* line : {"系统正在初始化", "获取所有任务信息....", "完成所有任务信息获取",
                           "2024-03-09 23:30:00 orders_nightly 开始连接目标和源数据库....\r\n"})
    TfrmMain::AddPaneLine(main.MemoStatus, line);
  main.SetStatusText(0, "任务数:3");
  main.SetStatusText(1, "请选择待修改的任务信息!");
  main.btnStopMission->setEnabled(true);
  main.show();
  Shoot(main, "main");
  ShootMenu(main, main.mnuFile, "main_menu_file");
  ShootMenu(main, main.mnuMission, "main_menu_mission");
  ShootMenu(main, main.mnuHelp, "main_menu_help");

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
  task.hide();

  TKelvorInstanceDialog fresh;
  fresh.show();
  Shoot(fresh, "task_new");
  fresh.hide();

  TMissionReportDialog report;
  report.AddRow({"orders_nightly", "23:30", "23:31", "1250", "0", "同步成功,共更新1250条记录"});
  report.AddRow({"customers", "08:00", "08:00", "0", "-1",
                 "connect to database error ,info: [unixODBC] server not reachable"});
  report.AddRow({"stock_mirror", "09:10", "09:12", "87", "0", "同步成功"});
  report.show();
  report.listviewReport->selectRow(1);
  Shoot(report, "report");
  report.hide();

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
  return Failures == 0 ? 0 : 1;
}
