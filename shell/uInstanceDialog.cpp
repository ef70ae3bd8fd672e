#include "shell/uInstanceDialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include "platform/Text.h"
#include "platform/TextFile.h"
#include "shell/uDatatypeChecker.h"
#include "shell/uDialogs.h"
#include "shell/uListColumns.h"
#include "shell/uQtText.h"
#include "tasks/uInstance.h"

namespace kelvor {

namespace {

QString T(const char* Utf8) {
  return QString::fromUtf8(Utf8);
}

QLabel* Label(const char* Text, QWidget* Parent) {
  return new QLabel(T(Text), Parent);
}

QLabel* RedNote(const char* Text, QWidget* Parent) {
  QLabel* l = Label(Text, Parent);
  l->setStyleSheet(QStringLiteral("color: #c00000;"));
  return l;
}

QLabel* HelpText(const QStringList& Lines, QWidget* Parent) {
  QLabel* l = new QLabel(Lines.join(QLatin1Char('\n')), Parent);
  l->setStyleSheet(QStringLiteral("color: #0000c0;"));
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return l;
}

QLineEdit* Edit(const char* Name, QWidget* Parent, const char* Hint = nullptr) {
  QLineEdit* e = new QLineEdit(Parent);
  e->setObjectName(QString::fromLatin1(Name));
  if (Hint) e->setToolTip(T(Hint));
  return e;
}

QPlainTextEdit* Editor(const char* Name, QWidget* Parent, bool Wrap) {
  QPlainTextEdit* e = new QPlainTextEdit(Parent);
  e->setObjectName(QString::fromLatin1(Name));
  e->setLineWrapMode(Wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  e->setTabChangesFocus(false);
  return e;
}

QPushButton* Button(const char* Name, const char* Caption, QWidget* Parent,
                    const char* Hint = nullptr) {
  QPushButton* b = new QPushButton(T(Caption), Parent);
  b->setObjectName(QString::fromLatin1(Name));
  b->setAutoDefault(false);
  if (Hint) b->setToolTip(T(Hint));
  return b;
}

QComboBox* DropDown(const char* Name, const QStringList& Items, QWidget* Parent,
                    const char* Hint = nullptr) {
  QComboBox* c = new QComboBox(Parent);
  c->setObjectName(QString::fromLatin1(Name));
  c->addItems(Items);
  c->setCurrentIndex(0);
  if (Hint) c->setToolTip(T(Hint));
  return c;
}

// A combo box index from a stored code: a code outside the list shows no
// item, and ReadFromEditor then keeps the stored code (see ReadIndex).
void SetIndex(QComboBox* Combo, int32_t Code) {
  Combo->setCurrentIndex(Code >= 0 && Code < Combo->count() ? Code : -1);
}
void ReadIndex(const QComboBox* Combo, int32_t& Code) {
  if (Combo->currentIndex() >= 0) Code = Combo->currentIndex();
}

void ReadInteger(const QLineEdit* Field, int32_t& Value) {
  int32_t v = 0;
  if (TryStrToInt(S(Field->text()), v)) Value = v;
}

void SetEditorText(QPlainTextEdit* Editor, const std::string& Text) {
  Editor->setPlainText(ToEditorLines(Text));
}

const char* const kMarkupMessage = "文本中不能输入<、>、\"";
const char* const kNumberMessage = "请输入合法的数字!";

}  // namespace

TKelvorInstanceDialog::TKelvorInstanceDialog(QWidget* Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("TKelvorInstanceDialog"));
  setWindowTitle(T("数据同步定义"));
  TDialogs::FixedFrame(*this);

  pgcMain = new QTabWidget(this);
  pgcMain->setObjectName(QStringLiteral("pgcMain"));
  tabOptions = BuildOptionsPage();
  tabContent = BuildContentPage();
  tabDepend = BuildDependPage();
  tabValidate = BuildValidatePage();
  pgcMain->addTab(tabOptions, T("同步选项"));
  pgcMain->addTab(tabContent, T("同步内容"));
  pgcMain->addTab(tabDepend, T("依赖与互斥"));
  pgcMain->addTab(tabValidate, T("任务校验"));

