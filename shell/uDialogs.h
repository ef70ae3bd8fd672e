// The shell's message boxes, file choosers and modal runs, in one place so
// that tests can answer them in advance and never block on a modal window.
//
// Threads: window thread only. The test hooks are process-wide; a test sets
// them and clears them (ResetTestHooks) before it ends.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QDialog;
class QWidget;

namespace kelvor {

class TDialogs {
 public:
  // A warning with OK and Cancel; true only for OK.
  static bool AskOkCancel(QWidget* Parent, const QString& Text);
  // A plain message with an OK button.
  static void ShowMessage(QWidget* Parent, const QString& Text);
  // File choosers; an empty answer means cancelled. Filter uses Qt's form,
  // e.g. "xml (*.xml)" or "sql (*.sql);;txt (*.txt)".
  static QString OpenFileName(QWidget* Parent, const QString& Filter, const QString& StartFolder);
  static QString SaveFileName(QWidget* Parent, const QString& Filter, const QString& StartFolder,
                              const QString& DefaultSuffix);
  // Shows Dialog modally and returns exec()'s result. With a driver queued,
  // the driver runs inside the modal loop; a dialog still open when the
  // driver returns is rejected, so a test can never hang on it.
  static int ExecModal(QDialog& Dialog);
  // Moves Window to the centre of the primary screen's free area.
  static void CenterOnScreen(QWidget& Window);

  // Test hooks. In test mode no message box or file chooser is ever shown:
  // each call takes the next queued answer, or Cancel / an empty name when
  // none is queued, and its text is appended to Shown().
  static void SetTestMode(bool On);
  static bool TestMode();
  static void PushAnswer(bool Ok);
  static void PushFileName(const QString& Path);
  static void PushModalDriver(std::function<void(QDialog&)> Driver);
  // Texts of the boxes asked or shown in test mode, oldest first; the file
  // choosers add "open:" or "save:" followed by the filter and the folder.
  static const QStringList& Shown();
  static void ClearShown();
  // Leaves test mode and drops every queued answer and recorded text.
  static void ResetTestHooks();
};

}  // namespace kelvor
