// The task dialog driven through its controls: input checks, notice bar,
// page switching, activation and the copy of a record in and out.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
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

TEST_F(InstanceDialogTest, DefaultsPassEveryCheck) {
  ShowActive(*Dlg);
  EXPECT_TRUE(Dlg->CheckInput());
  EXPECT_TRUE(Dlg->pnlNotice->isHidden());
}

TEST_F(InstanceDialogTest, ANewTaskTakesTheDialogsDefaults) {
  TKelvorInstance r;
  r.Mode = 2;
  Dlg->ReadFromEditor(r);
  EXPECT_EQ(r.MissionName, "tast1");
  EXPECT_EQ(r.Version, "1.0");
  EXPECT_TRUE(r.IsActive);
  EXPECT_EQ(r.Mode, 0);
  EXPECT_EQ(r.TimePoint, "17:30");
  EXPECT_EQ(r.TimeDistance, 12);
  EXPECT_EQ(r.ScheduleMode, 0);
  EXPECT_EQ(r.DaySet, 0);
  EXPECT_EQ(r.WeekSet, 0);
  EXPECT_EQ(r.Source.DbType, 0);
  EXPECT_EQ(r.Destination.DbType, 0);
  EXPECT_EQ(r.FieldMaps.OperationType, 0);
  EXPECT_EQ(r.FieldMaps.GetCommand(), "select * from test");
  EXPECT_EQ(r.FieldMaps.DstTable, "test");
  EXPECT_EQ(r.FieldMaps.GetFieldMapText(), "<a1>:<a1|varchar2|32|true>\r\n");
  EXPECT_EQ(r.CheckCondition, "");
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
      {"txtMissionName", "任务", "任务名请输入合法的英文和数字!", false},
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
      {"txtdistance", "", kNumber, true},
      {"txtdistance", "1.5", kNumber, true},
      {"txtdistance", "5-", kNumber, true},
      {"txtdistance", "99999999999", kNumber, true},
      // Disabled at schedule mode "每天": checked all the same, focus stays.
      {"txtweekset", "x", kNumber, false},
      {"txtweekset", "--", kNumber, false},
      {"txtDate", "", kNumber, false},
      {"txtDate", "1-", kNumber, false},
      {"txt_timepoint", "1230", "请输入合法的时间格式(HH:MM)", true},
      {"txt_timepoint", " 12:30", "请输入合法的时间格式(HH:MM)", true},
  };
  for (const TBadInput& c : cases) {
    SCOPED_TRACE(std::string(c.Field) + " = '" + c.Value + "'");
    auto fresh = std::make_unique<TKelvorInstanceDialog>();
    Dlg.swap(fresh);
    fresh.reset();
    ShowActive(*Dlg);
    Dlg->btnCancel->setFocus();
    auto* field = Dlg->findChild<QLineEdit*>(QString::fromLatin1(c.Field));
    ASSERT_NE(field, nullptr);
    field->setText(U(c.Value));
    EXPECT_FALSE(ClickOk());
    EXPECT_TRUE(NoticeShown());
    EXPECT_EQ(Notice(), U(c.Message));
    if (c.FocusMoves)
      EXPECT_EQ(Dlg->focusWidget(), field);
    else
      EXPECT_NE(Dlg->focusWidget(), field);
  }
}

TEST_F(InstanceDialogTest, FirstFailingCheckWins) {
  ShowActive(*Dlg);
  Dlg->txt_timepoint->setText(QStringLiteral("bad"));
  Dlg->txtNote->setText(QStringLiteral("<b>"));
  Dlg->txtVersion->setText(QStringLiteral(">"));
  EXPECT_FALSE(ClickOk());
  EXPECT_EQ(Notice(), U(kMarkup));
  EXPECT_EQ(Dlg->focusWidget(), Dlg->txtVersion);
  Dlg->txtVersion->setText(QStringLiteral("1.0"));
  Dlg->txtNote->setText(QString());
  EXPECT_FALSE(ClickOk());
  EXPECT_EQ(Notice(), U("请输入合法的时间格式(HH:MM)"));
  Dlg->txt_timepoint->setText(QStringLiteral("23:59 "));
  EXPECT_TRUE(ClickOk());
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
}