  // Notice bar, left of the buttons; it keeps its room while hidden so the
  // buttons never move.
  pnlNotice = new QFrame(this);
  pnlNotice->setObjectName(QStringLiteral("pnlNotice"));
  pnlNotice->setFrameShape(QFrame::StyledPanel);
  pnlNotice->setStyleSheet(QStringLiteral(
      "#pnlNotice { background: #fff3f0; border: 1px solid #e4a59c; border-radius: 3px; }"));
  lblNotice = new QLabel(pnlNotice);
  lblNotice->setObjectName(QStringLiteral("lblNotice"));
  lblNotice->setStyleSheet(QStringLiteral("color: #d00000;"));
  SpeedButton1 = new QToolButton(pnlNotice);
  SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
  SpeedButton1->setText(QString(QChar(0x00D7)));
  SpeedButton1->setAutoRaise(true);
  SpeedButton1->setFocusPolicy(Qt::NoFocus);
  auto* noticeLayout = new QHBoxLayout(pnlNotice);
  noticeLayout->setContentsMargins(8, 2, 2, 2);
  noticeLayout->addWidget(lblNotice, 1);
  noticeLayout->addWidget(SpeedButton1);
  QSizePolicy keepRoom = pnlNotice->sizePolicy();
  keepRoom.setRetainSizeWhenHidden(true);
  keepRoom.setHorizontalPolicy(QSizePolicy::Expanding);
  pnlNotice->setSizePolicy(keepRoom);
  pnlNotice->hide();

  btnOk = Button("btnOk", "确定(&O)", this, "保存任务信息");
  btnOk->setDefault(true);
  btnCancel = Button("btnCancel", "取消(&C)", this, "放弃任务信息的保存并关闭窗体");

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(pnlNotice, 1);
  bottom->addSpacing(12);
  bottom->addWidget(btnOk);
  bottom->addWidget(btnCancel);

  auto* root = new QVBoxLayout(this);
  root->addWidget(pgcMain, 1);
  root->addLayout(bottom);

  TimerMessage = new QTimer(this);
  TimerMessage->setObjectName(QStringLiteral("TimerMessage"));
  TimerMessage->setInterval(5000);

  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(TimerMessage, &QTimer::timeout, this, [this] { TimerMessageTimer(); });
  connect(cmbScheduleMode, &QComboBox::currentIndexChanged, this,
          [this] { cmbScheduleModeChange(); });
  connect(cmbsrcdbtype, &QComboBox::currentIndexChanged, this, [this] { cmbsrcdbtypeChange(); });
  connect(cmbOperationType, &QComboBox::currentIndexChanged, this,
          [this] { cmbOperationTypeChange(); });
  connect(btnSelectFile, &QToolButton::clicked, this, [this] { btnSelectFileClick(); });
  connect(cmbdstdbtype, &QComboBox::currentIndexChanged, this, [this] { cmbdstdbtypeChange(); });
  connect(btnSelectFileDst, &QToolButton::clicked, this, [this] { btnSelectFileDstClick(); });
  connect(btnLoadCommands, &QPushButton::clicked, this, [this] { btnLoadCommandsClick(); });
  for (QPushButton* b : {btnTestSrcDB, btnTestDstDb})
    connect(b, &QPushButton::clicked, this, [this, b] {
      if (OnTestConnection) OnTestConnection(b);
    });
  connect(btnLoadFields, &QPushButton::clicked, this, [this] {
    if (OnLoadFields) OnLoadFields(btnLoadFields);
  });

