#include "shell/uInstanceEditorBinding.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVariant>
#include <string>

#include "engine/udatamodule.h"
#include "shell/uDialogs.h"
#include "shell/uInstanceDialog.h"
#include "shell/uQtText.h"
#include "tasks/uInstance.h"

namespace kelvor {

void RegisterInstanceDialog(TgDataModule* DataModule) {
  SetInstanceEditorFactory(
      [DataModule](TKelvorInstance& Record) -> std::unique_ptr<TInstanceEditor> {
        return CreateInstanceDialog(Record, DataModule);
      });
}

std::unique_ptr<TKelvorInstanceDialog> CreateInstanceDialog(TKelvorInstance& Record,
                                                            TgDataModule* DataModule) {
  auto dialog = std::make_unique<TKelvorInstanceDialog>();
  TKelvorInstanceDialog* d = dialog.get();
  d->SetDataModule(DataModule);
  // The record owns the dialog, so both references stay valid as long as
  // the dialog can call back.
  d->OnCheckName = [&Record, d](QObject*, bool& Exists) {
    Exists = Record.CheckNameClash(S(d->txtMissionName->text()));
  };
  d->OnTestConnection = [d](QObject* Sender) { TestConnection(*d, Sender); };
  d->OnLoadFields = [d](QObject*) { LoadFieldsFromSource(*d); };
  return dialog;
}

void TestConnection(TKelvorInstanceDialog& Dialog, QObject* Sender) {
  if (!Sender) return;
  bool isNumber = false;
  const int tag = Sender->property("tag").toInt(&isNumber);
  if (!isNumber || (tag != 0 && tag != 1)) return;
  bool connected = false;
  if (TgDataModule* data = Dialog.DataModule()) {
    if (tag == 0)
      connected =
          data->ConnectDatabase(S(Dialog.txt_srcdbName->text()), S(Dialog.txt_srcdbUser->text()),
                                S(Dialog.txt_srcdbpwd->text()), S(Dialog.txtServerSrc->text()),
                                Dialog.cmbsrcdbtype->currentIndex());
    else
      connected =
          data->ConnectDatabase(S(Dialog.txt_dstdbname->text()), S(Dialog.txt_dstdbuser->text()),
                                S(Dialog.txt_dstdbpwd->text()), S(Dialog.txtServerDst->text()),
                                Dialog.cmbdstdbtype->currentIndex());
  }
  TDialogs::ShowMessage(&Dialog, connected ? QString::fromUtf8("测试连接数据库成功!")
                                           : QString::fromUtf8("测试连接数据库失败!"));
}

void LoadFieldsFromSource(TKelvorInstanceDialog& Dialog) {
  TgDataModule* data = Dialog.DataModule();
  if (!data) return;
  if (!data->ConnectDatabase(S(Dialog.txt_srcdbName->text()), S(Dialog.txt_srcdbUser->text()),
                             S(Dialog.txt_srcdbpwd->text()), S(Dialog.txtServerSrc->text()),
                             Dialog.cmbsrcdbtype->currentIndex()))
    return;
  if (!data->OpenQuery(FromEditorLines(Dialog.RichEditCmd->toPlainText()))) return;
  for (int i = 0, n = data->FieldCount(); i < n; ++i) {
    const std::string name = data->FieldName(i);
    const std::string line = "<" + name + ">" + ":<" + name + "|" + "none" + "|" +
                             std::to_string(data->FieldSize(i)) + "|false" + ">";
    Dialog.RichEditFieldMap->appendPlainText(Q(line));
  }
}

}  // namespace kelvor
