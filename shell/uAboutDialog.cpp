#include "shell/uAboutDialog.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

#include "shell/uDialogs.h"
#include "shell/uIcons.h"

namespace kelvor {

namespace {
constexpr int kWidth = 420;
constexpr int kHeight = 250;
}  // namespace

TAboutDialog::TAboutDialog(QWidget* Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("TAboutDialog"));
  setWindowTitle(QString::fromUtf8("关于Vantrel"));
  TDialogs::FixedFrame(*this);
  setFixedSize(kWidth, kHeight);

  // The picture fills the window; the texts and the button lie on it.
  imgPicture = new QLabel(this);
  imgPicture->setObjectName(QStringLiteral("imgPicture"));
  imgPicture->setGeometry(0, 0, kWidth, kHeight);
  imgPicture->setPixmap(AboutPicture(QSize(kWidth, kHeight)));

  lbl_version = new QLabel(this);
  lbl_version->setObjectName(QStringLiteral("lbl_version"));
  lbl_version->setStyleSheet(
      QStringLiteral("color: #ff5a4e; text-decoration: underline; font-weight: bold;"));
  lbl_version->setGeometry(24, 112, kWidth - 48, 24);

  lblCopyright =
      new QLabel(QString::fromUtf8("数据库表同步工具 · 保持两个数据库的数据表一致"), this);
  lblCopyright->setObjectName(QStringLiteral("lblCopyright"));
  lblCopyright->setStyleSheet(QStringLiteral("color: #ffffff;"));
  lblCopyright->setGeometry(24, 146, kWidth - 48, 24);

  btnOk = new QPushButton(QString::fromUtf8("确定(&O)"), this);
  btnOk->setObjectName(QStringLiteral("btnOk"));
  btnOk->setDefault(true);
  const QSize button = btnOk->sizeHint().expandedTo(QSize(88, 0));
  btnOk->setGeometry(kWidth - button.width() - 20, kHeight - button.height() - 18, button.width(),
                     button.height());
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
}

QString TAboutDialog::VersionText() {
  return QString::fromUtf8("当前软件版本:") + QStringLiteral("%1.%2.%3.%4")
                                                  .arg(KELVOR_VERSION_MAJOR)
                                                  .arg(KELVOR_VERSION_MINOR)
                                                  .arg(KELVOR_VERSION_PATCH)
                                                  .arg(KELVOR_VERSION_TWEAK);
}

void TAboutDialog::FormShow() {
  lbl_version->setText(VersionText());
}

void TAboutDialog::btnOkClick() {
  accept();
}

void TAboutDialog::showEvent(QShowEvent* Event) {
  if (!Event->spontaneous()) FormShow();
  QDialog::showEvent(Event);
}

}  // namespace kelvor
