// Binds the task dialog to the task record it edits: the editor factory the
// program entry registers, and the record's answers to the dialog's
// questions (the name clash, the two connection tests, load fields).
//
// Threads: window thread only. The data module is not owned; it must outlive
// every dialog built while it is registered.
#pragma once

#include <memory>

class QObject;

namespace kelvor {

class TKelvorInstance;
class TKelvorInstanceDialog;
class TgDataModule;

// Makes a TKelvorInstanceDialog, bound to its record and using DataModule,
// the editor of every task record created from now on.
void RegisterInstanceDialog(TgDataModule* DataModule);

// The dialog for Record: OnCheckName asks Record.CheckNameClash with the
// entered name; the connection and load-fields buttons run the two functions
// below.
std::unique_ptr<TKelvorInstanceDialog> CreateInstanceDialog(TKelvorInstance& Record,
                                                            TgDataModule* DataModule);

// Tests the side the button's "tag" names (0 source, 1 destination; any
// other tag: nothing) with the controls' current values and says
// "测试连接数据库成功!" or "测试连接数据库失败!" in a message box. Without a
// data module the test fails.
void TestConnection(TKelvorInstanceDialog& Dialog, QObject* Sender);

// Connects with the source controls, opens the "数据命令" text as a query
// and appends one field-map line per result column:
// "<" name ">" ":<" name "|none|" size "|false>". Any failure appends
// nothing and says nothing.
void LoadFieldsFromSource(TKelvorInstanceDialog& Dialog);

}  // namespace kelvor
