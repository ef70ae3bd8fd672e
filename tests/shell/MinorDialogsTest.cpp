// The report dialog filled by the real report reader from a report file, the
// configuration viewer and the task selection dialog.
#include <QDateEdit>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QTreeWidget>

#include "GuiTestSupport.h"
#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "services/uReportService.h"
#include "shell/uConfigDialog.h"
#include "shell/uMissionDialog.h"
#include "shell/uMissionReportDialog.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

using test::U;

// A program folder "bin/" in a temporary installation, so that the reader
// finds "../reports/" beside it.
class ReportDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { Dir.Sub("reports/", true); }

  void WriteDay(const TDateTime& Day, const std::vector<std::string>& Lines) {
    ASSERT_TRUE(WriteLines(TReportFileHandler::DayFilePath(Day), Lines));
  }
  QString Cell(int Row, int Column) const {
    const QTableWidgetItem* item = Dlg.listviewReport->item(Row, Column);
    return item ? item->text() : QString();
  }

  test::TempDir Dir;
  test::ProgramFolderScope Program{Dir.Sub("bin/", true)};
  TMissionReportDialog Dlg;
};

TEST_F(ReportDialogTest, ListShowsOneRowPerRunOfThePickedDay) {
  const TDateTime day = test::At(2024, 3, 9);
  TMissionReport ok{"orders", "08:00", "08:02", 120, 0, "同步成功"};
  TMissionReport failed{"stores", "09:00", "09:00", 0, -1, "connect to database error"};
  WriteDay(day, {FormatReportLine(ok), FormatReportLine(failed), "short\t10:00"});
  WriteDay(test::At(2024, 3, 10), {FormatReportLine(ok)});

  Dlg.SetReportDate(day);
  TReportFileHandler().LoadDay(Dlg, Dlg.ReportDate());
  ASSERT_EQ(Dlg.listviewReport->rowCount(), 3);
  EXPECT_EQ(Cell(0, 0), QStringLiteral("orders"));
  EXPECT_EQ(Cell(0, 3), QStringLiteral("120"));
  EXPECT_EQ(Cell(1, 4), QStringLiteral("-1"));
  EXPECT_EQ(Cell(1, 5), QStringLiteral("connect to database error"));
  EXPECT_EQ(Cell(2, 1), QStringLiteral("10:00"));

  // Selecting a row shows its result text; a short row has none.
  Dlg.listviewReport->selectRow(0);
  EXPECT_EQ(Dlg.RichDetail->toPlainText(), U("同步成功"));
  Dlg.listviewReport->selectRow(2);
  EXPECT_TRUE(Dlg.RichDetail->toPlainText().isEmpty());
  Dlg.listviewReport->selectRow(1);
  Dlg.listviewReport->clearSelection();
  EXPECT_EQ(Dlg.RichDetail->toPlainText(), QStringLiteral("connect to database error"));

  // Another day replaces the rows, and the detail of a row that is gone;
  // a day without a file leaves neither.
  Dlg.listviewReport->selectRow(1);
  TReportFileHandler().LoadDay(Dlg, test::At(2024, 3, 10));
  EXPECT_EQ(Dlg.listviewReport->rowCount(), 1);
  EXPECT_TRUE(Dlg.RichDetail->toPlainText().isEmpty());
  Dlg.listviewReport->selectRow(0);
  EXPECT_EQ(Dlg.RichDetail->toPlainText(), U("同步成功"));
  TReportFileHandler().LoadDay(Dlg, test::At(2024, 3, 11));
  EXPECT_EQ(Dlg.listviewReport->rowCount(), 0);
  EXPECT_TRUE(Dlg.RichDetail->toPlainText().isEmpty());
  // The close button ends the modal run.
  TDialogs::PushModalDriver([this](QDialog&) { Dlg.btnClose->click(); });
  EXPECT_EQ(TDialogs::ExecModal(Dlg), QDialog::Accepted);
}

