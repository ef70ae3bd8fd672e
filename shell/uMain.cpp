#include "shell/uMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <algorithm>

#include "platform/Paths.h"
#include "shell/uAboutDialog.h"
#include "shell/uDialogs.h"
#include "shell/uIcons.h"
#include "shell/uListColumns.h"
#include "shell/uQtText.h"

namespace kelvor {

namespace {

QString T(const char* Utf8) {
  return QString::fromUtf8(Utf8);
}

constexpr int kMissionRole = Qt::UserRole + 1;  // TKelvorInstance* of the row
constexpr int kImageRole = Qt::UserRole + 2;    // the row's icon number
constexpr int kPaneHeight = 171;
// A row's bar counts in steps of a hundredth of a percent, so that counts
// beyond the bar's int range still show.
constexpr int kProgressSteps = 10000;

}  // namespace

TfrmMain::TfrmMain(QWidget* Parent) : QMainWindow(Parent) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Kelvor"));
  setWindowIcon(ApplicationIcon());
  BuildActions();
  BuildMenus();
  BuildToolBar();
  BuildCentralArea();
  BuildStatusBar();
  BuildTray();
  BuildTimers();
  resize(873, 578);
  // The controller enables the window once its start-up has finished.
  setEnabled(false);
}

TfrmMain::~TfrmMain() {
  // The tray menu has no parent, so that it works while the window is
  // disabled; it is freed here.
  if (TrayIcon) {
    TrayIcon->hide();
    TrayIcon->setContextMenu(nullptr);
  }
  delete PopupMenuFace;
}

QAction* TfrmMain::MakeAction(const char* Name, const char* Caption, QObject* Parent) {
  auto* a = new QAction(T(Caption), Parent);
  a->setObjectName(QString::fromLatin1(Name));
  return a;
}

void TfrmMain::BuildActions() {
  struct TTool {
    QAction** Target;
    const char* Name;
    const char* Caption;
    const char* Hint;
    TToolIcon Icon;
    bool Enabled;
  };
  const TTool tools[] = {
      {&btnNew, "btnNew", "新增", "新增任务", TToolIcon::NewMission, true},
      {&btnEdit, "btnEdit", "修改", "修改任务", TToolIcon::EditMission, true},
      {&btnDelete, "btnDelete", "删除", "删除任务", TToolIcon::DeleteMission, true},
      {&btnImport, "btnImport", "导入", nullptr, TToolIcon::Import, true},
      {&btnExport, "btnExport", "导出", nullptr, TToolIcon::Export, true},
      {&btnStartMission, "btnStartMission", "启动任务", nullptr, TToolIcon::StartMission, false},
      {&btnStopMission, "btnStopMission", "停止任务", nullptr, TToolIcon::StopMission, false},
      {&btnStartServer, "btnStartServer", "启动服务", nullptr, TToolIcon::StartServer, false},
      {&btnStopServer, "btnStopServer", "停止服务", nullptr, TToolIcon::StopServer, true},
      {&btnReport, "btnReport", "报表", nullptr, TToolIcon::Report, true},
      {&btnConfig, "btnConfig", "配置", nullptr, TToolIcon::Config, true},
      {&btnExit, "btnExit", "退出", nullptr, TToolIcon::Exit, true},
  };
  for (const TTool& t : tools) {
    QAction* a = MakeAction(t.Name, t.Caption, this);
    a->setIcon(ToolIcon(t.Icon));
    // Without a hint of its own a button shows its caption as tool tip.
    a->setToolTip(t.Hint ? T(t.Hint) : T(t.Caption));
    a->setEnabled(t.Enabled);
    *t.Target = a;
  }
  connect(btnExit, &QAction::triggered, this, [this] { btnExitClick(); });
}

