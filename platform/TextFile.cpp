#include "platform/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace kelvor {

std::vector<std::string> SplitLines(std::string_view Text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < Text.size()) {
    char c = Text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(Text.substr(start, i - start));
      if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
      start = i + 1;
    }
    ++i;
  }
  if (start < Text.size()) lines.emplace_back(Text.substr(start));
  return lines;
}

namespace {

bool WriteAll(int fd, std::string_view Data) {
  while (!Data.empty()) {
    ssize_t n = ::write(fd, Data.data(), Data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    Data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool WriteWithFlags(const std::string& Path, std::string_view Text, int Flags, unsigned Mode) {
  int fd = ::open(Path.c_str(), Flags | O_WRONLY | O_CLOEXEC, Mode);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, Text);
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace

bool ReadWholeFile(const std::string& Path, std::string& Out) {
  Out.clear();
  int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  char buf[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    Out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (!ok) Out.clear();
  return ok;
}

bool ReadLines(const std::string& Path, std::vector<std::string>& Lines) {
  std::string text;
  if (!ReadWholeFile(Path, text)) {
    Lines.clear();
    return false;
  }
  Lines = SplitLines(text);
  return true;
}

bool WriteWholeFile(const std::string& Path, std::string_view Text) {
  return WriteWithFlags(Path, Text, O_CREAT | O_TRUNC, 0644);
}

bool WriteLines(const std::string& Path, const std::vector<std::string>& Lines) {
  std::string text;
  for (const auto& line : Lines) {
    text += line;
    text += kCrLf;
  }
  return WriteWholeFile(Path, text);
}

bool AppendLine(const std::string& Path, std::string_view Line) {
  std::string text(Line);
  text += kCrLf;
  int fd = ::open(Path.c_str(), O_CREAT | O_APPEND | O_WRONLY | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat st {};
  const bool sized = ::fstat(fd, &st) == 0;
  bool ok = WriteAll(fd, text);
  int error = errno;
  // A full disk may take part of the line: cut it off again, or the next line
  // written once there is room would be glued to the torn piece.
  if (!ok && sized) ::ftruncate(fd, st.st_size);
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  errno = error;  // the caller may say why
  return ok;
}

bool WriteFileAtomically(const std::string& Path, std::string_view Text, unsigned Mode) {
  std::random_device rd;
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%08x.tmp", rd());
  std::string temp = Path + suffix;
  int fd = ::open(temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, Mode);
  if (fd < 0) return false;
  ::fchmod(fd, Mode);  // umask must not widen or narrow what the caller asked for
  bool ok = WriteAll(fd, Text) && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), Path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace kelvor
