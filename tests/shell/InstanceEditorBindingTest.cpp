// The task dialog as the editor of real task records: the name rules
// against a real catalogue, and the connection test and field loading
// against real SQLite files through the data module.
#include <sqlite3.h>

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>

#include "GuiTestSupport.h"
#include "engine/udatamodule.h"
#include "services/uLogService.h"
#include "shell/uInstanceDialog.h"
#include "shell/uInstanceEditorBinding.h"
#include "support/TestSupport.h"
#include "tasks/uInstanceCollections.h"

namespace kelvor {
namespace {

using test::DialogHooks;
using test::U;

TKelvorInstanceDialog& DialogOf(TKelvorInstance& Record) {
  return *dynamic_cast<TKelvorInstanceDialog*>(Record.Editor());
}

// Every editor built during a test is a bound TKelvorInstanceDialog.
class EditorBindingTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterInstanceDialog(&Data); }
  void TearDown() override { SetInstanceEditorFactory(nullptr); }

  std::shared_ptr<TKelvorInstance> AddTask(const std::string& Name) {
    auto r = std::make_shared<TKelvorInstance>();
    r->MissionName = Name;
    r->Version = "1.0";
    r->TimePoint = "17:30";
    Catalogue.Add(r);
    return r;
  }

  // Queues an operator who types Name and presses OK, then cancels if the
  // dialog is still open; the notice shown (if any) lands in Notice.
  void TypeNameAndConfirm(TKelvorInstance& Record, const char* Name) {
    Notice.clear();
    TDialogs::PushModalDriver([this, &Record, Name](QDialog&) {
      TKelvorInstanceDialog& d = DialogOf(Record);
      if (Name) d.txtMissionName->setText(U(Name));
      d.btnOk->click();
      if (d.isVisible()) {
        Notice = d.lblNotice->text();
        d.btnCancel->click();
      }
    });
  }

  DialogHooks Hooks;
  TgDataModule Data;
  TInstanceCollections Catalogue;
  QString Notice;
};

TEST_F(EditorBindingTest, EditAndRenameFollowTheNameRules) {
  auto orders = AddTask("orders");
  AddTask("stores");
  TypeNameAndConfirm(*orders, nullptr);
  EXPECT_TRUE(orders->Edit(false));  // its own name is never refused
  EXPECT_TRUE(Notice.isEmpty());
  TypeNameAndConfirm(*orders, "stores");
  EXPECT_FALSE(orders->Edit(false));
  EXPECT_EQ(Notice, U("已存在任务名相同的任务!"));
  EXPECT_EQ(orders->MissionName, "orders");  // cancelled: unchanged
  TypeNameAndConfirm(*orders, "renamed");
  EXPECT_FALSE(orders->Edit(true));  // read-only: can only be cancelled
  EXPECT_EQ(orders->MissionName, "orders");
  TypeNameAndConfirm(*orders, "Stores");  // names that differ in case are different tasks
  EXPECT_TRUE(orders->Edit(false));
  EXPECT_EQ(orders->MissionName, "Stores");
}

TEST_F(EditorBindingTest, NewAndImportedTasksCannotTakeAListedName) {
  AddTask("tast1");
  // An imported record: owned by the catalogue but not listed yet; OK on its unchanged name.
  TKelvorInstance imported;
  imported.MissionName = "tast1";
  imported.TimePoint = "17:30";
  imported.Owner = &Catalogue;
  TypeNameAndConfirm(imported, nullptr);
  EXPECT_FALSE(imported.Edit(false));
  EXPECT_EQ(Notice, U("已存在任务名相同的任务!"));

  TKelvorInstance fresh;
  fresh.Owner = &Catalogue;
  TypeNameAndConfirm(fresh, nullptr);  // the default name "tast1"
  EXPECT_FALSE(fresh.EditNew());
  EXPECT_EQ(Notice, U("已存在任务名相同的任务!"));
  TypeNameAndConfirm(fresh, "tast2");
  EXPECT_TRUE(fresh.EditNew());
  EXPECT_EQ(fresh.MissionName, "tast2");
  TKelvorInstance loose;  // without an owner nobody is asked
  TypeNameAndConfirm(loose, "tast1");
  EXPECT_TRUE(loose.EditNew());
}