  cmbScheduleModeChange();
  cmbsrcdbtypeChange();
  cmbdstdbtypeChange();
  cmbOperationTypeChange();
  // The options page sets the height: the editors of the other pages take
  // what is left instead of stretching the dialog.
  int tallestPage = 0;
  for (QWidget* page : {tabOptions, tabContent, tabDepend, tabValidate})
    tallestPage = std::max(tallestPage, page->sizeHint().height());
  const QSize hint = sizeHint();
  setFixedSize(hint.width(), hint.height() - tallestPage + tabOptions->sizeHint().height());
}

TKelvorInstanceDialog::~TKelvorInstanceDialog() = default;

QWidget* TKelvorInstanceDialog::BuildOptionsPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("tabOptions"));

  // "基本信息".
  auto* basic = new QGroupBox(T("基本信息"), page);
  txtMissionName = Edit("txtMissionName", basic);
  txtMissionName->setText(QStringLiteral("tast1"));
  txtVersion = Edit("txtVersion", basic);
  txtVersion->setText(QStringLiteral("1.0"));
  chkActive = new QCheckBox(T("激活任务"), basic);
  chkActive->setObjectName(QStringLiteral("chkActive"));
  chkActive->setChecked(true);
  txtNote = Edit("txtNote", basic);
  auto* nameRow = new QHBoxLayout;
  nameRow->addWidget(txtMissionName, 1);
  nameRow->addWidget(RedNote("*(为英文,数字组合)", basic));
  auto* basicGrid = new QGridLayout(basic);
  basicGrid->addWidget(Label("任务名称", basic), 0, 0);
  basicGrid->addLayout(nameRow, 0, 1);
  basicGrid->addWidget(Label("版本", basic), 0, 2);
  basicGrid->addWidget(txtVersion, 0, 3);
  basicGrid->addWidget(chkActive, 0, 4);
  basicGrid->addWidget(Label("说明", basic), 1, 0);
  basicGrid->addWidget(txtNote, 1, 1, 1, 4);
  basicGrid->setColumnStretch(1, 3);
  basicGrid->setColumnStretch(3, 1);

  // "数据库连接": the source on the left, the destination on the right.
  auto* conn = new QGroupBox(T("数据库连接"), page);
  cmbsrcdbtype = DropDown("cmbsrcdbtype", {"oracle", "sqlserver", "access", "odbc", "db2"}, conn);
  txtServerSrc = Edit("txtServerSrc", conn, "源数据库的服务名");
  txt_srcdbName = Edit("txt_srcdbName", conn, "源数据库的服务名");
  btnSelectFile = new QToolButton(conn);
  btnSelectFile->setObjectName(QStringLiteral("btnSelectFile"));
  btnSelectFile->setText(QStringLiteral("..."));
  btnSelectFile->setEnabled(false);
  txt_srcdbUser = Edit("txt_srcdbUser", conn, "源数据库的登陆用户");
  txt_srcdbpwd = Edit("txt_srcdbpwd", conn, "源数据库登陆密码");
  cmbdstdbtype = DropDown("cmbdstdbtype", {"oracle", "sqlserver", "Access", "odbc", "db2"}, conn);
  txtServerDst = Edit("txtServerDst", conn);
  txt_dstdbname = Edit("txt_dstdbname", conn, "目的数据库服务名");
  // A database file is as often the destination as the source.
  btnSelectFileDst = new QToolButton(conn);
  btnSelectFileDst->setObjectName(QStringLiteral("btnSelectFileDst"));
  btnSelectFileDst->setText(QStringLiteral("..."));
  btnSelectFileDst->setEnabled(false);
  txt_dstdbuser = Edit("txt_dstdbuser", conn);
  txt_dstdbpwd = Edit("txt_dstdbpwd", conn);
  for (QLineEdit* pwd : {txt_srcdbpwd, txt_dstdbpwd}) {
    pwd->setEchoMode(QLineEdit::Password);
    pwd->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
  }
  btnTestSrcDB = Button("btnTestSrcDB", "测试连接(&S)", conn, "测试源数据库的连接");
  btnTestSrcDB->setProperty("tag", 0);
  btnTestDstDb = Button("btnTestDstDb", "测试连接(&D)", conn, "测试目的数据库的连接");
  btnTestDstDb->setProperty("tag", 1);

  auto* srcName = new QHBoxLayout;
  srcName->setSpacing(2);
  srcName->addWidget(txt_srcdbName, 1);
  srcName->addWidget(btnSelectFile);
  auto* dstName = new QHBoxLayout;
  dstName->setSpacing(2);
  dstName->addWidget(txt_dstdbname, 1);
  dstName->addWidget(btnSelectFileDst);
  auto* connGrid = new QGridLayout(conn);
  connGrid->setHorizontalSpacing(8);
  connGrid->addWidget(Label("源类型", conn), 0, 0);
  connGrid->addWidget(cmbsrcdbtype, 0, 1);
  connGrid->addWidget(Label("源服务器", conn), 1, 0);
  connGrid->addWidget(txtServerSrc, 1, 1);
  connGrid->addWidget(Label("源数据库*", conn), 2, 0);
  connGrid->addLayout(srcName, 2, 1);
  connGrid->addWidget(Label("用户*", conn), 3, 0);
  connGrid->addWidget(txt_srcdbUser, 3, 1);
  connGrid->addWidget(Label("登陆口令*", conn), 4, 0);
  connGrid->addWidget(txt_srcdbpwd, 4, 1);
  connGrid->addWidget(btnTestSrcDB, 5, 1, Qt::AlignRight);
  connGrid->addItem(new QSpacerItem(18, 1), 0, 2);
  connGrid->addWidget(Label("目的类型*", conn), 0, 3);
  connGrid->addWidget(cmbdstdbtype, 0, 4);
  connGrid->addWidget(Label("目的服务器", conn), 1, 3);
  connGrid->addWidget(txtServerDst, 1, 4);
  connGrid->addWidget(Label("目的数据库*", conn), 2, 3);
  connGrid->addLayout(dstName, 2, 4);
  connGrid->addWidget(Label("用户*", conn), 3, 3);
  connGrid->addWidget(txt_dstdbuser, 3, 4);
  connGrid->addWidget(Label("登陆口令*", conn), 4, 3);
  connGrid->addWidget(txt_dstdbpwd, 4, 4);
  connGrid->addWidget(btnTestDstDb, 5, 4, Qt::AlignRight);
  connGrid->setColumnStretch(1, 1);
  connGrid->setColumnStretch(4, 1);

  // "同步方式". The mode buttons switch nothing: every schedule field stays
  // editable whatever mode is chosen.
  auto* mode = new QGroupBox(T("同步方式"), page);
  rdbImme = new QRadioButton(T("执行一次"), mode);
  rdbImme->setObjectName(QStringLiteral("rdbImme"));
  rdbImme->setChecked(true);
  rdbtimer = new QRadioButton(T("计划"), mode);
  rdbtimer->setObjectName(QStringLiteral("rdbtimer"));
  rdbfixdis = new QRadioButton(T("固定时间间隔"), mode);
  rdbfixdis->setObjectName(QStringLiteral("rdbfixdis"));
  grpMode = new QButtonGroup(this);
  grpMode->addButton(rdbImme, 0);
  grpMode->addButton(rdbtimer, 1);
  grpMode->addButton(rdbfixdis, 2);
  cmbScheduleMode =
      DropDown("cmbScheduleMode", {T("每天"), T("每星期"), T("每月")}, mode, "选择具体的计划模式");
  txtDate = Edit("txtDate", mode, "选择每月具体同步为哪天");
  txtDate->setText(QStringLiteral("0"));
  txtweekset = Edit("txtweekset", mode, "选择每星期几进行同步");
  txtweekset->setText(QStringLiteral("0"));
  txt_timepoint = Edit("txt_timepoint", mode, "选择每天同步的时间点");
  txt_timepoint->setText(QStringLiteral("17:30"));
  txtdistance = Edit("txtdistance", mode, "选择同步的时间间隔");
  txtdistance->setText(QStringLiteral("12"));

  auto* timeRow = new QHBoxLayout;
  timeRow->addWidget(txt_timepoint, 1);
  timeRow->addWidget(RedNote("(HH:MM)", mode));
  auto* modeGrid = new QGridLayout(mode);
  modeGrid->setHorizontalSpacing(8);
  modeGrid->addWidget(rdbImme, 0, 0, 1, 2);
  modeGrid->addWidget(rdbtimer, 0, 2, 1, 2);
  modeGrid->addWidget(rdbfixdis, 0, 4, 1, 2);
  modeGrid->addWidget(Label("计划模式", mode), 1, 0);
  modeGrid->addWidget(cmbScheduleMode, 1, 1);
  modeGrid->addWidget(Label("日期", mode), 1, 2);
  modeGrid->addWidget(txtDate, 1, 3);
  modeGrid->addWidget(Label("星期", mode), 1, 4);
  modeGrid->addWidget(txtweekset, 1, 5);
  modeGrid->addWidget(Label("时间点", mode), 2, 0);
  modeGrid->addLayout(timeRow, 2, 1);
  modeGrid->addWidget(Label("间隔分钟数", mode), 2, 2);
  modeGrid->addWidget(txtdistance, 2, 3);
  for (int c : {1, 3, 5})
    modeGrid->setColumnStretch(c, 1);

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(basic);
  layout->addWidget(conn);
  layout->addWidget(mode);
  layout->addStretch(1);
  return page;
}

