#include "db/SqlParams.h"

namespace kelvor {

namespace {
bool IsNameChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c >= 0x80;
}
}  // namespace

TParsedSql ParseSqlParams(std::string_view Sql) {
  TParsedSql r;
  r.Text.reserve(Sql.size());
  const size_t n = Sql.size();
  size_t i = 0;
  while (i < n) {
    const char c = Sql[i];
    if (c == '\'' || c == '"') {
      // A doubled quote inside closes and reopens, which copies it unchanged.
      size_t end = Sql.find(c, i + 1);
      end = end == std::string_view::npos ? n : end + 1;
      r.Text.append(Sql.substr(i, end - i));
      i = end;
    } else if (c == '-' && i + 1 < n && Sql[i + 1] == '-') {
      size_t end = Sql.find('\n', i);
      end = end == std::string_view::npos ? n : end;
      r.Text.append(Sql.substr(i, end - i));
      i = end;
    } else if (c == '/' && i + 1 < n && Sql[i + 1] == '*') {
      size_t end = Sql.find("*/", i + 2);
      end = end == std::string_view::npos ? n : end + 2;
      r.Text.append(Sql.substr(i, end - i));
      i = end;
    } else if (c == ':' && i + 1 < n && Sql[i + 1] == ':') {
      size_t end = i;
      while (end < n && Sql[end] == ':')
        ++end;
      r.Text.append(Sql.substr(i, end - i));
      i = end;
    } else if (c == ':' && i + 1 < n && IsNameChar(static_cast<unsigned char>(Sql[i + 1]))) {
      size_t end = i + 1;
      while (end < n && IsNameChar(static_cast<unsigned char>(Sql[end])))
        ++end;
      r.Names.emplace_back(Sql.substr(i + 1, end - i - 1));
      r.Text += '?';
      i = end;
    } else {
      r.Text += c;
      ++i;
    }
  }
  return r;
}

}  // namespace kelvor