// The times, counts and codes show whole; the result column takes its
// longest text whole (the list scrolls), or the free width when that is more.
// Every cell's tooltip holds its text.
TEST_F(ReportDialogTest, ResultTextsShowWhole) {
  const TDateTime day = test::At(2024, 3, 9);
  TMissionReport ok{"orders", "08:00", "08:02", 1234567, 0, "同步成功"};
  TMissionReport failed{"a_task_with_a_rather_long_name",
                        "09:00",
                        "09:00",
                        0,
                        -1,
                        "connect to database error ,info: [unixODBC][Driver Manager]Data source "
                        "name not found and no default driver specified"};
  WriteDay(day, {FormatReportLine(ok), FormatReportLine(failed)});
  WriteDay(test::At(2024, 3, 10), {FormatReportLine(ok)});
  test::ShowActive(Dlg);
  QTableWidget* list = Dlg.listviewReport;
  const QAbstractItemView& view = *list;

  TReportFileHandler().LoadDay(Dlg, day);
  for (int c = 1; c < 6; ++c) {
    EXPECT_GE(list->columnWidth(c), view.sizeHintForColumn(c) + 2) << c;
    EXPECT_GE(list->columnWidth(c), list->horizontalHeader()->sectionSizeHint(c)) << c;
  }
  EXPECT_GT(list->horizontalHeader()->length(), list->viewport()->width());
  EXPECT_EQ(list->item(1, 0)->toolTip(), U("a_task_with_a_rather_long_name"));
  EXPECT_EQ(list->item(1, 5)->toolTip(), list->item(1, 5)->text());

  // A day of short texts: the result column fills the list.
  TReportFileHandler().LoadDay(Dlg, test::At(2024, 3, 10));
  EXPECT_EQ(list->horizontalHeader()->length(), list->viewport()->width());
  Dlg.hide();
}

TEST(ConfigDialog, PanesKeepTheirTextWhenAFileIsMissingAndShowStartsOnPageOne) {
  test::TempDir dir;
  test::WriteFileOrDie(dir.Path() + "server.ini", "[server]\r\nport=9000\r\n");
  TConfigDialog dlg;
  EXPECT_TRUE(TConfigDialog::LoadPaneFromFile(dlg.MemoServerConfig, dir.Path() + "server.ini"));
  EXPECT_EQ(dlg.MemoServerConfig->toPlainText(), QStringLiteral("[server]\nport=9000\n"));
  EXPECT_FALSE(TConfigDialog::LoadPaneFromFile(dlg.MemoServerConfig, dir.Path() + "none.ini"));
  EXPECT_EQ(dlg.MemoServerConfig->toPlainText(), QStringLiteral("[server]\nport=9000\n"));
  EXPECT_TRUE(dlg.MemoServerConfig->isReadOnly());

  dlg.PageControl1->setCurrentIndex(1);
  int page = -1;
  TDialogs::PushModalDriver([&](QDialog&) {
    page = dlg.PageControl1->currentIndex();
    dlg.btnOK->click();
  });
  TDialogs::ExecModal(dlg);
  EXPECT_EQ(page, 0);
}

TEST(MissionDialog, SelectedOnlyWithARowAndClearedByCancel) {
  TMissionDialog dlg;
  new QTreeWidgetItem(dlg.lvInstance, {QStringLiteral("orders"), QStringLiteral("1.0")});
  dlg.btnOkClick();
  EXPECT_FALSE(dlg.Selected());
  dlg.lvInstance->setCurrentItem(dlg.lvInstance->topLevelItem(0));
  dlg.btnOkClick();
  EXPECT_TRUE(dlg.Selected());
  dlg.lvInstance->clearSelection();
  dlg.btnOkClick();
  EXPECT_TRUE(dlg.Selected());  // no row: the answer stands
  dlg.btnCancelClick();
  EXPECT_FALSE(dlg.Selected());
}

}  // namespace
}  // namespace kelvor
