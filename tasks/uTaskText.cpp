#include "tasks/uTaskText.h"

#include "tasks/uSchemaObjects.h"

namespace kelvor {

bool TextToBool(std::string_view Text) {
  return LowerCase(Text) == "true";
}

std::string EscapeAttributeValue(std::string_view Value) {
  std::string r;
  r.reserve(Value.size());
  for (size_t i = 0; i < Value.size(); ++i) {
    char c = Value[i];
    if (c == '"') r += "&quot;";
    // The reader takes an "&" as the start of a reference when a ";" follows
    // anywhere in the written value, and a later quote is written with one.
    else if (c == '&' && Value.find_first_of(";\"", i + 1) != std::string_view::npos)
      r += "&amp;";
    else
      r.push_back(c);
  }
  return r;
}

}  // namespace kelvor
