// TConfigDialog: the read-only configuration viewer ("配置信息") with the
// text of server.ini and of tasks.ini on two pages. The controller fills the
// panes; a pane keeps its text until it is filled again.
// Window thread only.
#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace kelvor {

class TConfigDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TConfigDialog(QWidget* Parent = nullptr);

  // Replaces a pane's text with the file's; false (pane unchanged) when the
  // file cannot be read.
  static bool LoadPaneFromFile(QPlainTextEdit* Pane, const std::string& Path);

  void FormShow();
  void btnOKClick();

  QTabWidget* PageControl1 = nullptr;
  QPlainTextEdit* MemoServerConfig = nullptr;  // "服务器配置"
  QPlainTextEdit* MemoTasksConfig = nullptr;   // "任务配置"
  QPushButton* btnOK = nullptr;

 protected:
  void showEvent(QShowEvent* Event) override;
};

}  // namespace kelvor