QWidget* TKelvorInstanceDialog::BuildContentPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("tabContent"));
  cmbOperationType = DropDown(
      "cmbOperationType",
      {T("新增(从源库获取记录更新到目的库)"), T("先更新后新增(从源库获取记录更新到目的库)"),
       T("更新(从源库获取记录更新目的库,不新增)"), T("更新目的库(直接操作目的库)"),
       T("更新源数据库(直接操作源数据库)"), T("保持目的表和源表记录一致")},
      page);
  auto* typeRow = new QHBoxLayout;
  typeRow->addWidget(Label("操作类型", page));
  typeRow->addWidget(cmbOperationType, 1);

  pgcContent = new QStackedWidget(page);
  pgcContent->setObjectName(QStringLiteral("pgcContent"));

  // Record page "记录同步".
  tabRecord = new QWidget;
  tabRecord->setObjectName(QStringLiteral("tabRecord"));
  tabRecord->setWindowTitle(T("记录同步"));
  RichEditCmd = Editor("RichEditCmd", tabRecord, true);
  RichEditCmd->setPlainText(QStringLiteral("select * from test"));
  RichEditCmd->setFixedHeight(RichEditCmd->fontMetrics().lineSpacing() * 4 + 12);
  txtDstTable = Edit("txtDstTable", tabRecord);
  txtDstTable->setText(QStringLiteral("test"));
  auto* mapTabs = new QTabWidget(tabRecord);
  mapTabs->setObjectName(QStringLiteral("pgcFieldMap"));
  auto* mapPage = new QWidget;
  RichEditFieldMap = Editor("RichEditFieldMap", mapPage, false);
  RichEditFieldMap->setPlainText(QStringLiteral("<a1>:<a1|varchar2|32|true>"));
  btnLoadFields = Button("btnLoadFields", "从源数据库获取字段(&L)...", mapPage);
  auto* mapLayout = new QVBoxLayout(mapPage);
  mapLayout->addWidget(
      Label("字段映射(以 <源字段> : <目的字段|类型|长度|关键字> ) 编写每一行", mapPage));
  mapLayout->addWidget(RichEditFieldMap, 1);
  mapLayout->addWidget(btnLoadFields, 0, Qt::AlignRight);
  mapTabs->addTab(mapPage, T("同步详细设置(字段映射)"));
  auto* recordGrid = new QGridLayout(tabRecord);
  recordGrid->setContentsMargins(0, 0, 0, 0);
  recordGrid->addWidget(Label("数据命令", tabRecord), 0, 0, Qt::AlignTop);
  recordGrid->addWidget(RichEditCmd, 0, 1);
  recordGrid->addWidget(Label("目标数据表", tabRecord), 1, 0);
  recordGrid->addWidget(txtDstTable, 1, 1);
  recordGrid->addWidget(mapTabs, 2, 0, 1, 2);
  recordGrid->setRowStretch(2, 1);

  // Commands page "批量命令".
  TabCmd = new QWidget;
  TabCmd->setObjectName(QStringLiteral("TabCmd"));
  TabCmd->setWindowTitle(T("批量命令"));
  RichCommands = Editor("RichCommands", TabCmd, false);
  btnLoadCommands = Button("btnLoadCommands", "获取命令集(&L)", TabCmd);
  auto* cmdLayout = new QVBoxLayout(TabCmd);
  cmdLayout->setContentsMargins(0, 0, 0, 0);
  cmdLayout->addWidget(HelpText({T("批量SQL数据库命令，命令之间以独立行go/GO 进行分割, "
                                   "注释以独立行--开头表明 如:"),
                                 T("UPDATE TEST SET NAME = 'NAME'"), T("GO"),
                                 T("INSERT TEST(NAME) VALUES('NAME')"), T("GO"), T("......")},
                                TabCmd));
  cmdLayout->addWidget(RichCommands, 1);
  cmdLayout->addWidget(btnLoadCommands, 0, Qt::AlignRight);

  pgcContent->addWidget(tabRecord);
  pgcContent->addWidget(TabCmd);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(typeRow);
  layout->addWidget(pgcContent, 1);
  return page;
}

