// The base of every event record: one small heap object a producer fills on
// its own thread and appends to that thread's queue; an event agent later
// serialises and destroys it. Serialisation is chosen by `type`, which the
// record's constructor sets and nobody changes afterwards.
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

  // The link of the queue the record is in (EventQueue); null outside one.
  // The record is its own queue node, so queueing allocates nothing.
  EventRecord* queueNext = nullptr;
};

// Subtypes.
enum : int32_t {
  SUBTYPE_BEGIN = 0,
  SUBTYPE_END = 1,
  SUBTYPE_ERROR = 2,
  SUBTYPE_CLASS_LOAD = 3,
  SUBTYPE_CLASS_UNLOAD = 4,
  // The two further correlation points: an incoming call starts, completes.
  SUBTYPE_RECEIVE_BEGIN = 5,
  SUBTYPE_RECEIVE_END = 6,
  SUBTYPE_SINGLE = 7,
};

// Record types. 2 is unassigned; the serialiser rejects it.
enum : int32_t {
  EVENT_EMPTY = 0,
  EVENT_CLASS = 1,
  EVENT_METHOD = 3,
  EVENT_HTTP = 4,
  EVENT_EJB = 5,
  EVENT_TRACE = 6,
  EVENT_SQL = 7,
  EVENT_GC = 8,
  EVENT_JMS = 9,
  EVENT_JCA = 10,
  EVENT_JNDI = 11,
  EVENT_MAIL = 12,
  EVENT_SAMPLING_RATES = 13,
  EVENT_CORRELATION = 14,
  EVENT_DROP_NOTICE = 15,
  EVENT_GXR = 16,
  EVENT_MQI = 17,
  EVENT_PORTAL_LOGIN = 18,
  EVENT_PORTAL_ACCESS_CONTROL = 19,
  EVENT_CREDENTIAL_VAULT = 20,
  EVENT_CONTENT_ACCESS = 21,
  EVENT_PORTAL_PAGE = 22,
  EVENT_PORTLET = 23,
  EVENT_PS_STATUS = 24,
  EVENT_EXCEPTION = 25,
  EVENT_MQ_REQUEST = 26,
  EVENT_MQ_MESSAGE = 27,
  EVENT_PORTAL_REQUEST_3 = 28,
  EVENT_PORTAL_REQUEST_4 = 29,
  EVENT_HEAP_ALLOCATION = 30,
  EVENT_LOCK_1 = 31,
  EVENT_LOCK_2 = 32,
  EVENT_LOCK_3 = 33,
  EVENT_GATEWAY_SERVLET = 34,
  EVENT_MODEL_BUILDING = 35,
  EVENT_PAGE_LOADING = 36,
};
