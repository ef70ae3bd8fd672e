// Finding ":name" placeholders in a statement text.
// Stateless; callable from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvor {

struct TParsedSql {
  std::string Text;                // the statement with every placeholder as "?"
  std::vector<std::string> Names;  // placeholder names in order, duplicates included
};

// A placeholder is ":" followed by one or more name characters (ASCII
// letters, digits, "_", and any byte of a multi-byte UTF-8 character) outside
// '...' literals, "..." identifiers, -- line comments and /* */ comments.
// "::" (a cast) is never a placeholder; neither is a ":" without a name.
TParsedSql ParseSqlParams(std::string_view Sql);

}  // namespace kelvor
