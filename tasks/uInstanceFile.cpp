// The task file: writing the fixed layout and reading it back through the
// record's XML scanner.
#include <stdexcept>

#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "tasks/uInstance.h"
#include "xml/uXmlScanner.h"

namespace kelvor {

namespace {

// A value that does not convert ends the reading of the task file.
class TTaskFileConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int32_t ToInteger(const std::string& Name, const std::string& Text) {
  int32_t value;
  if (!TryStrToInt(Text, value))
    throw TTaskFileConvertError("'" + Text + "' is not a valid integer value for " + Name);
  return value;
}

std::string V(const std::string& Value) {
  return EscapeAttributeValue(Value);
}
std::string I(int32_t Value) {
  return std::to_string(Value);
}

}  // namespace

std::string TKelvorInstance::SaveToText() {
  std::string r;
  r += "<xml version=\"1.0\">\r\n";
  r += "  <data_operation mission_name=\"" + V(MissionName) + "\" version=\"" + V(Version) +
       "\" isactive=\"" + BoolToText(IsActive) + "\" note=\"" + V(Note) + "\" >\r\n";
  r += "  <mode_define mode=\"" + I(Mode) + "\" time_point=\"" + V(TimePoint) +
       "\" time_distance=\"" + I(TimeDistance) + "\" weekset=\"" + I(WeekSet) + "\" dayset=\"" +
       I(DaySet) + "\" schedulemode=\"" + I(ScheduleMode) + "\" checkcondition = \"" +
       V(CheckCondition) + "\" ></mode_define>\r\n";
  r += "  <db_src dbname=\"" + V(Source.DbName) + "\" dbuser=\"" + V(Source.DbUser) +
       "\" dbpwd=\"" + V(Source.DbPwd) + "\" dbtype=\"" + I(Source.DbType) + "\" dbserver=\"" +
       V(Source.DbServer) + "\" ></db_src>\r\n";
  r += "  <db_dst dbname=\"" + V(Destination.DbName) + "\" dbuser=\"" + V(Destination.DbUser) +
       "\" dbpwd=\"" + V(Destination.DbPwd) + "\" dbserver=\"" + V(Destination.DbServer) +
       "\" dbtype=\"" + I(Destination.DbType) + "\" ></db_dst>\r\n";
  r += FieldMaps.MapsToXml();
  r += "\r\n";
  r += "</data_operation>\r\n";
  r += "</xml>\r\n";
  return r;
}

bool TKelvorInstance::WriteTaskFile(const std::string& Path) {
  try {
    // Task files hold database passwords: readable by their owner only.
    return WriteFileAtomically(Path, SaveToText(), 0600);
  } catch (...) {
    return false;
  }
}

void TKelvorInstance::SaveToFile(const std::string& Path) {
  WriteTaskFile(Path);
}

void TKelvorInstance::DeleteTaskFile() {
  if (!FileName.empty() && FileExists(FileName)) DeleteFileIfExists(FileName);
}

bool TKelvorInstance::LoadFromFile(const std::string& Path) {
  FileName = Path;
  ReadProblem.clear();
  // A missing or unreadable file reads as an empty document.
  const bool readable = Scanner->LoadFromFile(Path);
  bool ok = true;
  try {
    Scanner->Execute();
  } catch (const std::exception& e) {
    ok = false;
    ReadProblem = std::string("reading stopped at a value that does not convert: ") + e.what();
  } catch (...) {
    ok = false;
    ReadProblem = "reading stopped at an error";
  }
  // What was read of a file cut short looks like a whole task with fewer
  // fields; only a document whose root element closed is taken as complete.
  if (ok) {
    if (!readable)
      ReadProblem = "the file cannot be read";
    else if (!Scanner->RootSeen())
      ReadProblem =
          "the file holds no task definition (it is empty, cut before its first "
          "element, or not a task file)";
    else if (!Scanner->RootClosed())
      ReadProblem = "the file ends before its root element closes (it was cut short)";
  }
  Scanner->LoadFromText(std::string_view());  // the document is not kept
  return ok;
}

void TKelvorInstance::StartElement(const std::string& TagName, const TAttrList& Attributes) {
  CurrentElement = UpperCase(TagName);
  const std::string& e = CurrentElement;
  TSyncDataSource* side = e == "DB_SRC" ? &Source : e == "DB_DST" ? &Destination : nullptr;
  std::unique_ptr<TFieldMap> field;
  if (e == "FIELD") field = std::make_unique<TFieldMap>();
  bool hasCommand = false, hasExactCommand = false;
  std::string command, exactCommand;
  if (e != "DATA_OPERATION" && e != "MODE_DEFINE" && !side && e != "MAPS" && e != "SCRIPT" &&
      e != "DST_TABLE" && e != "FIELDS" && !field)
    return;  // VALIDATION and unknown elements carry nothing

  for (int i = 0; i < Attributes.Count(); ++i) {
    const TAttr* a = Attributes.Item(i);
    const std::string name = LowerCase(a->Name);
    const std::string& value = a->Value;
    if (e == "DATA_OPERATION") {
      if (name == "mission_name")
        MissionName = value;
      else if (name == "version")
        Version = value;
      else if (name == "isactive")
        IsActive = TextToBool(value);
      else if (name == "note")
        Note = value;
    } else if (e == "MODE_DEFINE") {
      if (name == "mode")
        Mode = ToInteger(name, value);
      else if (name == "time_point")
        TimePoint = value;
      else if (name == "time_distance")
        TimeDistance = ToInteger(name, value);
      else if (name == "schedulemode")
        ScheduleMode = ToInteger(name, value);
      else if (name == "weekset")
        WeekSet = ToInteger(name, value);
      else if (name == "dayset")
        DaySet = ToInteger(name, value);
      else if (name == "checkcondition")
        CheckCondition = value;
    } else if (side) {
      if (name == "dbname")
        side->DbName = value;
      else if (name == "dbuser")
        side->DbUser = value;
      else if (name == "dbpwd")
        side->DbPwd = value;
      else if (name == "dbserver")
        side->DbServer = value;
      else if (name == "dbtype")
        side->DbType = ToInteger(name, value);
    } else if (e == "MAPS") {
      if (name == "namespace") FieldMaps.Namespace = value;
    } else if (e == "SCRIPT") {
      if (name == "command") {
        hasCommand = true;
        command = value;
      } else if (name == "commandtext") {
        hasExactCommand = true;
        exactCommand = value;
      } else if (name == "validationsrc")
        FieldMaps.SetValidationSrc(value);
      else if (name == "validationdst")
        FieldMaps.SetValidationDst(value);
    } else if (e == "DST_TABLE") {
      if (name == "name")
        FieldMaps.DstTable = value;
      else if (name == "operationtype")
        FieldMaps.OperationType = ToInteger(name, value);
    } else if (e == "FIELDS") {
      if (name == "count") ToInteger(name, value);  // checked, not used
    } else if (field) {
      if (name == "src")
        field->Src = value;
      else if (name == "dst")
        field->Dst = value;
      else if (name == "fieldtype")
        field->FieldType = value;
      else if (name == "fieldlen") {
        int32_t len = 0;
        field->FieldLen = TryStrToInt(value, len) ? len : 0;
      } else if (name == "iskey")
        field->IsKey = TextToBool(value);
    }
  }
  if (hasCommand)
    FieldMaps.SetCommand(TFieldMapCollections::CommandFromAttributes(
        command, hasExactCommand ? &exactCommand : nullptr));
  if (field) FieldMaps.Add(std::move(field));
}

}  // namespace kelvor
