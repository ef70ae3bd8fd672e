#include "shell/uMissionReportDialog.h"

#include <QDateEdit>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTextEdit>
#include <QVBoxLayout>
#include <algorithm>

#include "shell/uListColumns.h"
#include "shell/uQtText.h"

namespace kelvor {

namespace {
constexpr int kColumnCount = 6;
constexpr int kResultColumn = 5;  // "结果信息"
}  // namespace

TMissionReportDialog::TMissionReportDialog(QWidget* Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("TMissionReportDialog"));
  setWindowTitle(QString::fromUtf8("任务运行报告"));
  resize(630, 463);

  dtreporter = new QDateEdit(this);
  dtreporter->setObjectName(QStringLiteral("dtreporter"));
  dtreporter->setCalendarPopup(true);
  dtreporter->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  dtreporter->setDate(QDate::currentDate());
  btnChange = new QPushButton(QString::fromUtf8("改变(&S)"), this);
  btnChange->setObjectName(QStringLiteral("btnChange"));
  btnChange->setAutoDefault(false);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QString::fromUtf8("选择日期"), this));
  top->addWidget(dtreporter);
  top->addWidget(btnChange);
  top->addStretch(1);

  listviewReport = new QTableWidget(0, kColumnCount, this);
  listviewReport->setObjectName(QStringLiteral("listviewReport"));
  listviewReport->setHorizontalHeaderLabels(
      {QString::fromUtf8("任务"), QString::fromUtf8("开始时间"), QString::fromUtf8("结束时间"),
       QString::fromUtf8("更新记录数"), QString::fromUtf8("返回码"),
       QString::fromUtf8("结果信息")});
  for (int c = 0; c < kColumnCount; ++c)
    listviewReport->horizontalHeaderItem(c)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // Widths from the list's font: the task's name elides (its tooltip holds
  // it whole), the times, counts and codes show whole, and the result
  // column grows with its longest text (FitResultColumn).
  const QHeaderView& header = *listviewReport->horizontalHeader();
  listviewReport->setColumnWidth(0, ColumnWidthInChars(*listviewReport, header, 0, 16));
  const QStringList samples[] = {{},
                                 {QStringLiteral("88:88")},
                                 {QStringLiteral("88:88")},
                                 {QStringLiteral("99999999")},
                                 {QStringLiteral("-1")}};
  for (int c = 1; c < kResultColumn; ++c)
    listviewReport->setColumnWidth(c, ColumnWidthFor(*listviewReport, header, c, samples[c]));
  listviewReport->horizontalHeader()->setHighlightSections(false);
  listviewReport->verticalHeader()->hide();
  listviewReport->verticalHeader()->setDefaultSectionSize(
      std::max(22, listviewReport->fontMetrics().height() + 8));
  listviewReport->setShowGrid(true);
  listviewReport->setSelectionBehavior(QAbstractItemView::SelectRows);
  listviewReport->setSelectionMode(QAbstractItemView::SingleSelection);
  listviewReport->setEditTriggers(QAbstractItemView::NoEditTriggers);
  listviewReport->setWordWrap(false);
  listviewReport->viewport()->installEventFilter(this);

  RichDetail = new QTextEdit(this);
  RichDetail->setObjectName(QStringLiteral("RichDetail"));
  RichDetail->setReadOnly(true);
  RichDetail->setAcceptRichText(false);

  Splitter1 = new QSplitter(Qt::Vertical, this);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setChildrenCollapsible(false);
  Splitter1->addWidget(listviewReport);
  Splitter1->addWidget(RichDetail);
  Splitter1->setStretchFactor(0, 1);
  Splitter1->setSizes({280, 90});

  btnClose = new QPushButton(QString::fromUtf8("关闭(&C)"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setAutoDefault(false);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(btnClose);

  auto* layout = new QVBoxLayout(this);
  // Narrow margins leave the list room for its six columns without a
  // horizontal scroll bar.
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addLayout(top);
  layout->addWidget(Splitter1, 1);
  layout->addLayout(bottom);

  connect(btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });
  // Only a row becoming selected updates the detail; a deselection leaves it.
  connect(listviewReport->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& Selected, const QItemSelection&) {
            if (!Selected.isEmpty()) listviewReportSelectItem(Selected.indexes().first().row());
          });
}

void TMissionReportDialog::Clear() {
  listviewReport->setRowCount(0);
  // The detail belonged to a row of the day that was shown before.
  RichDetail->clear();
  FResultWidth = 0;
  FitResultColumn();
}

void TMissionReportDialog::AddRow(const std::vector<std::string>& Columns) {
  const int row = listviewReport->rowCount();
  listviewReport->insertRow(row);
  for (int c = 0; c < kColumnCount; ++c) {
    // A missing column has no item, so the row can tell "no text" apart.
    if (c < static_cast<int>(Columns.size())) {
      auto* item = new QTableWidgetItem(Q(Columns[c]));
      item->setToolTip(item->text());
      listviewReport->setItem(row, c, item);
      if (c == kResultColumn)
        FResultWidth = std::max(FResultWidth, CellTextWidth(*listviewReport, item->text()));
    }
  }
  FitResultColumn();
}

void TMissionReportDialog::FitResultColumn() {
  int others = 0;
  for (int c = 0; c < kResultColumn; ++c)
    others += listviewReport->columnWidth(c);
  const int rest = listviewReport->viewport()->width() - others;
  const int header = listviewReport->horizontalHeader()->sectionSizeHint(kResultColumn);
  // As ColumnWidthFor does, two characters to spare.
  const int texts = FResultWidth + 2 * listviewReport->fontMetrics().averageCharWidth();
  listviewReport->setColumnWidth(kResultColumn, std::max({texts, header, rest}));
}

bool TMissionReportDialog::eventFilter(QObject* Watched, QEvent* Event) {
  // The list's free width changes with the dialog's size and with its
  // vertical scroll bar coming and going.
  if (Watched == listviewReport->viewport() && Event->type() == QEvent::Resize) FitResultColumn();
  return QDialog::eventFilter(Watched, Event);
}

TDateTime TMissionReportDialog::ReportDate() const {
  const QDate d = dtreporter->date();
  TDateTime t;
  t.Year = d.year();
  t.Month = d.month();
  t.Day = d.day();
  return t;
}

void TMissionReportDialog::SetReportDate(const TDateTime& Date) {
  dtreporter->setDate(QDate(Date.Year, Date.Month, Date.Day));
}

void TMissionReportDialog::btnCloseClick() {
  accept();
}

void TMissionReportDialog::listviewReportSelectItem(int Row) {
  const QTableWidgetItem* result = listviewReport->item(Row, kResultColumn);
  RichDetail->setPlainText(result ? result->text() : QString());
}

}  // namespace kelvor
