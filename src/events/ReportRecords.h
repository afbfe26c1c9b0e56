// Single records reported by the agent's Java hooks: gateway calls, batches
// of MQ interface calls, publishing-server status and exceptions.
#pragma once

#include <cstdint>
#include <memory>

#include "events/EventRecord.h"
#include "events/OwnedText.h"

// Type 16, subtype 7: three texts and three values in the order the gateway
// native passes them.
class GxrRecord : public EventRecord {
 public:
  explicit GxrRecord(int subtype) : EventRecord(EVENT_GXR, subtype, 88) {}

  OwnedText text1;
  OwnedText text2;
  OwnedText text3;
  int64_t value1 = 0;
  uint32_t number = 0;
  int64_t value2 = 0;
};

// Type 17, subtype 7: two texts, a value, and three arrays of `count`
// elements each.
class MqiRecord : public EventRecord {
 public:
  explicit MqiRecord(int subtype) : EventRecord(EVENT_MQI, subtype, 80) {}

  OwnedText text1;
  OwnedText text2;
  int64_t value = 0;
  std::unique_ptr<uint8_t[]> ops;
  std::unique_ptr<uint32_t[]> values;
  std::unique_ptr<int64_t[]> times;
  int32_t count = 0;
};

// Type 24, subtype 7.
class PsStatusRecord : public EventRecord {
 public:
  explicit PsStatusRecord(int subtype) : EventRecord(EVENT_PS_STATUS, subtype, 56) {}

  OwnedText status;
};

// Type 25, subtype 7: four texts in the order the exception native passes
// them.
class ExceptionRecord : public EventRecord {
 public:
  explicit ExceptionRecord(int subtype) : EventRecord(EVENT_EXCEPTION, subtype, 64) {}

  OwnedText text1;
  OwnedText text2;
  OwnedText text3;
  OwnedText text4;
};