QWidget* TKelvorInstanceDialog::BuildDependPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("tabDepend"));

  auto* before = new QGroupBox(T("前置任务"), page);
  MemoCheckCondition = Editor("MemoCheckCondition", before, true);
  auto* beforeLayout = new QVBoxLayout(before);
  beforeLayout->addWidget(Label("同步之前检查", before));
  beforeLayout->addWidget(MemoCheckCondition, 1);
  beforeLayout->addWidget(
      HelpText({T("前置任务的作用：避免重复操作数据，即目的数据表中已存在对应的记录，则不再"),
                T("做更新动作，设置办法：select a1,a2,a3... from "
                  "<目的表>,其中a1,a2,a3皆为关键字"),
                T("段，且顺序务必与同步内容的关键字段顺序相同。设置该条件需谨慎，如果源表记录过"),
                T("多，则速度会受到影响。")},
               before));

  // "互斥任务": shown as the system shows it, but nothing fills or reads it.
  auto* exclusive = new QGroupBox(T("互斥任务"), page);
  ListView2 = new QTreeWidget(exclusive);
  ListView2->setObjectName(QStringLiteral("ListView2"));
  ListView2->setRootIsDecorated(false);
  ListView2->setHeaderLabels({T("任务名称"), T("版本")});
  ListView2->setColumnWidth(0, ColumnWidthInChars(*ListView2, *ListView2->header(), 0, 16));
  ListView2->setColumnWidth(1, ColumnWidthInChars(*ListView2, *ListView2->header(), 1, 17));
  ListView2->setEnabled(false);
  btnAddExclusive = Button("btnAddExclusive", "增加(&A)", exclusive);
  btnAddExclusive->setEnabled(false);
  btnDeleteExclusive = Button("btnDeleteExclusive", "删除(&D)", exclusive);
  btnDeleteExclusive->setEnabled(false);
  auto* exButtons = new QVBoxLayout;
  exButtons->addWidget(btnAddExclusive);
  exButtons->addWidget(btnDeleteExclusive);
  exButtons->addStretch(1);
  auto* exLayout = new QHBoxLayout(exclusive);
  exLayout->addWidget(ListView2, 1);
  exLayout->addLayout(exButtons);

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(before, 3);
  layout->addWidget(exclusive, 2);
  return page;
}