void TfrmMain::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu"));

  mnuFile = bar->addMenu(T("文件"));
  mnuFile->setObjectName(QStringLiteral("mnuFile"));
  n_addmission = MakeAction("n_addmission", "添加任务", mnuFile);
  n_addmission->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
  n_deletemission = MakeAction("n_deletemission", "删除任务", mnuFile);
  n_modifymission = MakeAction("n_modifymission", "修改任务", mnuFile);
  n_importmission = MakeAction("n_importmission", "导入...", mnuFile);
  n_importmission->setShortcut(QKeySequence(QStringLiteral("Ctrl+I")));
  n_exportmission = MakeAction("n_exportmission", "导出...", mnuFile);
  n_exportmission->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
  n_exit = MakeAction("n_exit", "退出", mnuFile);
  n_exit->setShortcut(QKeySequence(QStringLiteral("Ctrl+X")));
  mnuFile->addActions({n_addmission, n_deletemission, n_modifymission});
  mnuFile->addSeparator();
  mnuFile->addActions({n_importmission, n_exportmission});
  mnuFile->addSeparator();
  mnuFile->addAction(n_exit);

  mnuMission = bar->addMenu(T("任务"));
  mnuMission->setObjectName(QStringLiteral("mnuMission"));
  N_StartMission = MakeAction("N_StartMission", "开始任务", mnuMission);
  N_StartMission->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
  N_StopMission = MakeAction("N_StopMission", "停止任务", mnuMission);
  N_StopMission->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
  n_ActiveMission = MakeAction("n_ActiveMission", "激活任务", mnuMission);
  n_disableMission = MakeAction("n_disableMission", "禁止任务", mnuMission);
  for (QAction* a : {N_StartMission, N_StopMission, n_ActiveMission, n_disableMission})
    a->setEnabled(false);
  mnuMission->addActions({N_StartMission, N_StopMission});
  mnuMission->addSeparator();
  mnuMission->addActions({n_ActiveMission, n_disableMission});

  mnuOptions = bar->addMenu(T("选项"));
  mnuOptions->setObjectName(QStringLiteral("mnuOptions"));
  N_config = MakeAction("N_config", "参数设置", mnuOptions);
  N_config->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
  mnuOptions->addAction(N_config);

  mnuReport = bar->addMenu(T("报表"));
  mnuReport->setObjectName(QStringLiteral("mnuReport"));
  n_report = MakeAction("n_report", "每天任务执行情况表", mnuReport);
  mnuReport->addAction(n_report);

  mnuHelp = bar->addMenu(T("帮助"));
  mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
  N6 = MakeAction("N6", "帮助", mnuHelp);
  n_download = MakeAction("n_download", "下载最新版本", mnuHelp);
  N7 = MakeAction("N7", "关于kelvor...", mnuHelp);
  N7->setShortcut(QKeySequence(QStringLiteral("Ctrl+A")));
  mnuHelp->addActions({N6, n_download});
  mnuHelp->addSeparator();
  mnuHelp->addAction(N7);

  connect(n_exit, &QAction::triggered, this, [this] { n_exitClick(); });
  connect(N6, &QAction::triggered, this, [this] { N6Click(); });
  connect(n_download, &QAction::triggered, this, [this] { n_downloadClick(); });
  connect(N7, &QAction::triggered, this, [this] { N7Click(); });
}

void TfrmMain::BuildToolBar() {
  ToolBarMain = new QToolBar(this);
  ToolBarMain->setObjectName(QStringLiteral("ToolBarMain"));
  ToolBarMain->setWindowTitle(T("工具栏"));
  ToolBarMain->setMovable(false);
  ToolBarMain->setFloatable(false);
  ToolBarMain->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  ToolBarMain->setIconSize(QSize(24, 24));
  ToolBarMain->setContextMenuPolicy(Qt::PreventContextMenu);
  addToolBar(Qt::TopToolBarArea, ToolBarMain);
  ToolBarMain->addActions({btnNew, btnEdit, btnDelete});
  ToolBarMain->addSeparator();
  ToolBarMain->addActions({btnImport, btnExport});
  ToolBarMain->addSeparator();
  ToolBarMain->addActions({btnStartMission, btnStopMission});
  ToolBarMain->addSeparator();
  ToolBarMain->addActions({btnStartServer, btnStopServer});
  ToolBarMain->addSeparator();
  ToolBarMain->addActions({btnReport, btnConfig});
  ToolBarMain->addSeparator();
  ToolBarMain->addAction(btnExit);
  // Equal button widths, wide enough for the longest caption.
  int width = 0;
  for (QAction* a : ToolBarMain->actions())
    if (!a->isSeparator()) width = std::max(width, fontMetrics().horizontalAdvance(a->text()));
  for (QAction* a : ToolBarMain->actions())
    if (QWidget* w = ToolBarMain->widgetForAction(a); w && !a->isSeparator())
      w->setMinimumWidth(width + 14);
}

