// The direction of includes between the program's folders, checked by
// scripts/check-layers: on this source tree, and on scratch trees that break
// the order in each way the check has to see through.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/TestSupport.h"

namespace kelvor {
namespace {

using Outcome = test::TShellOutcome;

// Runs scripts/check-layers over Root; standard output and error together.
Outcome CheckLayers(const std::string& Root) {
  return test::RunShell("'" + std::string(KELVOR_SOURCE_DIR) + "/scripts/check-layers' '" + Root +
                        "'");
}

TEST(LayersTest, SourceTreeIncludesOnlyLowerFolders) {
  const Outcome r = CheckLayers(KELVOR_SOURCE_DIR);
  EXPECT_EQ(r.Status, 0) << r.Output;
  EXPECT_EQ(r.Output, "");
}

TEST(LayersTest, ScratchTreesReportEveryIncludeOfAHigherFolder) {
  struct Case {
    const char* What;
    std::vector<std::pair<std::string, std::string>> Files;  // path, text
    std::string Expected;                                    // the report; empty: none
  };
  const std::vector<Case> cases = {
      {"lower folders, the own folder and plain names",
       {{"tasks/a.cpp",
         "#include \"tasks/a.h\"\n#include \"a.h\"\n#include \"services/uLogService.h\"\n"
         "#include \"xml/uXmlParser.h\"\n#include \"platform/Clock.h\"\n#include <string>\n"}},
       ""},
      {"the programs may include every layer",
       {{"app/a.cpp",
         "#include \"shell/uMain.h\"\n#include \"daemons/uNotifyService.h\"\n"
         "#include \"engine/udatamodule.h\"\n#include <QApplication>\n"}},
       ""},
      {"a higher folder, named by file and line",
       {{"services/uLogService.cpp",
         "// The log.\n#include \"services/uLogService.h\"\n#include "
         "\"engine/uKelvorOperation.h\"\n"}},
       "services/uLogService.cpp:3: services/ includes engine/uKelvorOperation.h from engine/, "
       "which lies above it\n"},
      {"a header, every line that reaches up",
       {{"platform/Clock.h",
         "#pragma once\n#include \"services/uBroadMessage.h\"\n#include \"platform/Locks.h\"\n"
         "#include \"app/kelvord_commands.h\"\n"}},
       "platform/Clock.h:2: platform/ includes services/uBroadMessage.h from services/, which lies "
       "above it\n"
       "platform/Clock.h:4: platform/ includes app/kelvord_commands.h from app/, which lies above "
       "it\n"},
      {"the order between neighbours: services below xml below tasks below db",
       {{"xml/a.cpp", "#include \"services/uLogService.h\"\n#include \"tasks/uInstance.h\"\n"},
        {"db/a.cpp", "#include \"tasks/uInstance.h\"\n"}},
       "xml/a.cpp:2: xml/ includes tasks/uInstance.h from tasks/, which lies above it\n"},
      {"spaced directives and angle brackets",
       {{"engine/a.cpp",
         "  #  include   \"daemons/uNotifyService.h\"\n#include <shell/uMain.h>\n"}},
       "engine/a.cpp:1: engine/ includes daemons/uNotifyService.h from daemons/, which lies above "
       "it\n"
       "engine/a.cpp:2: engine/ includes shell/uMain.h from shell/, which lies above it\n"},
      {"relative paths are followed to the folder they name",
       {{"tasks/a.cpp", "#include \"../db/DbQuery.h\"\n#include \"./a.h\"\n"},
        {"tasks/sub/b.cpp", "#include \"../../engine/Rec_Unit.h\"\n#include \"../a.h\"\n"}},
       "tasks/a.cpp:1: tasks/ includes ../db/DbQuery.h from db/, which lies above it\n"
       "tasks/sub/b.cpp:1: tasks/ includes ../../engine/Rec_Unit.h from engine/, which lies above "
       "it\n"},
      {"an include commented out is no include",
       {{"db/a.cpp", "// #include \"engine/uKelvorOperation.h\"\n/* #include \"app/x.h\" */\n"}},
       ""},
      {"no Qt header in the core library; the shell may",
       {{"daemons/a.cpp",
         "#include <QString>\n#include <QtCore/QObject>\n#include <queue>\n#include <cstdio>\n"},
        {"shell/a.cpp", "#include <QWidget>\n"}},
       "daemons/a.cpp:1: daemons/ is in the core library and includes the Qt header <QString>\n"
       "daemons/a.cpp:2: daemons/ is in the core library and includes the Qt header "
       "<QtCore/QObject>\n"},
      {"folders outside the order: not read, and not to be included",
       {{"tests/support/TestSupport.h", "#include \"app/kelvord_commands.h\"\n"},
        {"shell/a.cpp", "#include \"tests/support/TestSupport.h\"\n"}},
       "shell/a.cpp:1: shell/ includes tests/support/TestSupport.h from tests/, which is no "
       "layer\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    test::TempDir root;
    for (const auto& [path, text] : c.Files) {
      std::filesystem::create_directories(std::filesystem::path(root.Path() + path).parent_path());
      test::WriteFileOrDie(root.Path() + path, text);
    }
    const Outcome r = CheckLayers(root.Path());
    EXPECT_EQ(r.Output, c.Expected);
    EXPECT_EQ(r.Status, c.Expected.empty() ? 0 : 1);
  }
}

}  // namespace
}  // namespace kelvor
