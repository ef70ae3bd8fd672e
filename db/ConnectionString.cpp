#include "db/ConnectionString.h"

#include "db/DbError.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/TextFile.h"

namespace kelvor {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool EndsWithNoCase(std::string_view Text, std::string_view Tail) {
  return Text.size() >= Tail.size() && SameText(Text.substr(Text.size() - Tail.size()), Tail);
}

const TKeyValueList kNoLines;

// Appends instead of `"x" + s + "y"`, which g++ 12 at -O2 misreads as an
// overlapping copy (-Wrestrict).
std::string Enclose(std::string_view Open, std::string_view Body, std::string_view Close) {
  std::string s;
  s.reserve(Open.size() + Body.size() + Close.size());
  s.append(Open).append(Body).append(Close);
  return s;
}

// Generated ODBC attributes in order; providers.ini lines replace the one of
// the same name or are appended.
class TOdbcAttributes {
 public:
  void Set(std::string_view Key, std::string_view Value) {
    for (auto& kv : FItems)
      if (SameText(kv.first, Key)) {
        kv.second = std::string(Value);
        return;
      }
    FItems.emplace_back(std::string(Key), std::string(Value));
  }
  // Skips empty values, so that an empty user name does not override the
  // one a data source defines.
  void SetIfNotEmpty(std::string_view Key, std::string_view Value) {
    if (!Value.empty()) Set(Key, Value);
  }
  // Appends without looking for an attribute of the same name.
  void Add(std::string_view Key, std::string_view Value) {
    FItems.emplace_back(std::string(Key), std::string(Value));
  }
  void Merge(const TKeyValueList& Lines) {
    for (const auto& kv : Lines)
      if (!SameText(kv.first, "Driver")) Set(kv.first, kv.second);
  }
  std::string Text() const {
    std::string s;
    for (const auto& kv : FItems) {
      s += kv.first;
      s += '=';
      // The driver name is always braced, as ODBC expects it.
      if (SameText(kv.first, "DRIVER"))
        s += Enclose("{", ReplaceAll(kv.second, "}", "}}"), "}");
      else
        s += QuoteOdbcValue(kv.second);
      s += ';';
    }
    return s;
  }

 private:
  TKeyValueList FItems;
};

std::string Quoted(std::string_view Text) {
  return Enclose("\"", Text, "\"");
}

}  // namespace

TConnectionString TConnectionString::Parse(std::string_view Text) {
  TConnectionString cs;
  size_t pos = 0;
  const size_t n = Text.size();
  while (pos < n) {
    size_t stop = Text.find_first_of("=;", pos);
    if (stop == std::string_view::npos) break;  // trailing part without "="
    if (Text[stop] == ';') {
      pos = stop + 1;
      continue;
    }
    std::string key = TrimBlanks(Text.substr(pos, stop - pos));
    pos = stop + 1;
    size_t p = pos;
    while (p < n && IsBlank(Text[p]))
      ++p;
    std::string value;
    if (p < n && Text[p] == '"') {
      ++p;
      bool closed = false;
      while (p < n) {
        if (Text[p] == '"') {
          if (p + 1 < n && Text[p + 1] == '"') {
            value += '"';
            p += 2;
            continue;
          }
          ++p;
          closed = true;
          break;
        }
        value += Text[p++];
      }
      if (!closed)
        throw TDbError("Invalid connection string",
                       "the quoted value of \"" + key + "\" has no closing quote");
      while (p < n && IsBlank(Text[p]))
        ++p;
      if (p < n && Text[p] != ';')
        throw TDbError("Invalid connection string",
                       "unexpected text after the quoted value of \"" + key + "\"");
      pos = p < n ? p + 1 : n;
    } else {
      size_t end = Text.find(';', pos);
      if (end == std::string_view::npos) end = n;
      value = std::string(Text.substr(pos, end - pos));
      pos = end < n ? end + 1 : n;
    }
    if (key.empty()) continue;
    bool replaced = false;
    for (auto& kv : cs.FItems)
      if (SameText(kv.first, key)) {
        kv.second = value;
        replaced = true;
      }
    if (!replaced) cs.FItems.emplace_back(std::move(key), std::move(value));
  }
  return cs;
}

std::string TConnectionString::Value(std::string_view Key) const {
  for (const auto& kv : FItems)
    if (SameText(kv.first, Key)) return kv.second;
  return {};
}

bool TConnectionString::Contains(std::string_view Key) const {
  for (const auto& kv : FItems)
    if (SameText(kv.first, Key)) return true;
  return false;
}

std::string QuoteConnectionValue(std::string_view Value) {
  if (Value.find_first_of(";\"") == std::string_view::npos) return std::string(Value);
  return Enclose("\"", ReplaceAll(Value, "\"", "\"\""), "\"");
}

std::string QuoteOdbcValue(std::string_view Value) {
  bool brace = Value.find_first_of(";{}") != std::string_view::npos ||
               (!Value.empty() && (IsBlank(Value.front()) || IsBlank(Value.back())));
  if (!brace) return std::string(Value);
  return Enclose("{", ReplaceAll(Value, "}", "}}"), "}");
}

