// The task dialog driven through its controls: input checks, notice bar,
// page switching, activation and the copy of a record in and out.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include "GuiTestSupport.h"
#include "platform/TextFile.h"
#include "shell/uInstanceDialog.h"
#include "support/TestSupport.h"
#include "tasks/uInstance.h"

namespace kelvor {
namespace {

using test::DialogHooks;
using test::ShowActive;
using test::U;

const char* const kMarkup = "文本中不能输入<、>、\"";
const char* const kNumber = "请输入合法的数字!";

class InstanceDialogTest : public ::testing::Test {
 protected:
  DialogHooks Hooks;
  std::unique_ptr<TKelvorInstanceDialog> Dlg = std::make_unique<TKelvorInstanceDialog>();

  QString Notice() const { return Dlg->lblNotice->text(); }
  bool NoticeShown() const { return !Dlg->pnlNotice->isHidden(); }
  // OK clicked as the operator does; true when the dialog accepted.
  bool ClickOk() {
    Dlg->setResult(QDialog::Rejected);
    QTest::mouseClick(Dlg->btnOk, Qt::LeftButton);
    return Dlg->result() == QDialog::Accepted && Dlg->Confirmed();
  }
};

// A record with every field away from the dialog's defaults.
void FillRecord(TKelvorInstance& R, int OperationType) {
  R.MissionName = "orders_2";
  R.Version = "2.1";
  R.IsActive = false;
  R.Mode = 2;
  R.TimePoint = "08:05";
  R.TimeDistance = 45;
  R.ScheduleMode = 1;
  R.WeekSet = 3;
  R.DaySet = 15;
  R.Note = "夜间同步";
  R.CheckCondition = "select id\r\nfrom dst";
  R.Source = {"/data/src.db", "su", "sp", 2, "srchost"};
  R.Destination = {"dstdb", "du", "dp", 3, "dsthost"};
  R.FieldMaps.DstTable = "orders";
  R.FieldMaps.OperationType = OperationType;
  R.FieldMaps.SetCommand("select id, name\r\nfrom orders where a < 3 and b > \"x\"");
  R.FieldMaps.SetValidationSrc("update orders set flag = 1\r\nwhere 1=1");
  R.FieldMaps.SetValidationDst("update copy set flag = 2 where 1=1");
  R.FieldMaps.SetFieldMapText("<id>:<ID|integer|0|true>\r\n<name>:<NAME|varchar2|32|false>\r\n");
}

// Each check in its order: a bad value, its message, and where the focus goes.
struct TBadInput {
  const char* Field;
  const char* Value;
  const char* Message;
  bool FocusMoves;
};

TEST_F(InstanceDialogTest, EachCheckRefusesWithItsMessageAndFocus) {
  const TBadInput cases[] = {
      {"txtMissionName", "bad-name", "任务名请输入合法的英文和数字!", false},
      {"txtMissionName", "", "任务名请输入合法的英文和数字!", false},
      {"txtVersion", "1.0>", kMarkup, true},
      {"txt_srcdbUser", "<u", kMarkup, true},
      {"txt_srcdbName", "a\"b", kMarkup, true},
      {"txt_srcdbpwd", "p>w", kMarkup, true},
      {"txt_dstdbuser", "<", kMarkup, true},
      {"txt_dstdbname", ">", kMarkup, true},
      {"txt_dstdbpwd", "\"", kMarkup, true},
      // On a page that is not shown: refused, but the focus cannot go there.
      {"txtDstTable", "t<", kMarkup, false},
      {"txtNote", "a \"quoted\" note", kMarkup, true},
      // Digits and minus signs that do not make an integer.
      {"txtdistance", "5-", kNumber, true},
      // Disabled at schedule mode "每天": checked all the same, focus stays.
      {"txtweekset", "x", kNumber, false},
      {"txtDate", "", kNumber, false},
      {"txt_timepoint", " 12:30", "请输入合法的时间格式(HH:MM)", true},
  };
  for (const TBadInput& c : cases) {
    SCOPED_TRACE(std::string(c.Field) + " = '" + c.Value + "'");
    Dlg = std::make_unique<TKelvorInstanceDialog>();
    ShowActive(*Dlg);
    Dlg->btnCancel->setFocus();
    auto* field = Dlg->findChild<QLineEdit*>(QString::fromLatin1(c.Field));
    ASSERT_NE(field, nullptr);
    field->setText(U(c.Value));
    EXPECT_FALSE(ClickOk());
    EXPECT_TRUE(NoticeShown());
    EXPECT_EQ(Notice(), U(c.Message));
    EXPECT_EQ(Dlg->focusWidget() == field, c.FocusMoves);
  }
}

TEST_F(InstanceDialogTest, FirstFailingCheckWinsAndTakesTheFocusOnceItCan) {
  ShowActive(*Dlg);
  Dlg->txt_timepoint->setText(QStringLiteral("bad"));
  Dlg->txtVersion->setText(QStringLiteral(">"));
  EXPECT_FALSE(ClickOk());
  EXPECT_EQ(Notice(), U(kMarkup));
  EXPECT_EQ(Dlg->focusWidget(), Dlg->txtVersion);
  Dlg->txtVersion->setText(QStringLiteral("1.0"));
  EXPECT_FALSE(ClickOk());
  EXPECT_EQ(Notice(), U("请输入合法的时间格式(HH:MM)"));
  Dlg->txt_timepoint->setText(QStringLiteral("23:59 "));
  EXPECT_TRUE(ClickOk());
  ShowActive(*Dlg);

  // Fields that were disabled or on a hidden page take the focus once enabled and shown.
  Dlg->cmbScheduleMode->setCurrentIndex(2);  // "每月": the day field opens
  Dlg->txtDate->setText(QStringLiteral("x"));
  Dlg->btnCancel->setFocus();
  EXPECT_FALSE(ClickOk());
  EXPECT_EQ(Dlg->focusWidget(), Dlg->txtDate);
  Dlg->txtDate->setText(QStringLiteral("1"));
  Dlg->txtDstTable->setText(QStringLiteral("t>"));
  Dlg->pgcMain->setCurrentWidget(Dlg->tabContent);
  EXPECT_FALSE(ClickOk());
  EXPECT_EQ(Dlg->focusWidget(), Dlg->txtDstTable);
}

TEST_F(InstanceDialogTest, IntegerFieldsAcceptOnlyConvertibleNumbers) {
  ShowActive(*Dlg);
  Dlg->txtdistance->setText(QStringLiteral("-5"));
  Dlg->txtweekset->setText(QStringLiteral("7"));
  Dlg->txtDate->setText(QStringLiteral("-2147483648"));
  EXPECT_TRUE(ClickOk());
  TKelvorInstance record;
  Dlg->ReadFromEditor(record);
  EXPECT_EQ(record.TimeDistance, -5);
  EXPECT_EQ(record.WeekSet, 7);
  EXPECT_EQ(record.DaySet, INT32_MIN);
  Dlg->txtdistance->setText(QStringLiteral("99999999999"));
  EXPECT_FALSE(ClickOk());
  EXPECT_EQ(Notice(), U(kNumber));
}

TEST_F(InstanceDialogTest, NoticeBarLivesFiveSecondsWithoutRestart) {
  EXPECT_TRUE(Dlg->pnlNotice->isHidden());
  EXPECT_EQ(Dlg->TimerMessage->interval(), 5000);
  Dlg->ShowNotice(QStringLiteral("first"));
  EXPECT_TRUE(NoticeShown());
  ASSERT_TRUE(Dlg->TimerMessage->isActive());
  const int before = Dlg->TimerMessage->remainingTime();
  QTest::qWait(30);
  Dlg->ShowNotice(QStringLiteral("second"));
  EXPECT_EQ(Notice(), QStringLiteral("second"));
  EXPECT_LT(Dlg->TimerMessage->remainingTime(), before);  // not restarted

  // The close button hides the bar at once; the timer runs on.
  Dlg->SpeedButton1->click();
  EXPECT_FALSE(NoticeShown());
  EXPECT_TRUE(Dlg->TimerMessage->isActive());

  // The timer firing hides the bar and stops itself (shortened here).
  Dlg->TimerMessage->stop();
  Dlg->TimerMessage->setInterval(20);
  Dlg->ShowNotice(QStringLiteral("third"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !NoticeShown(); }, 2000));
  EXPECT_FALSE(Dlg->TimerMessage->isActive());
}

TEST_F(InstanceDialogTest, OperationAndDatabaseTypesChooseThePageAndTheFileButton) {
  for (int type = 0; type < 6; ++type) {
    Dlg->cmbOperationType->setCurrentIndex(type);
    EXPECT_EQ(Dlg->pgcContent->currentWidget(),
              type == 3 || type == 4 ? Dlg->TabCmd : Dlg->tabRecord)
        << "type " << type;
    Dlg->cmbsrcdbtype->setCurrentIndex(type % 5);
    EXPECT_EQ(Dlg->btnSelectFile->isEnabled(), type % 5 == 2) << "type " << type;
    Dlg->cmbdstdbtype->setCurrentIndex((type + 2) % 5);
    EXPECT_EQ(Dlg->btnSelectFileDst->isEnabled(), (type + 2) % 5 == 2) << "type " << type;
  }
  // Each side's type governs its own button only.
  Dlg->cmbsrcdbtype->setCurrentIndex(0);
  Dlg->cmbdstdbtype->setCurrentIndex(2);
  EXPECT_FALSE(Dlg->btnSelectFile->isEnabled());
  EXPECT_TRUE(Dlg->btnSelectFileDst->isEnabled());

  // Lists changed without their signals: coming back to the window (FormActivate)
  // brings button and page in line.
  ShowActive(*Dlg);
  {
    QSignalBlocker a(Dlg->cmbsrcdbtype);
    QSignalBlocker b(Dlg->cmbOperationType);
    QSignalBlocker c(Dlg->cmbdstdbtype);
    Dlg->cmbsrcdbtype->setCurrentIndex(2);
    Dlg->cmbOperationType->setCurrentIndex(4);
    Dlg->cmbdstdbtype->setCurrentIndex(0);
  }
  EXPECT_FALSE(Dlg->btnSelectFile->isEnabled());
  QWidget other;
  ShowActive(other);
  ShowActive(*Dlg);
  EXPECT_TRUE(Dlg->btnSelectFile->isEnabled());
  EXPECT_FALSE(Dlg->btnSelectFileDst->isEnabled());
  EXPECT_EQ(Dlg->pgcContent->currentWidget(), Dlg->TabCmd);
}

TEST_F(InstanceDialogTest, ScheduleModeOpensDayOrWeekdayAndFocusesItWhenShown) {
  Dlg->btnCancel->setFocus();
  Dlg->cmbScheduleMode->setCurrentIndex(1);
  EXPECT_NE(Dlg->focusWidget(), Dlg->txtweekset);  // a hidden dialog moves no focus
  ShowActive(*Dlg);
  for (int mode : {2, 1, 0}) {
    Dlg->cmbScheduleMode->setCurrentIndex(mode);
    EXPECT_EQ(Dlg->txtweekset->isEnabled(), mode == 1) << mode;
    EXPECT_EQ(Dlg->txtDate->isEnabled(), mode == 2) << mode;
    if (mode > 0) {
      EXPECT_EQ(Dlg->focusWidget(), mode == 1 ? Dlg->txtweekset : Dlg->txtDate);
    }
  }
  // A disabled field keeps its "0" and passes.
  EXPECT_EQ(Dlg->txtDate->text(), QStringLiteral("0"));
  EXPECT_TRUE(Dlg->CheckInput());
}

TEST_F(InstanceDialogTest, ExecuteStartsOnTheFirstPageAndHonoursReadOnly) {
  Dlg->pgcMain->setCurrentIndex(2);
  int page = -1;
  bool okEnabled = true;
  TDialogs::PushModalDriver([&](QDialog&) {
    page = Dlg->pgcMain->currentIndex();
    okEnabled = Dlg->btnOk->isEnabled();
    QTest::mouseClick(Dlg->btnOk, Qt::LeftButton);  // disabled: nothing happens
  });
  EXPECT_FALSE(Dlg->Execute(true));
  EXPECT_EQ(page, 0);
  EXPECT_FALSE(okEnabled);

  TDialogs::PushModalDriver([&](QDialog&) { Dlg->btnOk->click(); });
  EXPECT_TRUE(Dlg->Execute(false));
  TDialogs::PushModalDriver([&](QDialog&) {
    Dlg->txtVersion->setText(QStringLiteral(">"));
    Dlg->btnOk->click();  // refused: the dialog stays open until cancelled
    EXPECT_TRUE(Dlg->isVisible());
    Dlg->btnCancel->click();
  });
  EXPECT_FALSE(Dlg->Execute(false));
  // Closing the window any other way is not a confirmation.
  TDialogs::PushModalDriver([&](QDialog&) {
    Dlg->txtVersion->setText(QStringLiteral("2"));
    Dlg->close();
  });
  EXPECT_FALSE(Dlg->Execute(false));
}

TEST_F(InstanceDialogTest, RoundTripOfEveryField) {
  for (int type : {0, 3, 5}) {
    SCOPED_TRACE("operation type " + std::to_string(type));
    TKelvorInstance original, copy;
    FillRecord(original, type);
    Dlg->LoadToEditor(original);
    Dlg->ReadFromEditor(copy);
    EXPECT_EQ(copy.SaveToText(), original.SaveToText());
  }
}

TEST_F(InstanceDialogTest, ScriptTypesTakeTheCommandFromTheCommandsEditor) {
  TKelvorInstance r;
  FillRecord(r, 4);
  Dlg->LoadToEditor(r);
  EXPECT_EQ(Dlg->pgcContent->currentWidget(), Dlg->TabCmd);
  Dlg->RichCommands->setPlainText(QStringLiteral("update a set b = 1\ngo\ndelete from c"));
  Dlg->ReadFromEditor(r);
  EXPECT_EQ(r.FieldMaps.GetCommand(), "update a set b = 1\r\ngo\r\ndelete from c");
  // A record of a row-copying type leaves the commands editor empty.
  r.FieldMaps.OperationType = 0;
  Dlg->LoadToEditor(r);
  EXPECT_TRUE(Dlg->RichCommands->toPlainText().isEmpty());
}

TEST_F(InstanceDialogTest, CodesOutsideTheListsAreKept) {
  TKelvorInstance r;
  r.Mode = 2;
  Dlg->LoadToEditor(r);
  r.Mode = 7;  // no such button: the buttons stay as they were
  r.Source.DbType = 9;
  r.Destination.DbType = -3;
  r.FieldMaps.OperationType = 6;
  r.ScheduleMode = 4;
  Dlg->LoadToEditor(r);
  EXPECT_TRUE(Dlg->rdbfixdis->isChecked());
  EXPECT_EQ(Dlg->cmbsrcdbtype->currentIndex(), -1);
  EXPECT_EQ(Dlg->pgcContent->currentWidget(), Dlg->tabRecord);
  Dlg->ReadFromEditor(r);
  EXPECT_EQ(r.Mode, 2);
  EXPECT_EQ(r.Source.DbType, 9);
  EXPECT_EQ(r.Destination.DbType, -3);
  EXPECT_EQ(r.FieldMaps.OperationType, 6);
  EXPECT_EQ(r.ScheduleMode, 4);
  // A choice made by the operator is stored.
  Dlg->cmbsrcdbtype->setCurrentIndex(1);
  Dlg->ReadFromEditor(r);
  EXPECT_EQ(r.Source.DbType, 1);
}

TEST_F(InstanceDialogTest, FileButtonsFillTheirEditors) {
  test::TempDir dir;
  const std::string script = dir.Path() + "batch.sql";
  test::WriteFileOrDie(script,
                       "update a set b = 1\r\ngo\r\n-- note\r\ninsert into c values (1)\r\n");
  Dlg->RichCommands->setPlainText(QStringLiteral("old"));
  TDialogs::PushFileName(QString::fromStdString(script));
  Dlg->btnLoadCommands->click();
  EXPECT_EQ(Dlg->RichCommands->toPlainText(),
            QStringLiteral("update a set b = 1\ngo\n-- note\ninsert into c values (1)"));
  // The first chooser of the run opens in the home folder.
  EXPECT_EQ(TDialogs::Shown().last(), "open:sql (*.sql);;txt (*.txt):" + QDir::homePath());

  // Cancelled: nothing changes.
  Dlg->btnLoadCommands->click();
  EXPECT_EQ(Dlg->RichCommands->toPlainText().left(6), QStringLiteral("update"));
  // The next one opens where the last file was chosen.
  const QString folder = QString::fromStdString(dir.Path()).chopped(1);
  EXPECT_EQ(TDialogs::Shown().last(), "open:sql (*.sql);;txt (*.txt):" + folder);
}

// Both database file buttons offer SQLite files, Access files and all files,
// and open where the field's file lies, else where the last file was chosen.
TEST_F(InstanceDialogTest, DatabaseFileChoosersOfferSqliteAccessAndAllFiles) {
  test::TempDir dir;
  const QString data = QString::fromStdString(dir.Sub("data/", true)).chopped(1);
  const QString filter = U(kDatabaseFileFilter);
  Dlg->cmbsrcdbtype->setCurrentIndex(2);
  Dlg->cmbdstdbtype->setCurrentIndex(2);
  struct TCase {
    QToolButton* Button;
    QLineEdit* Field;
    QString Before;  // the field's text when clicked
    QString Chosen;  // the file the operator picks; empty: cancelled
    QString OpensIn;
  };
  const TCase cases[] = {
      {Dlg->btnSelectFile, Dlg->txt_srcdbName, "", data + "/shop.db", QDir::homePath()},
      {Dlg->btnSelectFileDst, Dlg->txt_dstdbname, "", "", data},
      {Dlg->btnSelectFileDst, Dlg->txt_dstdbname, "/no/such/folder/x.db", "/elsewhere/n.accdb",
       data},
      {Dlg->btnSelectFile, Dlg->txt_srcdbName, data + "/shop.db", "", data},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Field->objectName().toStdString() + " " + c.Before.toStdString());
    c.Field->setText(c.Before);
    if (!c.Chosen.isEmpty()) TDialogs::PushFileName(c.Chosen);
    c.Button->click();
    EXPECT_EQ(TDialogs::Shown().last(), "open:" + filter + ":" + c.OpensIn);
    EXPECT_EQ(c.Field->text(), c.Chosen.isEmpty() ? c.Before : c.Chosen);
  }

  // The chooser itself lists the three kinds.
  std::unique_ptr<QFileDialog> chooser = TDialogs::MakeFileChooser(Dlg.get(), filter, data, false);
  EXPECT_EQ(chooser->nameFilters(),
            QStringList({U("SQLite 数据库 (*.db *.sqlite *.sqlite3)"),
                         U("Access 数据库 (*.mdb *.accdb)"), U("所有文件 (*)")}));
  EXPECT_EQ(chooser->directory().absolutePath(), data);
}

}  // namespace
}  // namespace kelvor
