// Type 1: a class announced to the collector (subtype 3, with its methods)
// or unloaded (subtype 4).
#pragma once

#include "events/ClassEntry.h"
#include "events/EventRecord.h"

class ClassRecord : public EventRecord {
 public:
  explicit ClassRecord(int subtype) : EventRecord(EVENT_CLASS, subtype, 96) {}
  // A table entry belongs to the class table; a detached copy (copy flag set)
  // belongs to this record and goes with it.
  ~ClassRecord() override {
    if (classEntry && classEntry->copyFlag) delete classEntry;
    classEntry = nullptr;
  }

  ClassEntry* classEntry = nullptr;
};
