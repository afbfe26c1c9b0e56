// The base of every event record: one small heap object a producer fills on
// its own thread and appends to that thread's queue; an event agent later
// serialises and destroys it. Serialisation is chosen by `type`.
#pragma once

#include <cstdint>

class ClassEntry;

class EventRecord {
 public:
  EventRecord(int type, int subtype, int16_t defaultSize)
      : nominalSize(defaultSize), type(type), subtype(subtype) {}
  virtual ~EventRecord() = default;
  EventRecord(const EventRecord&) = delete;
  EventRecord& operator=(const EventRecord&) = delete;

  uint32_t threadId = 0;
  int64_t cpuTime = 0;
  uint32_t wallSeconds = 0;
  uint32_t wallMicros = 0;
  int16_t nominalSize;
  int32_t type;
  int32_t subtype;
};

// Subtypes.
enum : int32_t {
  SUBTYPE_BEGIN = 0,
  SUBTYPE_END = 1,
  SUBTYPE_ERROR = 2,
  SUBTYPE_CLASS_LOAD = 3,
  SUBTYPE_CLASS_UNLOAD = 4,
  SUBTYPE_SINGLE = 7,
};
