#include "shell/uConfigDialog.h"
#include "shell/uDialogs.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "platform/TextFile.h"
#include "shell/uQtText.h"

namespace kelvor {

TConfigDialog::TConfigDialog(QWidget* Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("TConfigDialog"));
  setWindowTitle(QString::fromUtf8("配置信息"));
  resize(488, 429);

  auto pane = [this](const char* Name) {
    auto* p = new QPlainTextEdit(this);
    p->setObjectName(QString::fromLatin1(Name));
    p->setReadOnly(true);
    p->setLineWrapMode(QPlainTextEdit::NoWrap);
    return p;
  };
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  MemoServerConfig = pane("MemoServerConfig");
  MemoTasksConfig = pane("MemoTasksConfig");
  PageControl1->addTab(MemoServerConfig, QString::fromUtf8("服务器配置"));
  PageControl1->addTab(MemoTasksConfig, QString::fromUtf8("任务配置"));

  btnOK = new QPushButton(QString::fromUtf8("确定(&O)"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PageControl1, 1);
  layout->addLayout(buttons);
}

bool TConfigDialog::LoadPaneFromFile(QPlainTextEdit* Pane, const std::string& Path) {
  std::string text;
  if (!Pane || !ReadWholeFile(Path, text)) return false;
  Pane->setPlainText(ToEditorLines(text));
  return true;
}

void TConfigDialog::FormShow() {
  PageControl1->setCurrentIndex(0);
}

void TConfigDialog::btnOKClick() {
  accept();
}

void TConfigDialog::showEvent(QShowEvent* Event) {
  if (!Event->spontaneous()) {
    TDialogs::CenterOnScreen(*this);
    FormShow();
  }
  QDialog::showEvent(Event);
}

}  // namespace kelvor
