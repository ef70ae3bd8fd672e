// Scopes for tests of the log and report services: the log folder is taken
// from the current directory and the report folder from the program folder,
// both process-wide, so each test sets them for its own length only.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/Paths.h"

namespace kelvor::test {

// Makes Folder the current directory until destroyed.
class CurrentDirectoryScope {
 public:
  explicit CurrentDirectoryScope(const std::string& Folder) {
    char buf[4096];
    if (::getcwd(buf, sizeof buf) == nullptr || ::chdir(Folder.c_str()) != 0) {
      ADD_FAILURE() << "cannot change to " << Folder;
      std::abort();
    }
    FPrevious = buf;
  }
  ~CurrentDirectoryScope() {
    if (::chdir(FPrevious.c_str()) != 0) std::abort();
  }
  CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
  CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

 private:
  std::string FPrevious;
};

// Makes Folder the program folder until destroyed.
class ProgramFolderScope {
 public:
  explicit ProgramFolderScope(const std::string& Folder) : FPrevious(ProgramFolder()) {
    SetProgramFolder(Folder);
  }
  ~ProgramFolderScope() { SetProgramFolder(FPrevious); }
  ProgramFolderScope(const ProgramFolderScope&) = delete;
  ProgramFolderScope& operator=(const ProgramFolderScope&) = delete;

 private:
  std::string FPrevious;
};

}  // namespace kelvor::test
