#include "shell/uMissionDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "shell/uListColumns.h"

namespace kelvor {

TMissionDialog::TMissionDialog(QWidget* Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("TMissionDialog"));
  setWindowTitle(QString::fromUtf8("选择任务"));

  lvInstance = new QTreeWidget(this);
  lvInstance->setObjectName(QStringLiteral("lvInstance"));
  lvInstance->setToolTip(QString::fromUtf8("请选择任务信息"));
  lvInstance->setRootIsDecorated(false);
  lvInstance->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvInstance->setSelectionMode(QAbstractItemView::SingleSelection);
  lvInstance->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvInstance->setHeaderLabels({QString::fromUtf8("任务名称"), QString::fromUtf8("版本信息")});
  lvInstance->setColumnWidth(0, ColumnWidthInChars(*lvInstance, *lvInstance->header(), 0, 20));
  lvInstance->setColumnWidth(1, ColumnWidthInChars(*lvInstance, *lvInstance->header(), 1, 12));

  btnOk = new QPushButton(QString::fromUtf8("选择(S)"), this);
  btnOk->setObjectName(QStringLiteral("btnOk"));
  btnOk->setDefault(true);
  btnCancel = new QPushButton(QString::fromUtf8("取消(&C)"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lvInstance, 1);
  layout->addLayout(buttons);
  resize(320, 300);
}

void TMissionDialog::btnOkClick() {
  // Without a selected row the previous answer stands.
  if (!lvInstance->selectedItems().isEmpty()) FSelected = true;
  accept();
}

void TMissionDialog::btnCancelClick() {
  FSelected = false;
  reject();
}

}  // namespace kelvor