void TfrmMain::BuildCentralArea() {
  ListViewInstances = new QTableWidget(0, mcColumnCount, this);
  ListViewInstances->setObjectName(QStringLiteral("ListViewInstances"));
  ListViewInstances->setHorizontalHeaderLabels(
      {T("序号"), T("任务"), T("开始时间"), T("结束时间"), T("状态"), T("激活状态"), T("描述")});
  for (int c : {mcStart, mcEnd, mcState})
    ListViewInstances->horizontalHeaderItem(c)->setTextAlignment(Qt::AlignCenter);
  for (int c : {mcNumber, mcMission, mcActivation, mcNote})
    ListViewInstances->horizontalHeaderItem(c)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ListViewInstances->horizontalHeader()->setStretchLastSection(true);
  ListViewInstances->horizontalHeader()->setHighlightSections(false);
  ListViewInstances->verticalHeader()->hide();
  ListViewInstances->verticalHeader()->setDefaultSectionSize(
      std::max(22, ListViewInstances->fontMetrics().height() + 8));
  ListViewInstances->setShowGrid(true);
  ListViewInstances->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListViewInstances->setSelectionMode(QAbstractItemView::SingleSelection);
  ListViewInstances->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListViewInstances->setWordWrap(false);
  ListViewInstances->setIconSize(QSize(16, 16));
  // The columns of the controller's fixed texts show them whole at the
  // list's font; the task's name and note elide, their tooltip holding the
  // whole text.
  const QHeaderView& header = *ListViewInstances->horizontalHeader();
  auto fit = [&](int Column, const QStringList& Texts, bool WithIcon = false) {
    ListViewInstances->setColumnWidth(
        Column, ColumnWidthFor(*ListViewInstances, header, Column, Texts, WithIcon));
  };
  fit(mcNumber, {QStringLiteral("999")}, true);
  ListViewInstances->setColumnWidth(mcMission,
                                    ColumnWidthInChars(*ListViewInstances, header, mcMission, 22));
  fit(mcStart, {QStringLiteral("88:88")});
  fit(mcEnd, {QStringLiteral("88:88")});
  fit(mcState, {T(SyncText::Running), T(SyncText::Stopped)});
  fit(mcActivation, {T(SyncText::Activated), T(SyncText::NotActivated)});
  ListViewInstances->setColumnWidth(mcNote,
                                    ColumnWidthInChars(*ListViewInstances, header, mcNote, 30));
  ListViewInstances->setContextMenuPolicy(Qt::CustomContextMenu);
  // The selection stays as visible without the focus as with it.
  QPalette palette = ListViewInstances->palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  ListViewInstances->setPalette(palette);

  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
  np_AddMission = MakeAction("np_AddMission", "新增任务", PopupMenu);
  np_deleteMission = MakeAction("np_deleteMission", "删除任务", PopupMenu);
  np_modifyMission = MakeAction("np_modifyMission", "修改任务", PopupMenu);
  PopupMenu->addActions({np_AddMission, np_deleteMission, np_modifyMission});
  connect(ListViewInstances, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    PopupMenu->popup(ListViewInstances->viewport()->mapToGlobal(at));
  });
  connect(ListViewInstances->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& Selected, const QItemSelection&) {
            if (FUpdateDepth > 0 || Selected.isEmpty()) return;
            emit MissionSelected(Selected.indexes().first().row());
          });
  connect(ListViewInstances, &QTableWidget::cellDoubleClicked, this,
          [this](int Row, int) { emit MissionDoubleClicked(Row); });

  auto makePane = [this](const char* Name) {
    auto* pane = new QPlainTextEdit(this);
    pane->setObjectName(QString::fromLatin1(Name));
    pane->setReadOnly(true);
    pane->setLineWrapMode(QPlainTextEdit::NoWrap);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    return pane;
  };
  PageControl = new QTabWidget(this);
  PageControl->setObjectName(QStringLiteral("PageControl"));
  MemoStatus = makePane("MemoStatus");
  MemoInfo = makePane("MemoInfo");
  MemoInstanceConfig = makePane("MemoInstanceConfig");
  PageControl->addTab(MemoStatus, T("控制台"));
  PageControl->addTab(MemoInfo, T("任务信息"));
  PageControl->addTab(MemoInstanceConfig, T("任务配置"));
  PageControl->setCurrentIndex(0);

  Splitter1 = new QSplitter(Qt::Vertical, this);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setChildrenCollapsible(false);
  Splitter1->addWidget(ListViewInstances);
  Splitter1->addWidget(PageControl);
  Splitter1->setStretchFactor(0, 1);
  Splitter1->setStretchFactor(1, 0);
  Splitter1->setSizes({400, kPaneHeight});
  setCentralWidget(Splitter1);
}

