#include "platform/Paths.h"

#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <system_error>

namespace kelvor {

std::string NormalizeSeparators(std::string_view Path) {
  std::string r(Path);
  for (char& c : r)
    if (c == '\\') c = '/';
  return r;
}

std::string IncludeTrailingSeparator(std::string_view Path) {
  std::string r(Path);
  if (r.empty()) return r;
  if (r.back() == '\\')
    r.back() = '/';
  else if (r.back() != '/')
    r.push_back('/');
  return r;
}

std::string ExtractFilePath(std::string_view Path) {
  size_t p = Path.find_last_of("/\\");
  return p == std::string_view::npos ? std::string() : std::string(Path.substr(0, p + 1));
}

namespace {
std::mutex g_FolderMutex;
std::string g_ProgramFolder;  // guarded by g_FolderMutex

std::string ExecutableFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return IncludeTrailingSeparator(std::filesystem::current_path(ec).string());
  return IncludeTrailingSeparator(exe.parent_path().string());
}
}  // namespace

std::string ProgramFolder() {
  std::lock_guard<std::mutex> lock(g_FolderMutex);
  if (g_ProgramFolder.empty()) g_ProgramFolder = ExecutableFolder();
  return g_ProgramFolder;
}

void SetProgramFolder(std::string_view Folder) {
  std::lock_guard<std::mutex> lock(g_FolderMutex);
  g_ProgramFolder = IncludeTrailingSeparator(NormalizeSeparators(Folder));
}

bool FileExists(const std::string& Path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(Path, ec);
}

bool DirectoryExists(const std::string& Path) {
  std::error_code ec;
  return std::filesystem::is_directory(Path, ec);
}

bool DeleteFileIfExists(const std::string& Path) {
  return ::unlink(Path.c_str()) == 0;
}

}  // namespace kelvor
