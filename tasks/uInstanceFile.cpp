// Task file reading and writing. The reader and the exact layout arrive with
// the XML reader; until then a record can be held and run, not stored.
#include "tasks/uInstance.h"

namespace kelvor {

bool TKelvorInstance::LoadFromFile(const std::string& Path) {
  FileName = Path;
  return true;
}

void TKelvorInstance::SaveToFile(const std::string& Path) { WriteTaskFile(Path); }

bool TKelvorInstance::WriteTaskFile(const std::string&) { return false; }

std::string TKelvorInstance::SaveToText() {
  return std::string();
}

void TKelvorInstance::DeleteTaskFile() {}

}  // namespace kelvor
