// TMissionDialog: the task selection dialog ("选择任务"). Nothing in the
// program opens or fills it yet; it is kept with its behaviour for callers
// that want the operator to pick a task. Window thread only.
#pragma once

#include <QDialog>

class QPushButton;
class QTreeWidget;

namespace kelvor {

class TMissionDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TMissionDialog(QWidget* Parent = nullptr);

  bool Selected() const { return FSelected; }

  void btnOkClick();
  void btnCancelClick();

  QTreeWidget* lvInstance = nullptr;
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;

 private:
  bool FSelected = false;
};

}  // namespace kelvor
