// TObuRec: the source rows of one run, held in memory, with a cursor.
//
// Owns its records and its Template (one field per mapping: name, type, size
// and key flag, no value), from which every record is cloned. Records are
// kept in a deque so that growing the set never copies the records already
// read. Not thread-safe: a record set belongs to the run that read it.
#pragma once

#include <deque>

#include "engine/Field_Unit.h"

namespace kelvor {

class TObuRec {
 public:
  TObuFields Template;

  // Appends a record; Eof becomes false.
  void Add(TObuFields Record);
  // To the first record; Eof when there is none.
  void First();
  // To the next record; past the last one Eof becomes true and Current stays.
  void Next();
  bool Eof() const { return FEof; }
  int Count() const { return static_cast<int>(FRecords.size()); }
  // The record at the cursor; nullptr before the first First.
  TObuFields* Current() { return FCursor < 0 ? nullptr : &FRecords[static_cast<size_t>(FCursor)]; }
  TObuFields& Record(int Index) { return FRecords[static_cast<size_t>(Index)]; }
  // Frees every record and the Template's fields.
  void Clear();

  // Bytes of value text held by all records (for memory accounting).
  size_t DataBytes() const;

 private:
  std::deque<TObuFields> FRecords;
  int FCursor = -1;
  bool FEof = false;
};

}  // namespace kelvor
