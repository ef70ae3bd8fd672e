#include "tasks/uInstance.h"

#include <mutex>

#include "tasks/uInstanceCollections.h"

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
const TInstanceEditorFactory& InstanceEditorFactory() { return Factory(); }

TKelvorInstance::TKelvorInstance() = default;
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
  editor->ReadFromEditor(*this);
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
  if (EnteredName == MissionName || Owner == nullptr) return false;
  return Owner->Exists(EnteredName);
}

}  // namespace kelvor
