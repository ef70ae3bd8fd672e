// TKelvorInstanceDialog: the modal window in which the operator writes one
// task ("数据同步定义"). It is the editor of one task record: the record
// builds it through the registered editor factory (uInstanceEditorBinding)
// and owns it for its lifetime.
//
// The dialog checks what was typed, switches its pages by operation type and
// schedule mode and loads command files. Questions it cannot answer itself go
// to its owner through the On... events: the name clash on OK, the two
// connection tests and the load-fields button.
// Threads: window thread only. Controls are public, as the window's own
// fields, so that the binding and the tests reach them by name.
#pragma once

#include <QDialog>
#include <functional>

#include "tasks/uInstanceEditor.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTabWidget;
class QTimer;
class QToolButton;
class QTreeWidget;
class QWidget;

namespace kelvor {

class TgDataModule;

// The database file choosers' filter: SQLite files, Access files, all files.
inline constexpr const char* kDatabaseFileFilter =
    "SQLite 数据库 (*.db *.sqlite *.sqlite3);;Access 数据库 (*.mdb *.accdb);;所有文件 (*)";

class TKelvorInstanceDialog : public QDialog, public TInstanceEditor {
  Q_OBJECT

 public:
  explicit TKelvorInstanceDialog(QWidget* Parent = nullptr);
  ~TKelvorInstanceDialog() override;

  // TInstanceEditor.
  void LoadToEditor(const TKelvorInstance& Instance) override;
  void ReadFromEditor(TKelvorInstance& Instance) override;
  bool Execute(bool ReadOnly) override;

  // The dialog-side connection the owner's connection test and load-fields
  // use; not owned, may be null (both then do nothing).
  void SetDataModule(TgDataModule* DataModule) { FDataModule = DataModule; }
  TgDataModule* DataModule() const { return FDataModule; }

  // Asked by OK: set Exists when the entered name belongs to another task.
  std::function<void(QObject* Sender, bool& Exists)> OnCheckName;
  // Clicks of btnTestSrcDB / btnTestDstDb (Sender carries the "tag"
  // property: 0 source, 1 destination) and of btnLoadFields.
  std::function<void(QObject* Sender)> OnTestConnection;
  std::function<void(QObject* Sender)> OnLoadFields;

  // The field checks run by OK; the first failure is shown in the notice bar
  // and ends the check.
  bool CheckInput();
  // Shows Text in the notice bar, which hides itself 5 s after it was first
  // shown (a second notice meanwhile replaces the text only).
  void ShowNotice(const QString& Text);
  bool Confirmed() const { return FConfirmed; }

  // Handlers, under the window's event names.
  void btnOkClick();
  void btnCancelClick();
  void cmbScheduleModeChange();
  void cmbsrcdbtypeChange();
  void cmbdstdbtypeChange();
  void cmbOperationTypeChange();
  void btnSelectFileClick();
  void btnSelectFileDstClick();
  void btnLoadCommandsClick();
  void SpeedButton1Click();
  void TimerMessageTimer();
  void FormShow();
  void FormActivate();

  // Pages.
  QTabWidget* pgcMain = nullptr;
  QWidget* tabOptions = nullptr;   // "同步选项"
  QWidget* tabContent = nullptr;   // "同步内容"
  QWidget* tabDepend = nullptr;    // "依赖与互斥"
  QWidget* tabValidate = nullptr;  // "任务校验"
  QStackedWidget* pgcContent = nullptr;
  QWidget* tabRecord = nullptr;  // "记录同步"
  QWidget* TabCmd = nullptr;     // "批量命令"

  // "基本信息".
  QLineEdit* txtMissionName = nullptr;
  QLineEdit* txtVersion = nullptr;
  QCheckBox* chkActive = nullptr;
  QLineEdit* txtNote = nullptr;
  // "数据库连接".
  QComboBox* cmbsrcdbtype = nullptr;
  QLineEdit* txtServerSrc = nullptr;
  QLineEdit* txt_srcdbName = nullptr;
  QToolButton* btnSelectFile = nullptr;
  QLineEdit* txt_srcdbUser = nullptr;
  QLineEdit* txt_srcdbpwd = nullptr;
  QComboBox* cmbdstdbtype = nullptr;
  QLineEdit* txtServerDst = nullptr;
  QLineEdit* txt_dstdbname = nullptr;
  QToolButton* btnSelectFileDst = nullptr;
  QLineEdit* txt_dstdbuser = nullptr;
  QLineEdit* txt_dstdbpwd = nullptr;
  QPushButton* btnTestSrcDB = nullptr;
  QPushButton* btnTestDstDb = nullptr;
  // "同步方式".
  QButtonGroup* grpMode = nullptr;
  QRadioButton* rdbImme = nullptr;
  QRadioButton* rdbtimer = nullptr;
  QRadioButton* rdbfixdis = nullptr;
  QComboBox* cmbScheduleMode = nullptr;
  QLineEdit* txtDate = nullptr;
  QLineEdit* txtweekset = nullptr;
  QLineEdit* txt_timepoint = nullptr;
  QLineEdit* txtdistance = nullptr;
  // "同步内容".
  QComboBox* cmbOperationType = nullptr;
  QPlainTextEdit* RichEditCmd = nullptr;
  QLineEdit* txtDstTable = nullptr;
  QPlainTextEdit* RichEditFieldMap = nullptr;
  QPushButton* btnLoadFields = nullptr;
  QPlainTextEdit* RichCommands = nullptr;
  QPushButton* btnLoadCommands = nullptr;
  // "依赖与互斥".
  QPlainTextEdit* MemoCheckCondition = nullptr;
  QTreeWidget* ListView2 = nullptr;
  QPushButton* btnAddExclusive = nullptr;
  QPushButton* btnDeleteExclusive = nullptr;
  // "任务校验".
  QPlainTextEdit* txtValidSrcDB = nullptr;
  QPlainTextEdit* txtValidDstDB = nullptr;
  // Notice bar and buttons.
  QFrame* pnlNotice = nullptr;
  QLabel* lblNotice = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QTimer* TimerMessage = nullptr;
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;

 protected:
  bool event(QEvent* Event) override;
  void showEvent(QShowEvent* Event) override;

 private:
  QWidget* BuildOptionsPage();
  QWidget* BuildContentPage();
  QWidget* BuildDependPage();
  QWidget* BuildValidatePage();
  // Moves the focus to Field when it is enabled and shown.
  void FocusIfPossible(QWidget* Field);

  bool FConfirmed = false;
  TgDataModule* FDataModule = nullptr;
};

}  // namespace kelvor
