#include "tasks/uInstanceCollections.h"

#include <stdexcept>

#include "platform/Locks.h"
#include "platform/Paths.h"
#include "platform/TextFile.h"

namespace kelvor {

namespace {
constexpr const char* kIndexHeader = "#define all tasks....";
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
  for (const auto& raw : lines) {
    std::string line = TrimText(raw);
    if (line.empty() || line[0] == '#') continue;
    std::string path = FFolder + NormalizeSeparators(line);
    if (!FileExists(path)) continue;
    auto record = std::make_shared<TKelvorInstance>();
    record->LoadFromFile(path);
    Add(std::move(record));
  }
  return Count() > 0;
}

void TInstanceCollections::SaveIndex() {
  std::string text = std::string(kIndexHeader) + "\r\n";
  for (int i = 0;; ++i) {
    auto item = GetItem(i);
    if (!item) break;
    text += item->MissionName + ".xml\r\n";
  }
  const std::string index = IndexFileName();
  if (!WriteFileAtomically(index, text, 0644))
    throw std::runtime_error("cannot write the task index " + index);
}

bool TInstanceCollections::SaveMission(TKelvorInstance& Record) {
  const std::string target = FFolder + Record.MissionName + ".xml";
  const std::string previous = Record.FileName;
  if (!Record.WriteTaskFile(target)) return false;
  Record.FileName = target;
  if (!previous.empty() && previous != target && ExtractFilePath(previous) == FFolder)
    DeleteFileIfExists(previous);
  if (previous != target) SaveIndex();
  return true;
}

}  // namespace kelvor
