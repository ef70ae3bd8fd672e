// TMissionReportDialog: the daily run report ("任务运行报告"): a date picker,
// one row per run of that day and the selected run's result text. The
// report reader (TReportFileHandler::LoadDay) fills the list, the dialog
// being its row sink; the controller binds btnChange. Window thread only.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "services/uReportService.h"

class QDateEdit;
class QPushButton;
class QSplitter;
class QTableWidget;
class QTextEdit;

namespace kelvor {

class TMissionReportDialog : public QDialog, public TReportRowSink {
  Q_OBJECT

 public:
  explicit TMissionReportDialog(QWidget* Parent = nullptr);

  // The list as a row sink: Clear removes every row and empties the detail
  // pane; AddRow adds one with Columns in column order (task, start, end,
  // record count, result code, result text); missing columns stay empty,
  // extra ones are dropped. The result column takes the width of its
  // longest text, or the list's free width when that is more.
  void Clear() override;
  void AddRow(const std::vector<std::string>& Columns) override;

  // The picked day (the time of day is 00:00:00).
  TDateTime ReportDate() const;
  void SetReportDate(const TDateTime& Date);

  void btnCloseClick();
  void listviewReportSelectItem(int Row);

  QDateEdit* dtreporter = nullptr;
  QPushButton* btnChange = nullptr;
  QTableWidget* listviewReport = nullptr;
  QSplitter* Splitter1 = nullptr;
  QTextEdit* RichDetail = nullptr;
  QPushButton* btnClose = nullptr;

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void FitResultColumn();

  int FResultWidth = 0;  // the widest result text of the rows shown
};

}  // namespace kelvor
