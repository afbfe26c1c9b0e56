// Records that belong to no request: the empty record, garbage collection,
// the sampling rates and the drop notice.
#pragma once

#include <cstdint>

#include "events/EventRecord.h"

// Type 0: serialises to nothing.
class EmptyRecord : public EventRecord {
 public:
  explicit EmptyRecord(int subtype = 0) : EventRecord(EVENT_EMPTY, subtype, 0) {}
};

// Type 8: subtype 0 start (all counters 0), 1 finish.
class GcRecord : public EventRecord {
 public:
  explicit GcRecord(int subtype) : EventRecord(EVENT_GC, subtype, 72) {}

  int64_t usedObjects = 0;
  int64_t usedObjectSpace = 0;
  int64_t totalObjectSpace = 0;
};

// Type 13, subtype 7: the sampling rates and the value kept with them.
class SamplingRatesRecord : public EventRecord {
 public:
  explicit SamplingRatesRecord(int subtype) : EventRecord(EVENT_SAMPLING_RATES, subtype, 72) {}

  int32_t rates[4] = {0, 0, 0, 0};
  int32_t flag = 0;
};

// Type 15, subtype 7: how many records of a thread were dropped, by kind.
class DropNoticeRecord : public EventRecord {
 public:
  enum Count {
    OTHER_BEGIN = 0,
    OTHER_END = 1,
    METHOD_ENTRY = 2,
    METHOD_EXIT = 3,
    SQL_BEGIN = 4,
    SQL_END = 5,
    COUNT_KINDS = 6,
  };

  explicit DropNoticeRecord(int subtype) : EventRecord(EVENT_DROP_NOTICE, subtype, 72) {}

  // Counts a dropped record by its kind: begins (subtype 0) and ends
  // (subtype 1) of method records, of SQL records and of all others; other
  // subtypes count nowhere.
  void countDropped(const EventRecord& r) {
    int kind = r.type == EVENT_METHOD ? METHOD_ENTRY
               : r.type == EVENT_SQL  ? SQL_BEGIN
                                      : OTHER_BEGIN;
    if (r.subtype == SUBTYPE_BEGIN)
      counts[kind]++;
    else if (r.subtype == SUBTYPE_END)
      counts[kind + 1]++;
  }
  bool anyCounted() const {
    for (int32_t c : counts)
      if (c > 0) return true;
    return false;
  }

  int32_t counts[COUNT_KINDS] = {0, 0, 0, 0, 0, 0};
};
