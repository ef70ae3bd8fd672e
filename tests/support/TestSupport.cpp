#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>

#include "platform/TextFile.h"

namespace kelvor::test {

TempDir::TempDir() {
  std::string base = std::filesystem::temp_directory_path().string() + "/kelvor-test-XXXXXX";
  std::vector<char> buf(base.begin(), base.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    std::abort();
  }
  FPath = std::string(buf.data()) + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

std::string TempDir::Sub(const std::string& Name, bool CreateFolder) const {
  std::string p = FPath + Name;
  if (CreateFolder) {
    std::error_code ec;
    std::filesystem::create_directories(p, ec);
  }
  return p;
}

std::string ReadFileOrEmpty(const std::string& Path) {
  std::string s;
  ReadWholeFile(Path, s);
  return s;
}

void WriteFileOrDie(const std::string& Path, const std::string& Text) {
  if (!WriteWholeFile(Path, Text)) {
    ADD_FAILURE() << "cannot write " << Path;
    std::abort();
  }
}

TDateTime At(int Year, int Month, int Day, int Hour, int Minute, int Second) {
  TDateTime t;
  t.Year = Year;
  t.Month = Month;
  t.Day = Day;
  t.Hour = Hour;
  t.Minute = Minute;
  t.Second = Second;
  return t;
}

}  // namespace kelvor::test
