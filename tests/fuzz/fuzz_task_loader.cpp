// Fuzzes the task file loader: any bytes read as a task file, then the
// record written out and read back. Reading must never crash, leak or hang,
// and one write/read cycle must reach a fixed point: what a task file holds
// after being read once is written and read back without further change.
// The same bytes taken as a command must come back from a write and a read
// byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tasks/uInstance.h"
#include "xml/uXmlScanner.h"

namespace {

std::string Cycle(const std::string& Text) {
  kelvor::TKelvorInstance task;
  task.Scanner->LoadFromText(Text);
  try {
    task.Scanner->Execute();
  } catch (...) {
  }
  return task.SaveToText();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kelvor::TKelvorInstance task;
  task.Scanner->LoadFromBuffer(reinterpret_cast<const char*>(Data), Size);
  try {
    task.Scanner->Execute();
  } catch (...) {
    // A value that does not convert ends reading; what was read stays.
  }
  const std::string once = Cycle(task.SaveToText());
  const std::string twice = Cycle(once);
  if (once != twice) std::abort();

  const std::string command(reinterpret_cast<const char*>(Data), Size);
  kelvor::TKelvorInstance written;
  written.FieldMaps.SetCommand(command);
  kelvor::TKelvorInstance read;
  read.Scanner->LoadFromText(written.SaveToText());
  read.Scanner->Execute();  // a written file always converts
  if (read.FieldMaps.GetCommand() != command) std::abort();
  return 0;
}