TEST_F(InstanceDialogTest, DisabledFocusTargetsTakeTheFocusOnceEnabledAndShown) {
  ShowActive(*Dlg);
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

TEST_F(InstanceDialogTest, NoticeBarHidesOnItsTimerWithoutRestart) {
  EXPECT_TRUE(Dlg->pnlNotice->isHidden());
  EXPECT_FALSE(Dlg->TimerMessage->isActive());
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
  // A later notice starts it again.
  Dlg->ShowNotice(QStringLiteral("fourth"));
  EXPECT_TRUE(NoticeShown());
  EXPECT_TRUE(Dlg->TimerMessage->isActive());
}

TEST_F(InstanceDialogTest, OperationTypeChoosesTheInnerPage) {
  for (int type = 0; type < 6; ++type) {
    Dlg->cmbOperationType->setCurrentIndex(type);
    const bool script = type == 3 || type == 4;
    EXPECT_EQ(Dlg->pgcContent->currentWidget(), script ? Dlg->TabCmd : Dlg->tabRecord)
        << "type " << type;
  }
  Dlg->cmbOperationType->setCurrentIndex(3);
  EXPECT_EQ(Dlg->pgcContent->currentWidget(), Dlg->TabCmd);
  Dlg->cmbOperationType->setCurrentIndex(5);
  EXPECT_EQ(Dlg->pgcContent->currentWidget(), Dlg->tabRecord);
}

TEST_F(InstanceDialogTest, ScheduleModeOpensDayOrWeekdayAndFocusesIt) {
  EXPECT_FALSE(Dlg->txtDate->isEnabled());
  EXPECT_FALSE(Dlg->txtweekset->isEnabled());
  ShowActive(*Dlg);
  Dlg->cmbScheduleMode->setCurrentIndex(1);
  EXPECT_FALSE(Dlg->txtDate->isEnabled());
  EXPECT_TRUE(Dlg->txtweekset->isEnabled());
  EXPECT_EQ(Dlg->focusWidget(), Dlg->txtweekset);
  // "日期" keeps its "0" and still passes.
  EXPECT_EQ(Dlg->txtDate->text(), QStringLiteral("0"));
  EXPECT_TRUE(Dlg->CheckInput());

  Dlg->cmbScheduleMode->setCurrentIndex(2);
  EXPECT_TRUE(Dlg->txtDate->isEnabled());
  EXPECT_FALSE(Dlg->txtweekset->isEnabled());
  EXPECT_EQ(Dlg->focusWidget(), Dlg->txtDate);

  Dlg->cmbScheduleMode->setCurrentIndex(0);
  EXPECT_FALSE(Dlg->txtDate->isEnabled());
  EXPECT_FALSE(Dlg->txtweekset->isEnabled());
}

TEST_F(InstanceDialogTest, ScheduleModeOfAHiddenDialogMovesNoFocus) {
  Dlg->btnCancel->setFocus();
  Dlg->cmbScheduleMode->setCurrentIndex(1);
  EXPECT_TRUE(Dlg->txtweekset->isEnabled());
  EXPECT_NE(Dlg->focusWidget(), Dlg->txtweekset);
}

TEST_F(InstanceDialogTest, SourceFileButtonOnlyForAccess) {
  for (int type = 0; type < 5; ++type) {
    Dlg->cmbsrcdbtype->setCurrentIndex(type);
    EXPECT_EQ(Dlg->btnSelectFile->isEnabled(), type == 2) << "type " << type;
  }
  // The destination has no file button: its type changes nothing.
  Dlg->cmbsrcdbtype->setCurrentIndex(0);
  Dlg->cmbdstdbtype->setCurrentIndex(2);
  EXPECT_FALSE(Dlg->btnSelectFile->isEnabled());
}

TEST_F(InstanceDialogTest, ActivationBringsButtonAndInnerPageInLineWithTheLists) {
  ShowActive(*Dlg);
  {
    QSignalBlocker a(Dlg->cmbsrcdbtype);
    QSignalBlocker b(Dlg->cmbOperationType);
    Dlg->cmbsrcdbtype->setCurrentIndex(2);
    Dlg->cmbOperationType->setCurrentIndex(4);
  }
  EXPECT_FALSE(Dlg->btnSelectFile->isEnabled());
  EXPECT_EQ(Dlg->pgcContent->currentWidget(), Dlg->tabRecord);

  // Another window takes the activation; coming back runs FormActivate.
  QWidget other;
  ShowActive(other);
  ShowActive(*Dlg);
  EXPECT_TRUE(Dlg->btnSelectFile->isEnabled());
  EXPECT_EQ(Dlg->pgcContent->currentWidget(), Dlg->TabCmd);
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

TEST_F(InstanceDialogTest, NameQuestionRefusesWithNoticeAndKeepsTheDialogOpen) {
  std::string asked;
  bool answer = true;
  Dlg->OnCheckName = [&](QObject* Sender, bool& Exists) {
    EXPECT_EQ(Sender, Dlg.get());
    asked = Dlg->txtMissionName->text().toStdString();
    Exists = answer;
  };
  ShowActive(*Dlg);
  Dlg->txtMissionName->setText(QStringLiteral("orders"));
  EXPECT_FALSE(ClickOk());
  EXPECT_EQ(asked, "orders");
  EXPECT_EQ(Notice(), U("已存在任务名相同的任务!"));
  answer = false;
  EXPECT_TRUE(ClickOk());

  // A failing input check comes first; the owner is not asked.
  asked.clear();
  Dlg->txtVersion->setText(QStringLiteral("<"));
  EXPECT_FALSE(ClickOk());
  EXPECT_TRUE(asked.empty());
}

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

void ExpectSameDefinition(const TKelvorInstance& A, const TKelvorInstance& B) {
  EXPECT_EQ(A.MissionName, B.MissionName);
  EXPECT_EQ(A.Version, B.Version);
  EXPECT_EQ(A.IsActive, B.IsActive);
  EXPECT_EQ(A.Mode, B.Mode);
  EXPECT_EQ(A.TimePoint, B.TimePoint);
  EXPECT_EQ(A.TimeDistance, B.TimeDistance);
  EXPECT_EQ(A.ScheduleMode, B.ScheduleMode);
  EXPECT_EQ(A.WeekSet, B.WeekSet);
  EXPECT_EQ(A.DaySet, B.DaySet);
  EXPECT_EQ(A.Note, B.Note);
  EXPECT_EQ(A.CheckCondition, B.CheckCondition);
  for (auto side : {&TKelvorInstance::Source, &TKelvorInstance::Destination}) {
    EXPECT_EQ((A.*side).DbName, (B.*side).DbName);
    EXPECT_EQ((A.*side).DbUser, (B.*side).DbUser);
    EXPECT_EQ((A.*side).DbPwd, (B.*side).DbPwd);
    EXPECT_EQ((A.*side).DbType, (B.*side).DbType);
    EXPECT_EQ((A.*side).DbServer, (B.*side).DbServer);
  }
  EXPECT_EQ(A.FieldMaps.DstTable, B.FieldMaps.DstTable);
  EXPECT_EQ(A.FieldMaps.OperationType, B.FieldMaps.OperationType);
  EXPECT_EQ(A.FieldMaps.GetCommand(), B.FieldMaps.GetCommand());
  EXPECT_EQ(A.FieldMaps.GetValidationSrc(), B.FieldMaps.GetValidationSrc());
  EXPECT_EQ(A.FieldMaps.GetValidationDst(), B.FieldMaps.GetValidationDst());
  EXPECT_EQ(A.FieldMaps.GetFieldMapText(), B.FieldMaps.GetFieldMapText());
}

TEST_F(InstanceDialogTest, RoundTripOfEveryField) {
  for (int type : {0, 3, 5}) {
    SCOPED_TRACE("operation type " + std::to_string(type));
    TKelvorInstance original;
    FillRecord(original, type);
    Dlg->LoadToEditor(original);
    TKelvorInstance copy;
    Dlg->ReadFromEditor(copy);
    ExpectSameDefinition(original, copy);
  }
}

TEST_F(InstanceDialogTest, LoadShowsTheRecordInTheControls) {
  TKelvorInstance r;
  FillRecord(r, 4);
  Dlg->LoadToEditor(r);
  EXPECT_EQ(Dlg->txtMissionName->text(), QStringLiteral("orders_2"));
  EXPECT_EQ(Dlg->txtNote->text(), U("夜间同步"));
  EXPECT_FALSE(Dlg->chkActive->isChecked());
  EXPECT_TRUE(Dlg->rdbfixdis->isChecked());
  EXPECT_EQ(Dlg->cmbsrcdbtype->currentIndex(), 2);
  EXPECT_EQ(Dlg->cmbdstdbtype->currentIndex(), 3);
  EXPECT_EQ(Dlg->cmbScheduleMode->currentIndex(), 1);
  EXPECT_TRUE(Dlg->txtweekset->isEnabled());  // the schedule handling ran
  EXPECT_FALSE(Dlg->txtDate->isEnabled());
  EXPECT_EQ(Dlg->txtdistance->text(), QStringLiteral("45"));
  const QString command = U("select id, name\nfrom orders where a < 3 and b > \"x\"");
  EXPECT_EQ(Dlg->RichEditCmd->toPlainText(), command);
  EXPECT_EQ(Dlg->RichCommands->toPlainText(), command);  // a script type
  EXPECT_EQ(Dlg->RichEditFieldMap->toPlainText(),
            U("<id>:<ID|integer|0|true>\n<name>:<NAME|varchar2|32|false>"));
  EXPECT_EQ(Dlg->txtValidDstDB->toPlainText(), U("update copy set flag = 2 where 1=1"));
  EXPECT_EQ(Dlg->pgcContent->currentWidget(), Dlg->TabCmd);

  // A record of a row-copying type leaves the commands editor empty.
  r.FieldMaps.OperationType = 1;
  Dlg->LoadToEditor(r);
  EXPECT_TRUE(Dlg->RichCommands->toPlainText().isEmpty());
}

TEST_F(InstanceDialogTest, ScriptTypesTakeTheCommandFromTheCommandsEditor) {
  TKelvorInstance r;
  FillRecord(r, 3);
  Dlg->LoadToEditor(r);
  Dlg->RichCommands->setPlainText(QStringLiteral("update a set b = 1\ngo\ndelete from c"));
  Dlg->ReadFromEditor(r);
  EXPECT_EQ(r.FieldMaps.GetCommand(), "update a set b = 1\r\ngo\r\ndelete from c");
  // Switched to a row-copying type, the record editor's text counts.
  Dlg->cmbOperationType->setCurrentIndex(0);
  Dlg->RichEditCmd->setPlainText(QStringLiteral("select * from a"));
  Dlg->ReadFromEditor(r);
  EXPECT_EQ(r.FieldMaps.GetCommand(), "select * from a");
  EXPECT_EQ(r.FieldMaps.OperationType, 0);
}

TEST_F(InstanceDialogTest, ModeOutsideTheButtonsLeavesThemAsTheyWere) {
  TKelvorInstance r;
  r.Mode = 7;
  Dlg->LoadToEditor(r);
  EXPECT_TRUE(Dlg->rdbImme->isChecked());
  Dlg->ReadFromEditor(r);
  EXPECT_EQ(r.Mode, 0);

  r.Mode = 2;
  Dlg->LoadToEditor(r);
  r.Mode = -1;
  Dlg->LoadToEditor(r);
  EXPECT_TRUE(Dlg->rdbfixdis->isChecked());
  Dlg->ReadFromEditor(r);
  EXPECT_EQ(r.Mode, 2);
}

TEST_F(InstanceDialogTest, CodesOutsideTheListsAreKept) {
  TKelvorInstance r;
  r.Source.DbType = 9;
  r.Destination.DbType = -3;
  r.FieldMaps.OperationType = 6;
  r.ScheduleMode = 4;
  Dlg->LoadToEditor(r);
  EXPECT_EQ(Dlg->cmbsrcdbtype->currentIndex(), -1);
  EXPECT_EQ(Dlg->pgcContent->currentWidget(), Dlg->tabRecord);
  TKelvorInstance copy;
  copy.Source.DbType = 9;
  copy.Destination.DbType = -3;
  copy.FieldMaps.OperationType = 6;
  copy.ScheduleMode = 4;
  Dlg->ReadFromEditor(copy);
  EXPECT_EQ(copy.Source.DbType, 9);
  EXPECT_EQ(copy.Destination.DbType, -3);
  EXPECT_EQ(copy.FieldMaps.OperationType, 6);
  EXPECT_EQ(copy.ScheduleMode, 4);
  // A choice made by the operator is stored.
  Dlg->cmbsrcdbtype->setCurrentIndex(1);
  Dlg->ReadFromEditor(copy);
  EXPECT_EQ(copy.Source.DbType, 1);
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
  EXPECT_EQ(TDialogs::Shown().last(), QStringLiteral("open:sql (*.sql);;txt (*.txt):"));

  // Cancelled: nothing changes.
  Dlg->btnLoadCommands->click();
  EXPECT_EQ(Dlg->RichCommands->toPlainText().left(6), QStringLiteral("update"));

  Dlg->cmbsrcdbtype->setCurrentIndex(2);
  TDialogs::PushFileName(QStringLiteral("/data/north.mdb"));
  Dlg->btnSelectFile->click();
  EXPECT_EQ(Dlg->txt_srcdbName->text(), QStringLiteral("/data/north.mdb"));
  EXPECT_EQ(TDialogs::Shown().last(), QStringLiteral("open:mdb (*.mdb):"));
}

}  // namespace
}  // namespace kelvor
