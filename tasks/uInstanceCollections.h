// TInstanceCollections: the catalogue of all task records and the keeper of
// the task folder and its index file tasks.ini.
//
// Ownership: the catalogue holds its records by shared_ptr. A task daemon
// that serves a record holds another reference, so deleting a task while its
// daemon is still finishing can never free the record under the daemon.
// Threads: the window thread makes every change; the service manager thread
// reads through Count, GetItem and FindByName. Every access to the list takes
// the process-wide CatalogueLock for its single step, so a walk by index sees
// a consistent count and entry per call, not a frozen list.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tasks/uInstance.h"

namespace kelvor {

class TInstanceCollections {
 public:
  TInstanceCollections() = default;
  ~TInstanceCollections();
  TInstanceCollections(const TInstanceCollections&) = delete;
  TInstanceCollections& operator=(const TInstanceCollections&) = delete;

  // The task folder, always ending with "/" once set.
  void SetFolder(const std::string& Path);
  const std::string& Folder() const { return FFolder; }
  std::string IndexFileName() const { return FFolder + "tasks.ini"; }

  // Appends the record and sets its Owner to this catalogue.
  void Add(std::shared_ptr<TKelvorInstance> Record);
  int Count() const;
  // The record at Index, or nullptr when the index is out of range.
  std::shared_ptr<TKelvorInstance> GetItem(int Index) const;
  // The first record whose MissionName equals Name exactly, or nullptr.
  std::shared_ptr<TKelvorInstance> FindByName(const std::string& Name) const;
  bool Exists(const std::string& Name) const { return FindByName(Name) != nullptr; }
  // Removes the entry (out of range: nothing happens).
  void Delete(int Index);
  // Removes the first record with that name (none: nothing happens).
  void DeleteByName(const std::string& Name);
  void Clear();

  // Reads tasks.ini and every task file it lists that exists. False when
  // tasks.ini is missing or the catalogue then holds no record. Throws
  // std::runtime_error when tasks.ini exists but cannot be read.
  bool LoadAll();
  // Rewrites tasks.ini (header line, then MissionName + ".xml" per record),
  // creating it when it is missing. Throws std::runtime_error on failure.
  void SaveIndex();

  // Saves the record as Folder + MissionName + ".xml". When the record was
  // stored under another file of this folder (the task was renamed), that
  // file is removed once the new one is written, and tasks.ini is rewritten.
  // Returns false (and keeps the old file) when the new file cannot be written.
  bool SaveMission(TKelvorInstance& Record);

 private:
  std::string FFolder;
  std::vector<std::shared_ptr<TKelvorInstance>> FItems;  // guarded by CatalogueLock
};

}  // namespace kelvor