QWidget* TKelvorInstanceDialog::BuildValidatePage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("tabValidate"));
  txtValidSrcDB = Editor("txtValidSrcDB", page, true);
  txtValidSrcDB->setToolTip(T("源数据库任务完成校验脚本"));
  txtValidDstDB = Editor("txtValidDstDB", page, true);
  txtValidDstDB->setToolTip(T("目的数据库任务完成校验脚本"));
  txtValidDstDB->setEnabled(false);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(Label("同步后校验源数据库(以 where 1=1 结束)", page));
  layout->addWidget(txtValidSrcDB, 1);
  layout->addWidget(Label("同步后校验目的数据库(以 where 1=1 结束)", page));
  layout->addWidget(txtValidDstDB, 1);
  layout->addWidget(HelpText(
      {T("同步后校验的作用：对已更新的数据设置更新标志，下次更新时，则不再操作已更新的"),
       T("数据，从而达到增量同步的目的,比如: 设置同步内容命令 select * from sampletable "),
       T("where updateflag <> 1、设置源库校验脚本：update sampletable set updateflag = 1 "),
       T("where 1=1 ,从而达到对sampletable增量同步的目的(其中updateflag 为已同步标志字"),
       T("段)。")},
      page));
  return page;
}

// ---------------------------------------------------------------------------
// The editor interface.

void TKelvorInstanceDialog::LoadToEditor(const TKelvorInstance& I) {
  txtMissionName->setText(Q(I.MissionName));
  txtVersion->setText(Q(I.Version));
  chkActive->setChecked(I.IsActive);
  if (QAbstractButton* b = grpMode->button(I.Mode)) b->setChecked(true);
  txt_timepoint->setText(Q(I.TimePoint));
  txtdistance->setText(QString::number(I.TimeDistance));
  SetEditorText(MemoCheckCondition, I.CheckCondition);

  txt_srcdbName->setText(Q(I.Source.DbName));
  txt_srcdbUser->setText(Q(I.Source.DbUser));
  txt_srcdbpwd->setText(Q(I.Source.DbPwd));
  txtServerSrc->setText(Q(I.Source.DbServer));
  SetIndex(cmbsrcdbtype, I.Source.DbType);
  txt_dstdbname->setText(Q(I.Destination.DbName));
  txt_dstdbuser->setText(Q(I.Destination.DbUser));
  txt_dstdbpwd->setText(Q(I.Destination.DbPwd));
  txtServerDst->setText(Q(I.Destination.DbServer));
  SetIndex(cmbdstdbtype, I.Destination.DbType);

  txtDstTable->setText(Q(I.FieldMaps.DstTable));
  const std::string command = I.FieldMaps.GetCommand();
  SetEditorText(RichEditCmd, command);
  const bool script = I.FieldMaps.OperationType == opScriptOnDestination ||
                      I.FieldMaps.OperationType == opScriptOnSource;
  SetEditorText(RichCommands, script ? command : std::string());
  SetEditorText(txtValidSrcDB, I.FieldMaps.GetValidationSrc());
  SetEditorText(txtValidDstDB, I.FieldMaps.GetValidationDst());
  SetIndex(cmbOperationType, I.FieldMaps.OperationType);

  txtNote->setText(Q(I.Note));
  txtDate->setText(QString::number(I.DaySet));
  txtweekset->setText(QString::number(I.WeekSet));
  SetIndex(cmbScheduleMode, I.ScheduleMode);
  cmbScheduleModeChange();

  // The text form ends every line with a line break; the editor shows no
  // empty line after the last entry.
  QString map = ToEditorLines(I.FieldMaps.GetFieldMapText());
  if (map.endsWith(QLatin1Char('\n'))) map.chop(1);
  RichEditFieldMap->setPlainText(map);
}

