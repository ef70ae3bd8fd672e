// The task record's editor: the dialog in which the operator writes a task.
//
// The core knows the editor only through this interface; the desktop shell
// registers a factory that builds its dialog for a record. Without a factory
// (the headless service) a record has no editor and Edit/EditNew answer false.
// Threads: editors are created and used on the window thread only.
#pragma once

#include <functional>
#include <memory>

namespace kelvor {

class TKelvorInstance;

class TInstanceEditor {
 public:
  virtual ~TInstanceEditor() = default;
  // Copies the record into the editor's controls.
  virtual void LoadToEditor(const TKelvorInstance& Instance) = 0;
  // Copies the controls back into the record (after the editor's checks passed).
  virtual void ReadFromEditor(TKelvorInstance& Instance) = 0;
  // Shows the editor modally, OK disabled when ReadOnly; true when closed by
  // OK with every check passed.
  virtual bool Execute(bool ReadOnly) = 0;
};

// Builds the editor of a record; the editor may keep a reference to it.
using TInstanceEditorFactory = std::function<std::unique_ptr<TInstanceEditor>(TKelvorInstance&)>;
void SetInstanceEditorFactory(TInstanceEditorFactory Factory);
const TInstanceEditorFactory& InstanceEditorFactory();

}  // namespace kelvor
