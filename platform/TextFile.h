// Text files as Kelvor writes and reads them: bytes written as given, every
// line ended by CR LF; reading accepts CR LF, CR or LF line ends.
// Functions that return bool report failure instead of throwing; nothing here
// keeps a file open between calls. Thread safety: no shared state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvor {

inline constexpr std::string_view kCrLf = "\r\n";

// Splits a text into lines at CR LF, CR or LF. A final line end adds no empty
// line; an empty text gives no lines.
std::vector<std::string> SplitLines(std::string_view Text);

// Reads the whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& Path, std::string& Out);
// Reads the file's lines (see SplitLines); false when it cannot be read.
bool ReadLines(const std::string& Path, std::vector<std::string>& Lines);

// Creates or truncates the file and writes Text as it is.
bool WriteWholeFile(const std::string& Path, std::string_view Text);
// Writes every line followed by CR LF, replacing the file.
bool WriteLines(const std::string& Path, const std::vector<std::string>& Lines);
// Appends Line and CR LF, creating the file when it is missing (never its
// folder). A line that cannot be written whole (a full disk) is taken out
// again; on failure errno tells why.
bool AppendLine(const std::string& Path, std::string_view Line);

// Writes Text to a temporary file beside Path and renames it over Path, so a
// crash or a full disk never leaves a half-written file in Path's place.
// Mode gives the new file's permission bits (e.g. 0600).
bool WriteFileAtomically(const std::string& Path, std::string_view Text, unsigned Mode = 0644);

}  // namespace kelvor