// A real SQLite file with one table, made with the sqlite3 C API.
std::string MakeDatabase(const test::TempDir& Dir) {
  const std::string path = Dir.Path() + "source.db";
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db,
                         "create table test (ID integer primary key, NAME varchar(32));"
                         "insert into test values (1, 'north');",
                         nullptr, nullptr, &error),
            SQLITE_OK)
      << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
  return path;
}

class DataModuleBindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A failed connect is logged; the log goes to this test's folder.
    StartLogService(Dir.Sub("logs/", true));
    Path = MakeDatabase(Dir);
    Dlg = CreateInstanceDialog(Record, &Data);
  }
  void TearDown() override { StopLogService(); }
  void UseSource(const std::string& DbName) {
    Dlg->cmbsrcdbtype->setCurrentIndex(2);  // "access": a database file
    Dlg->txt_srcdbName->setText(QString::fromStdString(DbName));
  }

  DialogHooks Hooks;
  test::TempDir Dir;
  std::string Path;
  TgDataModule Data;
  TKelvorInstance Record;
  std::unique_ptr<TKelvorInstanceDialog> Dlg;
};

TEST_F(DataModuleBindingTest, TestConnectionUsesTheControlsOfTheButtonsSide) {
  UseSource(Path);
  Dlg->btnTestSrcDB->click();
  ASSERT_EQ(TDialogs::Shown().size(), 1);
  EXPECT_EQ(TDialogs::Shown().last(), U("测试连接数据库成功!"));

  // The destination button reads the destination controls only.
  Dlg->cmbdstdbtype->setCurrentIndex(2);
  Dlg->txt_dstdbname->setText(QString::fromStdString(Dir.Path() + "missing.db"));
  Dlg->btnTestDstDb->click();
  EXPECT_EQ(TDialogs::Shown().last(), U("测试连接数据库失败!"));
  Dlg->txt_dstdbname->setText(QString::fromStdString(Path));
  Dlg->btnTestDstDb->click();
  EXPECT_EQ(TDialogs::Shown().last(), U("测试连接数据库成功!"));

  // The record itself is not consulted.
  Record.Source.DbName = Path;
  UseSource(Dir.Path() + "missing.db");
  Dlg->btnTestSrcDB->click();
  EXPECT_EQ(TDialogs::Shown().last(), U("测试连接数据库失败!"));
}

TEST_F(DataModuleBindingTest, LoadFieldsAppendsOneLinePerColumn) {
  UseSource(Path);
  Dlg->RichEditCmd->setPlainText(QStringLiteral("select ID, NAME\nfrom test"));
  Dlg->btnLoadFields->click();
  EXPECT_EQ(Dlg->RichEditFieldMap->toPlainText(), QStringLiteral("<a1>:<a1|varchar2|32|true>\n"
                                                                 "<ID>:<ID|none|0|false>\n"
                                                                 "<NAME>:<NAME|none|32|false>"));
  EXPECT_TRUE(TDialogs::Shown().isEmpty());

  // The loaded lines become the field map as written.
  Dlg->ReadFromEditor(Record);
  ASSERT_EQ(Record.FieldMaps.Count(), 3);
  EXPECT_EQ(Record.FieldMaps.GetItem(2)->Dst, "NAME");
  EXPECT_EQ(Record.FieldMaps.GetItem(2)->FieldType, "none");
  EXPECT_EQ(Record.FieldMaps.GetItem(2)->FieldLen, 32);
}

TEST_F(DataModuleBindingTest, LoadFieldsFailuresAppendNothingAndSayNothing) {
  const QString before = Dlg->RichEditFieldMap->toPlainText();
  UseSource(Path);
  Dlg->RichEditCmd->setPlainText(QStringLiteral("select * from no_such_table"));
  Dlg->btnLoadFields->click();
  EXPECT_EQ(Dlg->RichEditFieldMap->toPlainText(), before);

  UseSource(Dir.Path() + "missing.db");
  Dlg->RichEditCmd->setPlainText(QStringLiteral("select * from test"));
  Dlg->btnLoadFields->click();
  EXPECT_EQ(Dlg->RichEditFieldMap->toPlainText(), before);
  EXPECT_TRUE(TDialogs::Shown().isEmpty());
}

}  // namespace
}  // namespace kelvor
