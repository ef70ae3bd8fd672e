// TgDataModule: the dialog-side database connection. The task dialog uses it
// to test a connection with the settings as typed and to read the column
// names and sizes of a command's result (its load-fields button).
//
// One instance lives on the window thread for the whole program (the program
// entry creates it); it is used from that thread only. The connection stays
// open after a successful connect; the next ConnectDatabase closes it first.
#pragma once

#include <memory>
#include <string>

namespace kelvor {

class TgDataModule {
 public:
  TgDataModule();
  ~TgDataModule();
  TgDataModule(const TgDataModule&) = delete;
  TgDataModule& operator=(const TgDataModule&) = delete;

  // Connects with the given settings (database type code 0..4). False on any
  // failure; the reason is written to the log.
  bool ConnectDatabase(const std::string& DbName, const std::string& DbUser,
                       const std::string& DbPwd, const std::string& DbServer, int DbType);
  // Opens Sql (placeholders are not parsed) on the connection. False on any
  // error, nothing logged.
  bool OpenQuery(const std::string& Sql);

  // Columns of the result OpenQuery opened last (none after a failed open);
  // an index out of range gives "" and 0.
  int FieldCount() const;
  std::string FieldName(int Index) const;
  int FieldSize(int Index) const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace kelvor