void TKelvorInstanceDialog::ReadFromEditor(TKelvorInstance& I) {
  I.MissionName = S(txtMissionName->text());
  I.Version = S(txtVersion->text());
  I.IsActive = chkActive->isChecked();
  if (rdbImme->isChecked())
    I.Mode = 0;
  else if (rdbtimer->isChecked())
    I.Mode = 1;
  else if (rdbfixdis->isChecked())
    I.Mode = 2;
  I.TimePoint = S(txt_timepoint->text());
  ReadInteger(txtdistance, I.TimeDistance);
  I.CheckCondition = FromEditorLines(MemoCheckCondition->toPlainText());

  I.Source.DbName = S(txt_srcdbName->text());
  I.Source.DbUser = S(txt_srcdbUser->text());
  I.Source.DbPwd = S(txt_srcdbpwd->text());
  I.Source.DbServer = S(txtServerSrc->text());
  ReadIndex(cmbsrcdbtype, I.Source.DbType);
  I.Destination.DbName = S(txt_dstdbname->text());
  I.Destination.DbUser = S(txt_dstdbuser->text());
  I.Destination.DbPwd = S(txt_dstdbpwd->text());
  I.Destination.DbServer = S(txtServerDst->text());
  ReadIndex(cmbdstdbtype, I.Destination.DbType);

  I.FieldMaps.DstTable = S(txtDstTable->text());
  I.FieldMaps.SetCommand(FromEditorLines(RichEditCmd->toPlainText()));
  const int type = cmbOperationType->currentIndex();
  if (type == opScriptOnDestination || type == opScriptOnSource)
    I.FieldMaps.SetCommand(FromEditorLines(RichCommands->toPlainText()));
  I.FieldMaps.SetValidationSrc(FromEditorLines(txtValidSrcDB->toPlainText()));
  I.FieldMaps.SetValidationDst(FromEditorLines(txtValidDstDB->toPlainText()));
  ReadIndex(cmbOperationType, I.FieldMaps.OperationType);

  I.Note = S(txtNote->text());
  ReadInteger(txtDate, I.DaySet);
  ReadInteger(txtweekset, I.WeekSet);
  ReadIndex(cmbScheduleMode, I.ScheduleMode);
  I.FieldMaps.SetFieldMapText(FromEditorLines(RichEditFieldMap->toPlainText()));
}

bool TKelvorInstanceDialog::Execute(bool ReadOnly) {
  FConfirmed = false;
  pgcMain->setCurrentIndex(0);
  btnOk->setEnabled(!ReadOnly);
  // The dialog has no parent widget (its record owns it); it still stays
  // above the window that opened it.
  if (QWidget* opener = QApplication::activeWindow(); opener && opener != this) {
    winId();
    if (windowHandle() && opener->windowHandle())
      windowHandle()->setTransientParent(opener->windowHandle());
  }
  TDialogs::ExecModal(*this);
  return FConfirmed;
}

// ---------------------------------------------------------------------------
// Checks and the notice bar.

bool TKelvorInstanceDialog::CheckInput() {
  struct TCheck {
    QLineEdit* Field;
    bool (*Passes)(std::string_view);
    const char* Message;
  };
  const char* nameMessage = "任务名请输入合法的英文和数字!";
  const char* timeMessage = "请输入合法的时间格式(HH:MM)";
  const TCheck checks[] = {
      {txtMissionName, &TDataTypeChecker::CheckMissionName, nameMessage},
      {txtVersion, &TDataTypeChecker::CheckText, kMarkupMessage},
      {txt_srcdbUser, &TDataTypeChecker::CheckText, kMarkupMessage},
      {txt_srcdbName, &TDataTypeChecker::CheckText, kMarkupMessage},
      {txt_srcdbpwd, &TDataTypeChecker::CheckText, kMarkupMessage},
      {txt_dstdbuser, &TDataTypeChecker::CheckText, kMarkupMessage},
      {txt_dstdbname, &TDataTypeChecker::CheckText, kMarkupMessage},
      {txt_dstdbpwd, &TDataTypeChecker::CheckText, kMarkupMessage},
      {txtDstTable, &TDataTypeChecker::CheckText, kMarkupMessage},
      {txtNote, &TDataTypeChecker::CheckText, kMarkupMessage},
      // The three number fields must also convert, so that ReadFromEditor
      // can always store them ("5-" passes the character test alone).
      {txtdistance, &TDataTypeChecker::CheckInteger, kNumberMessage},
      {txtweekset, &TDataTypeChecker::CheckInteger, kNumberMessage},
      {txtDate, &TDataTypeChecker::CheckInteger, kNumberMessage},
      {txt_timepoint, &TDataTypeChecker::CheckTime, timeMessage},
  };
  for (const TCheck& check : checks) {
    if (check.Passes(S(check.Field->text()))) continue;
    ShowNotice(T(check.Message));
    if (check.Field != txtMissionName) FocusIfPossible(check.Field);
    return false;
  }
  return true;
}