void TfrmMain::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("StatusBar"));
  auto panel = [bar](const char* Name, int Width, int Stretch) {
    auto* l = new QLabel(bar);
    l->setObjectName(QString::fromLatin1(Name));
    l->setContentsMargins(4, 0, 4, 0);
    l->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    if (Width > 0) l->setFixedWidth(Width);
    bar->addWidget(l, Stretch);
    return l;
  };
  // At least as wide as the window was drawn, and wide enough for the
  // texts the controller puts there at the desktop's font.
  auto fitting = [bar](int Width, const QStringList& Texts) {
    for (const QString& text : Texts)
      Width = std::max(Width, bar->fontMetrics().horizontalAdvance(text) + 16);
    return Width;
  };
  StatusPanel0 = panel("StatusPanel0", fitting(100, {T(SyncText::MissionCount) + "99999"}), 0);
  StatusPanel1 = panel("StatusPanel1",
                       fitting(300, {T(SyncText::SelectToEdit), T(SyncText::SelectToExport)}), 0);
  StatusPanel2 = panel("StatusPanel2", 0, 1);
  StatusPanel2->setText(T("Kelvor 数据库同步工具  版本 ") + QStringLiteral(KELVOR_VERSION));
}

void TfrmMain::BuildTray() {
  PopupMenuFace = new QMenu;
  PopupMenuFace->setObjectName(QStringLiteral("PopupMenuFace"));
  n_show = MakeAction("n_show", "显示主界面", PopupMenuFace);
  n_show->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
  n_closeApp = MakeAction("n_closeApp", "关闭Kelvor", PopupMenuFace);
  n_closeApp->setShortcut(QKeySequence(QStringLiteral("Ctrl+X")));
  PopupMenuFace->addAction(n_show);
  PopupMenuFace->addSeparator();
  PopupMenuFace->addAction(n_closeApp);
  connect(n_show, &QAction::triggered, this, [this] { n_showClick(); });
  connect(n_closeApp, &QAction::triggered, this, [this] { n_closeAppClick(); });

  TrayIcon = new QSystemTrayIcon(ApplicationIcon(), this);
  TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
  TrayIcon->setToolTip(QStringLiteral("Kelvor Vantrel"));
  TrayIcon->setContextMenu(PopupMenuFace);
  // Some trays report a double-click as two single activations; either way
  // the window comes back.
  connect(TrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::DoubleClick || r == QSystemTrayIcon::Trigger) n_showClick();
  });
  if (QSystemTrayIcon::isSystemTrayAvailable()) TrayIcon->show();
}

void TfrmMain::BuildTimers() {
  auto timer = [this](const char* Name, int Interval) {
    auto* t = new QTimer(this);
    t->setObjectName(QString::fromLatin1(Name));
    t->setInterval(Interval);
    return t;
  };
  TimerMessage = timer("TimerMessage", 2000);
  TimerReady = timer("TimerReady", 500);
  TimerCheckServer = timer("TimerCheckServer", 1000);
  TimerClear = timer("TimerClear", 6000);
  connect(TimerClear, &QTimer::timeout, this, [this] { TimerClearTimer(); });
}

// ---------------------------------------------------------------------------
// The task list.

