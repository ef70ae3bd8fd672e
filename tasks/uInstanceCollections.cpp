#include "tasks/uInstanceCollections.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "platform/Locks.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/TextFile.h"

namespace kelvor {

namespace fs = std::filesystem;

namespace {

constexpr const char* kIndexHeader = "#define all tasks....";
// Longest file name most file systems take, ".xml" included.
constexpr size_t kMaxFileNameBytes = 255;

// The path with "." and ".." parts and symbolic links resolved as far as it
// exists, so that two spellings of one file compare equal.
std::string ResolvedPath(const std::string& Path) {
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(fs::path(Path), ec);
  if (ec) resolved = fs::absolute(fs::path(Path), ec).lexically_normal();
  return resolved.string();
}

bool SameFile(const std::string& A, const std::string& B) {
  return A == B || ResolvedPath(A) == ResolvedPath(B);
}

// Anything at Path, a dangling symbolic link included.
bool PathTaken(const std::string& Path) {
  std::error_code ec;
  return fs::symlink_status(fs::path(Path), ec).type() != fs::file_type::not_found && !ec;
}

}  // namespace

bool IsSafeTaskFileBase(const std::string& Name, std::string* Why) {
  auto say = [&](const char* Text) {
    if (Why) *Why = Text;
    return false;
  };
  if (Name.empty()) return say("it is empty");
  if (Name.find_first_of("/\\") != std::string::npos) return say("it holds a path separator");
  if (Name.find("..") != std::string::npos) return say("it holds \"..\"");
  if (Name[0] == '.') return say("it starts with \".\" (a hidden file)");
  if (Name[0] == ' ') return say("it starts with a blank, which tasks.ini does not keep");
  if (Name[0] == '#') return say("it starts with \"#\", which starts a comment in tasks.ini");
  for (char c : Name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return say("it holds a control character");
  }
  if (Name.size() + 4 > kMaxFileNameBytes) return say("it is too long for a file name");
  return true;
}

TInstanceCollections::~TInstanceCollections() {
  Clear();
}

void TInstanceCollections::SetFolder(const std::string& Path) {
  FFolder = IncludeTrailingSeparator(NormalizeSeparators(Path));
}

void TInstanceCollections::Add(std::shared_ptr<TKelvorInstance> Record) {
  if (!Record) return;
  Record->Owner = this;
  std::lock_guard<std::mutex> lock(CatalogueLock);
  FItems.push_back(std::move(Record));
}

int TInstanceCollections::Count() const {
  std::lock_guard<std::mutex> lock(CatalogueLock);
  return static_cast<int>(FItems.size());
}

std::shared_ptr<TKelvorInstance> TInstanceCollections::GetItem(int Index) const {
  std::lock_guard<std::mutex> lock(CatalogueLock);
  if (Index < 0 || Index >= static_cast<int>(FItems.size())) return nullptr;
  return FItems[static_cast<size_t>(Index)];
}

std::shared_ptr<TKelvorInstance> TInstanceCollections::FindByName(const std::string& Name) const {
  std::lock_guard<std::mutex> lock(CatalogueLock);
  for (const auto& item : FItems)
    if (item->MissionName == Name) return item;
  return nullptr;
}

void TInstanceCollections::Delete(int Index) {
  std::shared_ptr<TKelvorInstance> removed;  // released outside the lock
  std::lock_guard<std::mutex> lock(CatalogueLock);
  if (Index < 0 || Index >= static_cast<int>(FItems.size())) return;
  removed = std::move(FItems[static_cast<size_t>(Index)]);
  FItems.erase(FItems.begin() + Index);
}

void TInstanceCollections::DeleteByName(const std::string& Name) {
  int index = -1;
  {
    std::lock_guard<std::mutex> lock(CatalogueLock);
    for (size_t i = 0; i < FItems.size(); ++i)
      if (FItems[i]->MissionName == Name) {
        index = static_cast<int>(i);
        break;
      }
  }
  Delete(index);
}

void TInstanceCollections::Clear() {
  std::vector<std::shared_ptr<TKelvorInstance>> removed;
  {
    std::lock_guard<std::mutex> lock(CatalogueLock);
    removed.swap(FItems);
  }
  for (auto& item : removed)
    item.reset();  // first entry first
}

bool TInstanceCollections::LoadAll() {
  const std::string index = IndexFileName();
  if (!FileExists(index)) return false;
  std::vector<std::string> lines;
  if (!ReadLines(index, lines)) throw std::runtime_error("cannot read the task index " + index);
  std::vector<TLoadNote> notes;
  std::vector<std::string> loaded;  // resolved paths of the files read
  for (const auto& raw : lines) {
    std::string line = TrimText(raw);
    if (line.empty() || line[0] == '#') continue;
    std::string path = FFolder + NormalizeSeparators(line);
    std::error_code ec;
    const fs::file_status status = fs::status(fs::path(path), ec);
    if (status.type() == fs::file_type::not_found) {
      notes.push_back({path, "the file does not exist"});
      continue;
    }
    // A folder cannot be read, and opening a FIFO would wait for a writer.
    if (ec || status.type() != fs::file_type::regular) {
      notes.push_back({path, ec ? "the file cannot be examined: " + ec.message()
                                : std::string("it is not a regular file")});
      continue;
    }
    const std::string resolved = ResolvedPath(path);
    if (std::find(loaded.begin(), loaded.end(), resolved) != loaded.end()) {
      notes.push_back({path, "it is listed more than once; it was loaded once"});
      continue;
    }
    loaded.push_back(resolved);
    auto record = std::make_shared<TKelvorInstance>();
    record->LoadFromFile(path);
    Add(std::move(record));
  }
  {
    std::lock_guard<std::mutex> lock(CatalogueLock);
    FLoadNotes = std::move(notes);
  }
  return Count() > 0;
}

std::vector<TLoadNote> TInstanceCollections::LoadNotes() const {
  std::lock_guard<std::mutex> lock(CatalogueLock);
  return FLoadNotes;
}

std::string TInstanceCollections::IndexLine(const TKelvorInstance& Record) const {
  const std::string& file = Record.FileName;
  if (file.empty()) return std::string();
  if (!FFolder.empty() && file.size() > FFolder.size() &&
      file.compare(0, FFolder.size(), FFolder) == 0)
    return file.substr(FFolder.size());
  // Lines are read relative to the folder; a file elsewhere is listed by
  // its path from there.
  std::error_code ec;
  const fs::path folder = fs::absolute(fs::path(FFolder), ec).lexically_normal();
  const fs::path relative =
      fs::absolute(fs::path(file), ec).lexically_normal().lexically_relative(folder);
  return relative.empty() ? std::string() : relative.generic_string();
}

void TInstanceCollections::SaveIndex() {
  std::string text = std::string(kIndexHeader) + "\r\n";
  for (int i = 0;; ++i) {
    auto item = GetItem(i);
    if (!item) break;
    const std::string line = IndexLine(*item);
    if (!line.empty()) text += line + "\r\n";
  }
  const std::string index = IndexFileName();
  if (!WriteFileAtomically(index, text, 0644))
    throw std::runtime_error("cannot write the task index " + index);
}

bool TInstanceCollections::UsedByOther(const std::string& Path,
                                       const TKelvorInstance* Except) const {
  for (int i = 0;; ++i) {
    auto item = GetItem(i);
    if (!item) return false;
    if (item.get() != Except && !item->FileName.empty() && SameFile(item->FileName, Path))
      return true;
  }
}

std::string TInstanceCollections::FreeFileName(const std::string& Base) const {
  for (int n = 2;; ++n) {
    const std::string path = FFolder + Base + "_" + std::to_string(n) + ".xml";
    if (!PathTaken(path) && !UsedByOther(path, nullptr)) return path;
  }
}

bool TInstanceCollections::SaveMission(TKelvorInstance& Record, std::string* Note) {
  const std::string who = "mission<" + Record.MissionName + ">";
  if (!Record.ReadProblem.empty()) {
    if (Note)
      *Note = who + " not saved: its task file " + Record.FileName + " was not read completely (" +
              Record.ReadProblem +
              "), so it holds more than the task shows; it is kept as it is until the task "
              "is edited";
    return false;
  }
  const std::string previous = Record.FileName;
  std::string target, why;
  const bool safe = IsSafeTaskFileBase(Record.MissionName, &why);
  if (!safe) {
    why = "the name cannot be a file name: " + why;
  } else {
    const std::string desired = FFolder + Record.MissionName + ".xml";
    const bool own = !previous.empty() && SameFile(previous, desired);
    if (UsedByOther(desired, &Record))
      why = desired + " is the file of another task";
    else if (!own && PathTaken(desired))
      why = desired + " already exists and is no task's file of this catalogue";
    else
      target = desired;
  }
  if (target.empty()) {
    target = !previous.empty() && !UsedByOther(previous, &Record)
                 ? previous
                 : FreeFileName(safe ? Record.MissionName : std::string("mission"));
    if (Note) *Note = who + " saved to " + target + ": " + why;
  }
  if (!Record.WriteTaskFile(target)) return false;
  {
    // The service names a task's file in its lines.
    std::lock_guard<std::mutex> lock(CatalogueLock);
    Record.FileName = target;
  }
  if (!previous.empty() && SameFile(previous, target)) return true;
  if (!previous.empty() && ExtractFilePath(previous) == FFolder && !UsedByOther(previous, &Record))
    DeleteFileIfExists(previous);
  SaveIndex();
  return true;
}

}  // namespace kelvor