void TKelvorInstanceDialog::ShowNotice(const QString& Text) {
  lblNotice->setText(Text);
  pnlNotice->show();
  if (!TimerMessage->isActive()) TimerMessage->start();
}

void TKelvorInstanceDialog::FocusIfPossible(QWidget* Field) {
  if (Field->isEnabled() && Field->isVisible() && Field->focusPolicy() != Qt::NoFocus)
    Field->setFocus(Qt::OtherFocusReason);
}

// ---------------------------------------------------------------------------
// Handlers.

void TKelvorInstanceDialog::btnOkClick() {
  if (!btnOk->isEnabled()) return;
  if (!CheckInput()) return;
  if (OnCheckName) {
    bool exists = false;
    OnCheckName(this, exists);
    if (exists) {
      ShowNotice(T("已存在任务名相同的任务!"));
      return;
    }
  }
  FConfirmed = true;
  accept();
}

void TKelvorInstanceDialog::btnCancelClick() {
  FConfirmed = false;
  reject();
}

void TKelvorInstanceDialog::cmbScheduleModeChange() {
  const int mode = cmbScheduleMode->currentIndex();
  txtDate->setEnabled(mode == scheduleMonthly);
  txtweekset->setEnabled(mode == scheduleWeekly);
  if (mode == scheduleWeekly && isVisible()) FocusIfPossible(txtweekset);
  if (mode == scheduleMonthly && isVisible()) FocusIfPossible(txtDate);
}

void TKelvorInstanceDialog::cmbsrcdbtypeChange() {
  btnSelectFile->setEnabled(cmbsrcdbtype->currentIndex() == dbAccess);
}

void TKelvorInstanceDialog::cmbOperationTypeChange() {
  const int type = cmbOperationType->currentIndex();
  const bool script = type == opScriptOnDestination || type == opScriptOnSource;
  pgcContent->setCurrentWidget(script ? TabCmd : tabRecord);
}

void TKelvorInstanceDialog::cmbdstdbtypeChange() {
  btnSelectFileDst->setEnabled(cmbdstdbtype->currentIndex() == dbAccess);
}

namespace {
// Chooses a database file for Field, opening where its current file lies.
void ChooseDatabaseFile(QWidget* Parent, QLineEdit* Field) {
  const QString current = Field->text().trimmed();
  const QString folder = current.isEmpty() ? QString() : QFileInfo(current).absolutePath();
  const QString path =
      TDialogs::OpenFileName(Parent, QString::fromUtf8(kDatabaseFileFilter), folder);
  if (!path.isEmpty()) Field->setText(path);
}
}  // namespace

void TKelvorInstanceDialog::btnSelectFileClick() {
  ChooseDatabaseFile(this, txt_srcdbName);
}

void TKelvorInstanceDialog::btnSelectFileDstClick() {
  ChooseDatabaseFile(this, txt_dstdbname);
}

void TKelvorInstanceDialog::btnLoadCommandsClick() {
  const QString path =
      TDialogs::OpenFileName(this, QStringLiteral("sql (*.sql);;txt (*.txt)"), QString());
  if (path.isEmpty()) return;
  std::vector<std::string> lines;
  if (!ReadLines(S(path), lines)) return;
  QStringList text;
  for (const std::string& line : lines)
    text << Q(line);
  RichCommands->setPlainText(text.join(QLatin1Char('\n')));
}

void TKelvorInstanceDialog::SpeedButton1Click() {
  pnlNotice->hide();
}

void TKelvorInstanceDialog::TimerMessageTimer() {
  TimerMessage->stop();
  pnlNotice->hide();
}

void TKelvorInstanceDialog::FormShow() {
  pgcMain->setCurrentIndex(0);
}

void TKelvorInstanceDialog::FormActivate() {
  cmbsrcdbtypeChange();
  cmbdstdbtypeChange();
  cmbOperationTypeChange();
}

bool TKelvorInstanceDialog::event(QEvent* Event) {
  if (Event->type() == QEvent::WindowActivate) FormActivate();
  return QDialog::event(Event);
}

void TKelvorInstanceDialog::showEvent(QShowEvent* Event) {
  if (!Event->spontaneous()) {
    TDialogs::CenterOnScreen(*this);
    FormShow();
  }
  QDialog::showEvent(Event);
}

}  // namespace kelvor
