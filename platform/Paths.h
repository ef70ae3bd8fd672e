// Path helpers. Kelvor writes "/" as its separator; a "\" read from a stored
// path (a line of tasks.ini, an Access database name) is taken as "/".
// Paths are byte strings; ".." parts are kept as written, never resolved.
// Thread safety: all functions may be called from any thread; the program
// folder is set once at start-up (SetProgramFolder) before threads start.
#pragma once

#include <string>
#include <string_view>

namespace kelvor {

// Every "\" becomes "/".
std::string NormalizeSeparators(std::string_view Path);
// Appends "/" to a non-empty path that does not already end with "/" or "\"
// (a final "\" is turned into "/"). An empty path stays empty.
std::string IncludeTrailingSeparator(std::string_view Path);
// The folder part of a path, with its final separator ("a/b/c.txt" gives "a/b/").
std::string ExtractFilePath(std::string_view Path);

// Folder of the running program file, always ending with "/". Defaults to the
// folder of /proc/self/exe; SetProgramFolder replaces it (kelvord --home, tests).
std::string ProgramFolder();
void SetProgramFolder(std::string_view Folder);

bool FileExists(const std::string& Path);
bool DirectoryExists(const std::string& Path);
// Deletes a file; false when it did not exist or could not be deleted.
bool DeleteFileIfExists(const std::string& Path);

}  // namespace kelvor
