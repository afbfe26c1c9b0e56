// Type 3: a method entered (subtype 0) or left (subtype 1).
#pragma once

#include "events/EventRecord.h"

class MethodEventRecord : public EventRecord {
 public:
  explicit MethodEventRecord(int subtype) : EventRecord(EVENT_METHOD, subtype, 64) {}

  uint32_t methodId = 0;
};
