// kelvor: the desktop program. Creates the data module and the windows, then
// the controller, which loads the tasks and starts the service half a second
// after the main window is first shown. Reads no command line and no
// settings; every folder is taken relative to the program's own folder.
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "engine/udatamodule.h"
#include "platform/Paths.h"
#include "platform/Thread.h"
#include "services/uAlertService.h"
#include "services/uLogService.h"
#include "services/uReportService.h"
#include "shell/uAboutDialog.h"
#include "shell/uApplication.h"
#include "shell/uConfigDialog.h"
#include "shell/uInstanceEditorBinding.h"
#include "shell/uMain.h"
#include "shell/uMainView.h"
#include "shell/uMissionDialog.h"
#include "shell/uMissionReportDialog.h"
#include "shell/uSyncFramework.h"
#include "tasks/uInstanceEditor.h"

using namespace kelvor;

namespace {
// Daemons still in a run when the program closes get this long to notice
// their stop request, and the writers as long again to drain.
constexpr std::chrono::seconds kDaemonGrace{10};
constexpr std::chrono::seconds kThreadGrace{3};
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  InitApplication();

  // The log folder is taken from the current directory and the report folder
  // from the program folder: both are the program folder's siblings.
  const std::string programFolder = ProgramFolder();
  if (::chdir(programFolder.c_str()) != 0)
    std::fprintf(stderr, "kelvor: cannot enter %s\n", programFolder.c_str());

  int result = 0;
  {
    TgDataModule dataModule;
    TfrmMain main;  // created disabled
    TMissionDialog missionDialog(&main);
    TConfigDialog configDialog(&main);
    TMissionReportDialog reportDialog(&main);
    TAboutDialog aboutDialog(&main);
    main.SetAboutDialog(&aboutDialog);
    RegisterInstanceDialog(&dataModule);

    TMainWindowView view(main, configDialog, reportDialog);
    TSyncFramework* framework = GetSyncFramework(&view);
    QObject::connect(&main, &TfrmMain::Closed, &app, &QApplication::quit);
    main.show();
    result = app.exec();

    // The closing already ran the stop sequence; daemons still in a run are
    // given a bounded time, then the writers drain.
    const bool servicesEnded = framework->StopServiceForExit(kDaemonGrace);
    StopAlertService();
    StopLogService();
    StopReportService();
    if (!servicesEnded || !WaitForAllThreads(kThreadGrace)) {
      // A daemon stuck in a database call still uses its task record, whose
      // dialog must not be freed on that thread after the application is
      // gone: the process ends here, as it would have ended the thread,
      // once whatever it logged meanwhile is written.
      StopLogService();
      StopReportService();
      std::fflush(nullptr);
      std::_Exit(result);
    }
    // The task records own their dialogs: they go before the windows and
    // the application object.
    FreeSyncFramework();
    SetInstanceEditorFactory(nullptr);
  }
  return result;
}