void TfrmMain::BeginMissionUpdate() {
  if (FUpdateDepth++ == 0) ListViewInstances->setUpdatesEnabled(false);
}

void TfrmMain::EndMissionUpdate() {
  if (FUpdateDepth > 0 && --FUpdateDepth == 0) {
    // A rebuilt list without a selected row shows no focus frame either:
    // the frame Qt leaves on the first cell reads as a half-made selection.
    if (SelectedMissionRow() < 0) ListViewInstances->selectionModel()->clearCurrentIndex();
    ListViewInstances->setUpdatesEnabled(true);
  }
}

void TfrmMain::ClearMissionRows() {
  ++FUpdateDepth;  // a cleared selection is no selection event
  ListViewInstances->clearSelection();
  ListViewInstances->setRowCount(0);
  --FUpdateDepth;
}

int TfrmMain::AddMissionRow(const std::vector<std::string>& Cells, int ImageIndex,
                            TKelvorInstance* Mission) {
  const int row = ListViewInstances->rowCount();
  ++FUpdateDepth;
  ListViewInstances->insertRow(row);
  for (int c = 0; c < mcColumnCount; ++c) {
    auto* item = new QTableWidgetItem(c < static_cast<int>(Cells.size()) ? Q(Cells[c]) : QString());
    item->setToolTip(item->text());  // narrow columns elide their text
    if (c == mcStart || c == mcEnd || c == mcState)
      item->setTextAlignment(Qt::AlignCenter);
    else
      item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ListViewInstances->setItem(row, c, item);
  }
  ListViewInstances->item(row, 0)->setData(
      kMissionRole, QVariant::fromValue(reinterpret_cast<quintptr>(Mission)));
  --FUpdateDepth;
  SetMissionImage(row, ImageIndex);
  return row;
}

int TfrmMain::MissionRowCount() const {
  return ListViewInstances->rowCount();
}

std::string TfrmMain::MissionCell(int Row, int Column) const {
  const QTableWidgetItem* item = ListViewInstances->item(Row, Column);
  return item ? S(item->text()) : std::string();
}

void TfrmMain::SetMissionCell(int Row, int Column, const std::string& Text) {
  if (QTableWidgetItem* item = ListViewInstances->item(Row, Column)) {
    item->setText(Q(Text));
    item->setToolTip(item->text());
  }
}

int TfrmMain::MissionImage(int Row) const {
  const QTableWidgetItem* item = ListViewInstances->item(Row, 0);
  return item ? item->data(kImageRole).toInt() : -1;
}

void TfrmMain::SetMissionImage(int Row, int ImageIndex) {
  QTableWidgetItem* item = ListViewInstances->item(Row, 0);
  if (!item) return;
  item->setData(kImageRole, ImageIndex);
  item->setIcon(MissionStateIcon(ImageIndex));
}

TKelvorInstance* TfrmMain::MissionOfRow(int Row) const {
  const QTableWidgetItem* item = ListViewInstances->item(Row, 0);
  return item ? reinterpret_cast<TKelvorInstance*>(item->data(kMissionRole).value<quintptr>())
              : nullptr;
}

