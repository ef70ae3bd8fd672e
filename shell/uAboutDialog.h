// TAboutDialog: the about box ("关于Vantrel") with the program's version.
// Window thread only; shown modally (TDialogs::ExecModal) and kept for reuse.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace kelvor {

class TAboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutDialog(QWidget* Parent = nullptr);

  // "当前软件版本:" followed by the four parts of the build's version.
  static QString VersionText();

  void FormShow();
  void btnOkClick();

  QLabel* imgPicture = nullptr;
  QLabel* lbl_version = nullptr;
  QLabel* lblCopyright = nullptr;
  QPushButton* btnOk = nullptr;

 protected:
  void showEvent(QShowEvent* Event) override;
};

}  // namespace kelvor
