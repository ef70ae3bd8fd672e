// The system's connection strings and where they lead.
//
// The engine hands the data access layer ADO-style connection strings
// ("Provider=SQLOLEDB.1;Password=p;User ID=u;Initial Catalog=db;Data Source=srv").
// This unit parses them, reads the optional conf/providers.ini and turns a
// string into a route: an SQLite file or an ODBC connection string.
//
//   Microsoft.Jet.OLEDB.4.0  SQLite file (Data Source), or ODBC driver
//                            "MDBTools" with DBQ for a .mdb/.accdb file
//   MSDASQL.1                ODBC: DSN = Data Source, UID, PWD
//   SQLOLEDB.1               ODBC driver "FreeTDS" unless configured:
//                            Server = Data Source, Database = Initial Catalog
//   OraOLEDB.Oracle.1        configured ODBC driver: DBQ = Data Source
//   IBMDADB2.DB2COPY1        configured ODBC driver: Database = Data Source,
//                            Hostname and Port from Location ("host:port")
//
// providers.ini has one section per database type name ([oracle], [sqlserver],
// [access], [odbc], [db2]). "Driver=" names the ODBC driver (ignored for
// [odbc], whose data source names its own); every other line is an ODBC
// attribute that replaces the generated attribute of the same name or is
// appended. Lines starting with ";" or "#" are comments.
//
// Everything here is a pure function of its arguments, except
// TProviderSettings::LoadDefault, which reads the file at each call.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvor {

using TKeyValueList = std::vector<std::pair<std::string, std::string>>;

// A parsed "Key=Value;Key=Value" text. Keys are matched without regard to
// letter case and blanks around them; values are kept exactly, except that a
// value starting with a double quote runs to the matching closing quote with
// inner quotes doubled ("a;""b" is a;"b). Parts without "=" are ignored; a key
// given twice keeps its last value.
class TConnectionString {
 public:
  // Raises TDbError for an unterminated quoted value.
  static TConnectionString Parse(std::string_view Text);

  // The value of Key, or the empty text when absent.
  std::string Value(std::string_view Key) const;
  bool Contains(std::string_view Key) const;
  const TKeyValueList& Items() const { return FItems; }

 private:
  TKeyValueList FItems;
};

// A value as it must be written into a connection string so that Parse gives
// it back: unchanged, or in double quotes with inner quotes doubled when it
// holds ";" or a double quote.
std::string QuoteConnectionValue(std::string_view Value);

// An ODBC attribute value: unchanged, or in braces with "}" doubled when it
// holds ";", "{" or "}" (or starts with a blank, which drivers would trim).
std::string QuoteOdbcValue(std::string_view Value);

// The attributes of an ODBC connection string ("DSN=x;PWD={a;b}}c}"), as
// drivers read them: a value in braces runs to the closing brace, "}}" inside
// standing for "}". Keys keep their spelling and blanks around them are
// dropped; parts without "=" are ignored.
TKeyValueList ParseOdbcConnectionString(std::string_view Text);

// MariaDB's and MySQL's ODBC drivers report rows changed, not rows matched,
// for an UPDATE unless bit 2 (found rows) of their OPTION attribute is set.
// Sets that bit in OdbcConnectionString, keeping every other bit of the
// option in force: the string's own OPTION (or its alias OPTIONS) when it has
// one, otherwise DataSourceOption, the OPTION of the data source it names.
// A value that is no number counts as 0, as the drivers read it. Returns
// false, changing nothing, when the bit is set already.
bool AddFoundRowsOption(std::string& OdbcConnectionString, std::string_view DataSourceOption);

// True for the database systems that AddFoundRowsOption is for, given as
// ODBC's SQL_DBMS_NAME names them ("MariaDB", "MySQL").
bool IsMySqlFamily(std::string_view DbmsName);

// psqlodbc, the PostgreSQL driver, wraps every statement of a transaction in
// a savepoint of its own (one more round trip per statement) unless the
// level of rollback on errors in its Protocol attribute ("7.4-<level>") says
// otherwise. TDbConnection rolls a transaction back whole after any failed
// statement anyway, so the layer asks for level 0: on an error the driver
// does nothing, and the layer rolls back (or returns to a savepoint of its
// own). Appends "Protocol=7.4-0" to OdbcConnectionString unless the string
// sets Protocol (or its short form A1) already, or DataSourceProtocol, the
// Protocol line of the data source it names, is not empty: a setting the
// user made is kept. Returns whether the string changed.
bool AddPsqlodbcRollbackLevel(std::string& OdbcConnectionString,
                              std::string_view DataSourceProtocol);

// The contents of providers.ini.
class TProviderSettings {
 public:
  // ProgramFolder() + "../conf/providers.ini".
  static std::string DefaultPath();
  // Reads the file; a missing or unreadable file gives empty settings.
  static TProviderSettings Load(const std::string& Path);
  static TProviderSettings LoadDefault() { return Load(DefaultPath()); }
  static TProviderSettings FromText(std::string_view Text);

  // The lines of a section in file order ("Driver" included); empty when the
  // section is absent. Section names are matched without regard to case.
  const TKeyValueList& Section(std::string_view DatabaseType) const;
  // The section's Driver value, or the empty text.
  std::string Driver(std::string_view DatabaseType) const;

 private:
  std::vector<std::pair<std::string, TKeyValueList>> FSections;
};

enum class TDbBackend { SQLite, Odbc };

struct TDbRoute {
  TDbBackend Backend = TDbBackend::SQLite;
  std::string DatabaseType;          // "oracle", "sqlserver", "access", "odbc" or "db2"
  std::string FilePath;              // access: the database file ("\" taken as "/")
  std::string OdbcConnectionString;  // ODBC: the text for SQLDriverConnect
  std::string Description;           // where it leads, for messages; never the password
};

// Raises TDbError with a readable message for an empty or unknown provider,
// an empty Data Source, or an oracle/db2 string without a configured driver.
TDbRoute RouteConnectionString(std::string_view ConnectionString,
                               const TProviderSettings& Settings);

}  // namespace kelvor