int TfrmMain::SelectedMissionRow() const {
  const QModelIndexList rows = ListViewInstances->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void TfrmMain::SelectMissionRow(int Row) {
  ++FUpdateDepth;
  if (Row < 0 || Row >= ListViewInstances->rowCount()) {
    ListViewInstances->clearSelection();
    --FUpdateDepth;
    return;
  }
  ListViewInstances->setCurrentCell(
      Row, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  --FUpdateDepth;
  emit MissionSelected(Row);
}

void TfrmMain::SetMissionProgress(int Row, int64_t Done, int64_t Total) {
  if (Row < 0 || Row >= ListViewInstances->rowCount()) return;
  QProgressBar* bar = MissionProgress(Row);
  if (Total <= 0) {
    if (bar) {
      ListViewInstances->removeCellWidget(Row, mcState);
      // The view deletes it later, when the event loop comes round; until
      // then it would go on being drawn over the cell.
      bar->hide();
    }
    return;
  }
  if (!bar) {
    bar = new QProgressBar;
    bar->setObjectName(QStringLiteral("pbMission"));
    bar->setRange(0, kProgressSteps);
    bar->setAlignment(Qt::AlignCenter);
    ListViewInstances->setCellWidget(Row, mcState, bar);
  }
  const int64_t done = std::clamp<int64_t>(Done, 0, Total);
  bar->setValue(static_cast<int>(static_cast<long double>(done) * kProgressSteps / Total));
  // The engine's own words for how far the run got, as the task-info pane shows them.
  bar->setToolTip(QStringLiteral("applied %1 of %2").arg(done).arg(Total));
}

QProgressBar* TfrmMain::MissionProgress(int Row) const {
  return qobject_cast<QProgressBar*>(ListViewInstances->cellWidget(Row, mcState));
}

// ---------------------------------------------------------------------------
// Panes and status bar.

void TfrmMain::AddPaneLine(QPlainTextEdit* Pane, const std::string& Text) {
  if (Pane) Pane->appendPlainText(ToEditorLines(Text));
}

void TfrmMain::SetPaneText(QPlainTextEdit* Pane, const std::string& Text) {
  if (Pane) Pane->setPlainText(ToEditorLines(Text));
}

std::string TfrmMain::PaneText(const QPlainTextEdit* Pane) {
  return Pane ? FromEditorLines(Pane->toPlainText()) : std::string();
}

QLabel* TfrmMain::StatusPanel(int Panel) const {
  switch (Panel) {
    case 0:
      return StatusPanel0;
    case 1:
      return StatusPanel1;
    case 2:
      return StatusPanel2;
    default:
      return nullptr;
  }
}

void TfrmMain::SetStatusText(int Panel, const std::string& Text) {
  if (QLabel* l = StatusPanel(Panel)) l->setText(Q(Text));
}

std::string TfrmMain::StatusText(int Panel) const {
  const QLabel* l = StatusPanel(Panel);
  return l ? S(l->text()) : std::string();
}

void TfrmMain::ShowStatusPrompt(const std::string& Text) {
  SetStatusText(1, Text);
  if (!TimerClear->isActive()) TimerClear->start();
}

// ---------------------------------------------------------------------------
// Handlers.

void TfrmMain::btnExitClick() {
  close();
}
void TfrmMain::n_exitClick() {
  close();
}
void TfrmMain::n_closeAppClick() {
  close();
}

void TfrmMain::n_showClick() {
  showNormal();
  raise();
  activateWindow();
}

void TfrmMain::N6Click() {
  // A missing document or a failed open is not reported.
  QDesktopServices::openUrl(QUrl::fromLocalFile(Q(ProgramFolder() + "rivoviza.pdf")));
}

void TfrmMain::n_downloadClick() {
  QDesktopServices::openUrl(QUrl(QStringLiteral(KELVOR_DOWNLOAD_URL)));
}

void TfrmMain::N7Click() {
  TAboutDialog* dialog = FAboutDialog;
  if (!dialog) {
    if (!FOwnAboutDialog) FOwnAboutDialog = new TAboutDialog(this);
    dialog = FOwnAboutDialog;
  }
  TDialogs::ExecModal(*dialog);
}

void TfrmMain::TimerClearTimer() {
  TimerClear->stop();
  SetStatusText(1, std::string());
}

void TfrmMain::closeEvent(QCloseEvent* Event) {
  if (FCloseQuery && !FCloseQuery()) {
    Event->ignore();
    return;
  }
  Event->accept();
  if (TrayIcon) TrayIcon->hide();
  emit Closed();
}

void TfrmMain::showEvent(QShowEvent* Event) {
  QMainWindow::showEvent(Event);
  if (FShownOnce) return;
  FShownOnce = true;
  TDialogs::CenterOnScreen(*this);
  emit FirstShown();
}

void TfrmMain::changeEvent(QEvent* Event) {
  QMainWindow::changeEvent(Event);
  // Minimised, the program lives on in the tray only; where there is no
  // tray the window stays in the task bar, or it could not come back.
  if (Event->type() == QEvent::WindowStateChange && isMinimized() && TrayIcon &&
      TrayIcon->isVisible())
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
}

}  // namespace kelvor
