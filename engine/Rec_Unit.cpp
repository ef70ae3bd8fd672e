#include "engine/Rec_Unit.h"

namespace kelvor {

void TObuRec::Add(TObuFields Record) {
  FRecords.push_back(std::move(Record));
  FEof = false;
}

void TObuRec::First() {
  if (FRecords.empty()) {
    FEof = true;
    return;
  }
  FCursor = 0;
  FEof = false;
}

void TObuRec::Next() {
  if (FCursor + 1 < Count())
    ++FCursor;
  else
    FEof = true;
}

void TObuRec::Clear() {
  while (!FRecords.empty())
    FRecords.pop_back();
  Template.Clear();
  FCursor = -1;
  FEof = false;
}

size_t TObuRec::DataBytes() const {
  size_t n = 0;
  for (const auto& r : FRecords)
    n += r.DataBytes();
  return n;
}

}  // namespace kelvor