TKeyValueList ParseOdbcConnectionString(std::string_view Text) {
  TKeyValueList items;
  size_t pos = 0;
  const size_t n = Text.size();
  while (pos < n) {
    size_t stop = Text.find_first_of("=;", pos);
    if (stop == std::string_view::npos) break;
    if (Text[stop] == ';') {
      pos = stop + 1;
      continue;
    }
    std::string key = TrimBlanks(Text.substr(pos, stop - pos));
    pos = stop + 1;
    std::string value;
    if (pos < n && Text[pos] == '{') {
      size_t p = pos + 1;
      while (p < n) {
        if (Text[p] == '}') {
          if (p + 1 < n && Text[p + 1] == '}') {
            value += '}';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        value += Text[p++];
      }
      size_t end = Text.find(';', p);
      pos = end == std::string_view::npos ? n : end + 1;
    } else {
      size_t end = Text.find(';', pos);
      if (end == std::string_view::npos) end = n;
      value = std::string(Text.substr(pos, end - pos));
      pos = end < n ? end + 1 : n;
    }
    if (!key.empty()) items.emplace_back(std::move(key), std::move(value));
  }
  return items;
}

namespace {

constexpr unsigned long long kFoundRowsFlag = 2;

bool IsOptionKey(std::string_view Key) {
  return SameText(Key, "OPTION") || SameText(Key, "OPTIONS");
}

// The drivers read the option with strtoul-like rules: leading digits.
unsigned long long OptionBits(std::string_view Value) {
  std::string v = TrimBlanks(Value);
  unsigned long long bits = 0;
  for (char c : v) {
    if (c < '0' || c > '9') break;
    bits = bits * 10 + static_cast<unsigned long long>(c - '0');
  }
  return bits;
}

}  // namespace

bool AddFoundRowsOption(std::string& OdbcConnectionString, std::string_view DataSourceOption) {
  TKeyValueList items = ParseOdbcConnectionString(OdbcConnectionString);
  std::string option(DataSourceOption);
  // The driver takes the last of repeated attributes.
  for (const auto& kv : items)
    if (IsOptionKey(kv.first)) option = kv.second;
  const unsigned long long bits = OptionBits(option);
  if (bits & kFoundRowsFlag) return false;
  TOdbcAttributes attrs;
  for (const auto& kv : items)
    if (!IsOptionKey(kv.first)) attrs.Add(kv.first, kv.second);
  attrs.Add("OPTION", std::to_string(bits | kFoundRowsFlag));
  OdbcConnectionString = attrs.Text();
  return true;
}

bool IsMySqlFamily(std::string_view DbmsName) {
  std::string name = TrimBlanks(DbmsName);
  return SameText(name, "MariaDB") || SameText(name, "MySQL");
}

bool AddPsqlodbcRollbackLevel(std::string& OdbcConnectionString,
                              std::string_view DataSourceProtocol) {
  if (!TrimBlanks(DataSourceProtocol).empty()) return false;
  for (const auto& kv : ParseOdbcConnectionString(OdbcConnectionString))
    if (SameText(kv.first, "Protocol") || SameText(kv.first, "A1")) return false;
  if (!OdbcConnectionString.empty() && OdbcConnectionString.back() != ';')
    OdbcConnectionString += ';';
  OdbcConnectionString += "Protocol=7.4-0;";
  return true;
}

std::string TProviderSettings::DefaultPath() {
  return ProgramFolder() + "../conf/providers.ini";
}

TProviderSettings TProviderSettings::Load(const std::string& Path) {
  std::string text;
  if (!ReadWholeFile(Path, text)) return {};
  return FromText(text);
}

TProviderSettings TProviderSettings::FromText(std::string_view Text) {
  TProviderSettings s;
  TKeyValueList* section = nullptr;
  for (const std::string& raw : SplitLines(Text)) {
    std::string line = TrimText(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      std::string name = TrimText(line.substr(1, line.size() - 2));
      section = nullptr;
      for (auto& sec : s.FSections)
        if (SameText(sec.first, name)) section = &sec.second;
      if (!section) {
        s.FSections.emplace_back(name, TKeyValueList());
        section = &s.FSections.back().second;
      }
      continue;
    }
    size_t eq = line.find('=');
    if (!section || eq == std::string::npos) continue;
    std::string key = TrimText(line.substr(0, eq));
    if (key.empty()) continue;
    section->emplace_back(key, TrimText(line.substr(eq + 1)));
  }
  return s;
}

const TKeyValueList& TProviderSettings::Section(std::string_view DatabaseType) const {
  for (const auto& sec : FSections)
    if (SameText(sec.first, DatabaseType)) return sec.second;
  return kNoLines;
}

std::string TProviderSettings::Driver(std::string_view DatabaseType) const {
  std::string driver;
  for (const auto& kv : Section(DatabaseType))
    if (SameText(kv.first, "Driver")) driver = kv.second;
  return driver;
}

TDbRoute RouteConnectionString(std::string_view ConnectionString,
                               const TProviderSettings& Settings) {
  TConnectionString cs = TConnectionString::Parse(ConnectionString);
  const std::string provider = TrimBlanks(cs.Value("Provider"));
  const std::string source = cs.Value("Data Source");
  const std::string user = cs.Value("User ID");
  const std::string password = cs.Value("Password");
  TDbRoute route;
  route.Backend = TDbBackend::Odbc;
  TOdbcAttributes attrs;

  auto needSource = [&](const char* What) {
    if (TrimBlanks(source).empty())
      throw TDbError("Unable to open the database",
                     std::string("the connection string names no ") + What + " (Data Source)");
  };
  auto configuredDriver = [&](const std::string& Type, const std::string& Default) {
    std::string driver = Settings.Driver(Type);
    if (driver.empty()) driver = Default;
    if (driver.empty())
      throw TDbError("Unable to open the database",
                     "no ODBC driver is configured for the database type \"" + Type +
                         "\" (set Driver= in section [" + Type + "] of " +
                         TProviderSettings::DefaultPath() + ")");
    attrs.Set("DRIVER", driver);
    return driver;
  };

  if (SameText(provider, "Microsoft.Jet.OLEDB.4.0")) {
    route.DatabaseType = "access";
    needSource("database file");
    std::string path = NormalizeSeparators(source);
    if (EndsWithNoCase(path, ".mdb") || EndsWithNoCase(path, ".accdb")) {
      std::string driver = configuredDriver("access", "MDBTools");
      attrs.Set("DBQ", path);
      route.FilePath = path;
      attrs.Merge(Settings.Section("access"));
      route.Description = "access file " + Quoted(path) + " (ODBC driver " + Quoted(driver) + ")";
    } else {
      route.Backend = TDbBackend::SQLite;
      route.FilePath = path;
      route.Description = "SQLite file " + Quoted(path);
      return route;
    }
  } else if (SameText(provider, "MSDASQL.1")) {
    route.DatabaseType = "odbc";
    needSource("ODBC data source");
    attrs.Set("DSN", source);
    attrs.SetIfNotEmpty("UID", user);
    attrs.SetIfNotEmpty("PWD", password);
    attrs.Merge(Settings.Section("odbc"));
    route.Description = "ODBC data source " + Quoted(source);
  } else if (SameText(provider, "SQLOLEDB.1")) {
    route.DatabaseType = "sqlserver";
    std::string driver = configuredDriver("sqlserver", "FreeTDS");
    attrs.SetIfNotEmpty("Server", source);
    attrs.SetIfNotEmpty("Database", cs.Value("Initial Catalog"));
    attrs.SetIfNotEmpty("UID", user);
    attrs.SetIfNotEmpty("PWD", password);
    // Kelvor's text is UTF-8; FreeTDS would otherwise convert to Latin-1.
    if (SameText(driver, "FreeTDS")) attrs.Set("ClientCharset", "UTF-8");
    attrs.Merge(Settings.Section("sqlserver"));
    route.Description = "sqlserver database " + Quoted(cs.Value("Initial Catalog")) + " on " +
                        Quoted(source) + " (ODBC driver " + Quoted(driver) + ")";
  } else if (SameText(provider, "OraOLEDB.Oracle.1")) {
    route.DatabaseType = "oracle";
    std::string driver = configuredDriver("oracle", "");
    needSource("Oracle service");
    attrs.Set("DBQ", source);
    attrs.SetIfNotEmpty("UID", user);
    attrs.SetIfNotEmpty("PWD", password);
    attrs.Merge(Settings.Section("oracle"));
    route.Description =
        "oracle service " + Quoted(source) + " (ODBC driver " + Quoted(driver) + ")";
  } else if (SameText(provider, "IBMDADB2.DB2COPY1")) {
    route.DatabaseType = "db2";
    std::string driver = configuredDriver("db2", "");
    needSource("DB2 database");
    attrs.Set("Database", source);
    std::string location = TrimBlanks(cs.Value("Location"));
    if (!location.empty()) {
      std::string host = location, port;
      size_t colon = location.rfind(':');
      if (colon != std::string::npos && colon + 1 < location.size() &&
          location.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
        host = location.substr(0, colon);
        port = location.substr(colon + 1);
      }
      attrs.Set("Hostname", host);
      attrs.SetIfNotEmpty("Port", port);
      attrs.Set("Protocol", "TCPIP");
    }
    attrs.SetIfNotEmpty("UID", user);
    attrs.SetIfNotEmpty("PWD", password);
    attrs.Merge(Settings.Section("db2"));
    route.Description = "db2 database " + Quoted(source) + " on " + Quoted(location) +
                        " (ODBC driver " + Quoted(driver) + ")";
  } else if (provider.empty()) {
    throw TDbError("Unable to open the database", "the connection string names no provider");
  } else {
    throw TDbError("Unable to open the database", "unknown provider " + Quoted(provider));
  }
  route.OdbcConnectionString = attrs.Text();
  return route;
}

}  // namespace kelvor
