// The shell's message boxes, file choosers and modal runs, in one place so
// that tests can answer them in advance and never block on a modal window.
//
// Threads: window thread only. The test hooks are process-wide; a test sets
// them and clears them (ResetTestHooks) before it ends.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QDialog;
class QFileDialog;
class QWidget;

namespace kelvor {

class TDialogs {
 public:
  // A warning with OK and Cancel; true only for OK.
  static bool AskOkCancel(QWidget* Parent, const QString& Text);
  // A plain message with an OK button.
  static void ShowMessage(QWidget* Parent, const QString& Text);
  // The message box the two above show, not yet shown: captioned "Kelvor",
  // with a fixed frame (FixedFrame).
  static std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* Parent, QMessageBox::Icon Icon,
                                                     const QString& Text,
                                                     QMessageBox::StandardButtons Buttons);

  // File choosers; an empty answer means cancelled. Filter uses Qt's form,
  // e.g. "xml (*.xml)" or "sql (*.sql);;txt (*.txt)". They open in
  // StartFolder when it names a folder that exists, else in the folder of
  // the file last chosen in this run, else in the user's home folder; never
  // in the program's own folder by chance.
  static QString OpenFileName(QWidget* Parent, const QString& Filter, const QString& StartFolder);
  static QString SaveFileName(QWidget* Parent, const QString& Filter, const QString& StartFolder,
                              const QString& DefaultSuffix);
  // The chooser the two above show, not yet shown, opening in
  // ChooserFolder(StartFolder): Qt's own, not the desktop's, so that it
  // speaks the program's language, with sizes and dates in the default
  // locale's form.
  static std::unique_ptr<QFileDialog> MakeFileChooser(QWidget* Parent, const QString& Filter,
                                                      const QString& StartFolder, bool Save);
  // Where a chooser asked to open in StartFolder opens (see OpenFileName).
  static QString ChooserFolder(const QString& StartFolder);
  // The folder of the file last chosen in this run; empty before the first.
  static QString LastFolder();

  // Asks the window manager for a frame with a caption and a close button
  // only: no minimise or maximise button, for dialogs of fixed size.
  static void FixedFrame(QWidget& Dialog);
  // Shows Dialog modally and returns exec()'s result. With a driver queued,
  // the driver runs inside the modal loop; a dialog still open when the
  // driver returns is rejected, so a test can never hang on it.
  static int ExecModal(QDialog& Dialog);
  // Moves Window to the centre of the primary screen's free area.
  static void CenterOnScreen(QWidget& Window);

  // Test hooks. In test mode no message box or file chooser is ever shown:
  // each call takes the next queued answer, or Cancel / an empty name when
  // none is queued, and its text is appended to Shown(). A file name taken
  // from the queue becomes the last folder as a chosen one does.
  static void SetTestMode(bool On);
  static bool TestMode();
  static void PushAnswer(bool Ok);
  static void PushFileName(const QString& Path);
  static void PushModalDriver(std::function<void(QDialog&)> Driver);
  // Texts of the boxes asked or shown in test mode, oldest first; the file
  // choosers add "open:" or "save:" followed by the filter and the folder
  // they open in (ChooserFolder).
  static const QStringList& Shown();
  static void ClearShown();
  // Leaves test mode and drops every queued answer, recorded text and the
  // last folder.
  static void ResetTestHooks();
};

}  // namespace kelvor
