#include "tasks/uInstance.h"

#include <mutex>

#include "platform/Locks.h"
#include "tasks/uInstanceCollections.h"
#include "xml/uXmlScanner.h"

namespace kelvor {

namespace {
TInstanceEditorFactory& Factory() {
  static TInstanceEditorFactory factory;
  return factory;
}
}  // namespace

void SetInstanceEditorFactory(TInstanceEditorFactory NewFactory) {
  Factory() = std::move(NewFactory);
}
const TInstanceEditorFactory& InstanceEditorFactory() {
  return Factory();
}

TKelvorInstance::TKelvorInstance() : Scanner(std::make_unique<TXmlScanner>()) {
  Scanner->StartTagEvent = [this](TCustomXmlScanner&, const std::string& TagName,
                                  const TAttrList& Attributes) {
    StartElement(TagName, Attributes);
  };
}
TKelvorInstance::~TKelvorInstance() = default;

TInstanceEditor* TKelvorInstance::Editor() {
  if (!FEditor && Factory()) FEditor = Factory()(*this);
  return FEditor.get();
}

bool TKelvorInstance::Edit(bool ReadOnly) {
  TInstanceEditor* editor = Editor();
  if (!editor) return false;
  editor->LoadToEditor(*this);
  if (!editor->Execute(ReadOnly)) return false;
  // The service manager thread reads the names of listed tasks under the
  // catalogue's lock; the edit writes them under it too.
  std::lock_guard<std::mutex> lock(CatalogueLock);
  editor->ReadFromEditor(*this);
  // The operator has seen and confirmed the whole definition.
  ReadProblem.clear();
  return true;
}

bool TKelvorInstance::EditNew() {
  TInstanceEditor* editor = Editor();
  if (!editor) return false;
  if (!editor->Execute(false)) return false;
  editor->ReadFromEditor(*this);
  return true;
}

bool TKelvorInstance::CheckNameClash(const std::string& EnteredName) const {
  if (Owner == nullptr) return false;
  // Compared by identity, not by the name the record had when the editor
  // opened: an imported record is not listed yet, so its unchanged name must
  // still be checked against every listed task.
  bool listed = false;
  bool takenByOther = false;
  for (int i = 0, n = Owner->Count(); i < n; ++i) {
    std::shared_ptr<TKelvorInstance> item = Owner->GetItem(i);
    if (!item) continue;
    if (item.get() == this)
      listed = true;
    else if (item->MissionName == EnteredName)
      takenByOther = true;
  }
  if (listed && EnteredName == MissionName) return false;
  return takenByOther;
}

}  // namespace kelvor
