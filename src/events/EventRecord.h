// The base of every event record: one small heap object a producer fills on
// its own thread and appends to that thread's queue; an event agent later
// serialises and destroys it. Serialisation is chosen by `type`, which the
// record's constructor sets and nobody changes afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "events/RecordArena.h"

class ClassEntry;

class EventRecord {
 public:
  EventRecord(int type, int subtype, int16_t defaultSize)
      : nominalSize(defaultSize), type(type), subtype(subtype), accountedSize(defaultSize) {}
  virtual ~EventRecord() = default;
  EventRecord(const EventRecord&) = delete;
  EventRecord& operator=(const EventRecord&) = delete;

  // Records live in blocks of RecordArena: on their own, or carved from the
  // making thread's arena (`new (arena) R(...)`, null when memory could not
  // be had). A record is deleted the same way however it was made.
  static void* operator new(size_t bytes) {
    if (void* block = RecordArena::allocate(nullptr, bytes)) return block;
    throw std::bad_alloc();
  }
  static void* operator new(size_t bytes, const std::nothrow_t&) noexcept {
    return RecordArena::allocate(nullptr, bytes);
  }
  static void* operator new(size_t bytes, RecordArena* arena) noexcept {
    return RecordArena::allocate(arena, bytes);
  }
  static void operator delete(void* block) noexcept { RecordArena::release(block); }
  static void operator delete(void* block, const std::nothrow_t&) noexcept {
    RecordArena::release(block);
  }
  static void operator delete(void* block, RecordArena*) noexcept { RecordArena::release(block); }

  // Destroys a record as delete does, its block released through
  // `releaser` (records a drain took off together mostly share a slab).
  static void destroy(EventRecord* record, RecordArena::Releaser& releaser) {
    if (!record) return;
    // The block begins at the most derived object, which delete would free.
    void* block = dynamic_cast<void*>(record);
    record->~EventRecord();
    releaser.release(block);
  }

  uint32_t threadId = 0;
  int64_t cpuTime = 0;
  uint32_t wallSeconds = 0;
  uint32_t wallMicros = 0;
  int16_t nominalSize;
  int32_t type;
  int32_t subtype;

  // The bytes the record really occupies (its allocation and its texts'),
  // which the queues sum for the memory gate. The 16-bit nominalSize keeps
  // the estimate it is given by its producer; a record whose producer knows
  // no better counts its nominal size here too.
  int32_t accountedSize;

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
