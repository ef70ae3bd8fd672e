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

// A line of tasks.ini that gave no record: the file it names (as listed,
// joined to the folder) and why.
struct TLoadNote {
  std::string File;
  std::string Reason;
};

// Whether a task name can be the base of its task file's name: not empty,
// no "/", "\\" or "..", not starting with "." (hidden) or with a blank or "#"
// (a tasks.ini line is trimmed and "#" starts a comment), no control
// character, and short enough for a file name. Otherwise *Why says why.
bool IsSafeTaskFileBase(const std::string& Name, std::string* Why = nullptr);

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

  // Reads tasks.ini and every regular file it lists, each file once (a file
  // listed again, under any spelling of its path, is not loaded twice). A
  // line naming a missing file, a folder, a FIFO or any other non-regular
  // file gives no record; such lines and repeated files are kept as
  // LoadNotes. A file that was not read completely still gives a record,
  // with its ReadProblem set. False when tasks.ini is missing or the
  // catalogue then holds no record. Throws std::runtime_error when tasks.ini
  // exists but cannot be read.
  bool LoadAll();
  // The lines of the last LoadAll that gave no record. Any thread.
  std::vector<TLoadNote> LoadNotes() const;
  // Rewrites tasks.ini: the header line, then each record's own file
  // (relative to Folder; records without a file are not listed), creating
  // it when it is missing. Throws std::runtime_error on failure.
  void SaveIndex();

  // Saves the record in the task folder without ever losing a task.
  //  - Normally as Folder + MissionName + ".xml"; when the record was stored
  //    under another file of this folder (the task was renamed), that file
  //    is removed once the new one is written, unless another record uses
  //    it, and tasks.ini is rewritten.
  //  - When the name cannot be a file's name (IsSafeTaskFileBase), or that
  //    file already exists and is not the record's own (another record's, or
  //    a file no record was loaded from), the record keeps its own file, or,
  //    having none, gets a free name "<name>_<n>.xml". *Note says so.
  //  - A record whose file was not read completely (ReadProblem) is not
  //    written at all: false, and *Note says why.
  // Returns false (and keeps the old file) when the new file cannot be
  // written. Throws std::runtime_error when tasks.ini cannot be rewritten.
  bool SaveMission(TKelvorInstance& Record, std::string* Note = nullptr);

 private:
  // True when a record other than Except was loaded from or saved to Path.
  bool UsedByOther(const std::string& Path, const TKelvorInstance* Except) const;
  // A name Base + "_<n>.xml" in Folder that no file and no record has.
  std::string FreeFileName(const std::string& Base) const;
  // The tasks.ini line of a record; empty when it has no file.
  std::string IndexLine(const TKelvorInstance& Record) const;

  std::string FFolder;
  std::vector<std::shared_ptr<TKelvorInstance>> FItems;  // guarded by CatalogueLock
  std::vector<TLoadNote> FLoadNotes;                     // guarded by CatalogueLock
};

}  // namespace kelvor
