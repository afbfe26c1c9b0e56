// Records of the lock and heap-allocation analysis.
#pragma once

#include <cstdint>

#include "events/EventRecord.h"
#include "events/OwnedText.h"

// Type 30: subtype 0 start, 1 end.
class HeapAllocationRecord : public EventRecord {
 public:
  explicit HeapAllocationRecord(int subtype) : EventRecord(EVENT_HEAP_ALLOCATION, subtype, 64) {}

  uint32_t allocationId = 0;
  OwnedText name;
  uint32_t number2 = 0;
  // Sent as one byte in the head.
  int32_t depth = 0;
};

// Types 31 and 33, and the base of type 32.
class LockRecord : public EventRecord {
 public:
  LockRecord(int type, int subtype) : EventRecord(type, subtype, type == EVENT_LOCK_2 ? 80 : 64) {}

  uint32_t lockId = 0;
  OwnedText lockName;
  // Sent as one byte in the head.
  int32_t depth = 0;
};

// Type 32.
class LockDetailRecord : public LockRecord {
 public:
  explicit LockDetailRecord(int subtype) : LockRecord(EVENT_LOCK_2, subtype) {}

  uint8_t flag = 0;
  OwnedText text1;
  OwnedText text2;
  uint32_t number = 0;
};
