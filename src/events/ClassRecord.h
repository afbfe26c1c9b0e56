// Type 1: a class announced to the collector (subtype 3, with its methods)
// or unloaded (subtype 4).
#pragma once

#include "events/ClassEntry.h"
#include "events/EventRecord.h"

class ClassRecord : public EventRecord {
 public:
  explicit ClassRecord(int subtype) : EventRecord(EVENT_CLASS, subtype, 96) {}
  // A detached copy (copy flag set) belongs to this record and goes with it;
  // a table entry set through holdEntry is let go (ClassEntry.h).
  ~ClassRecord() override {
    if (classEntry && classEntry->copyFlag) {
      delete classEntry;
    } else if (classEntry && held) {
      if (retiresEntry) retireClassEntry(classEntry);
      releaseClassEntry(classEntry);
    }
    classEntry = nullptr;
  }

  // Points the record at a table entry and keeps the entry alive until the
  // record is destroyed. The caller makes sure the entry is alive meanwhile
  // (it holds the class-table lock, or a method-table guard).
  void holdEntry(ClassEntry* entry) {
    holdClassEntry(entry);
    classEntry = entry;
    held = true;
  }

  ClassEntry* classEntry = nullptr;
  bool held = false;
  // The record of an unload reported from Java: the held entry leaves the
  // tables when the record is destroyed.
  bool retiresEntry = false;
};
