// The request-record layout shared by HTTP, EJB, trace, correlation, portal
// page, portlet, MQ and the two further portal request records, and the
// classes built on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "events/EventRecord.h"
#include "events/OwnedText.h"

// Types 4, 5, 6, 14, 22, 23, 26, 27, 28 and 29. Used as it is for 28 and 29;
// the others have classes of their own below.
class RequestRecord : public EventRecord {
 public:
  RequestRecord(int type, int subtype) : EventRecord(type, subtype, 72) {
    accountedSize = static_cast<int32_t>(RecordArena::ownFootprint(sizeof(RequestRecord)));
  }

  // A record of class R made in one block with `spare` bytes after it, in
  // which placeText stores the record's texts; the block is carved from
  // `arena` when one is given (the calling thread's own). Null when memory
  // could not be had. Records made by a plain new have no spare bytes.
  template <class R, class... Args>
  static R* make(RecordArena* arena, size_t spare, Args... args) {
    size_t footprint = 0;
    void* block = RecordArena::allocate(arena, sizeof(R) + spare, &footprint);
    if (!block) return nullptr;
    R* record = ::new (block) R(args...);
    record->spare_ = static_cast<char*>(block) + sizeof(R);
    record->spareLeft_ = spare;
    record->accountedSize = static_cast<int32_t>(footprint);
    return record;
  }

  // Replaces the text by a copy of `length` bytes and a terminator, in the
  // spare bytes while they hold it, otherwise in an allocation of its own.
  // False when memory could not be had (the text is then absent).
  bool placeText(OwnedText& field, const char* bytes, size_t length) {
    if (length < spareLeft_) {
      field.assignInPlace(spare_, bytes, length);
      spare_ += length + 1;
      spareLeft_ -= length + 1;
      return true;
    }
    if (!field.assign(bytes, length)) return false;
    accountedSize += static_cast<int32_t>(allocationFootprint(length + 1));
    return true;
  }

  OwnedText requestName;
  OwnedText applicationName;
  OwnedText url;
  OwnedText detail;
  // The thread's request nesting depth.
  int32_t depth = 0;

 private:
  char* spare_ = nullptr;
  size_t spareLeft_ = 0;
};

// Type 4: subtype 0 start, 1 finish, 2 error.
class HttpRequestRecord : public RequestRecord {
 public:
  explicit HttpRequestRecord(int subtype) : RequestRecord(EVENT_HTTP, subtype) {}
};

// Type 5. A begin record's url goes out cut at its first "?" (the record
// keeps the whole url, with which the names are compared).
class EjbRequestRecord : public RequestRecord {
 public:
  explicit EjbRequestRecord(int subtype) : RequestRecord(EVENT_EJB, subtype) {}
};

// Type 6, subtype 7.
class TraceRequestRecord : public RequestRecord {
 public:
  explicit TraceRequestRecord(int subtype) : RequestRecord(EVENT_TRACE, subtype) {}
};

// Type 14: subtypes 0 and 1 for an outgoing call, 5 and 6 for an incoming
// one. The first text of the layout holds the correlation token, so the
// common request completion that fills the request name fills the token.
class CorrelationRequestRecord : public RequestRecord {
 public:
  explicit CorrelationRequestRecord(int subtype)
      : RequestRecord(EVENT_CORRELATION, subtype), token(requestName) {}

  // The token bytes: 4 for a generated token, the received text otherwise.
  OwnedText& token;
  // The counter value of a generated token, handed to the counter file
  // after the invoke-start record has been written.
  uint32_t tokenCounter = 0;
};

// Type 22: subtype 0 start, 1 end.
class PortalPageRequestRecord : public RequestRecord {
 public:
  explicit PortalPageRequestRecord(int subtype) : RequestRecord(EVENT_PORTAL_PAGE, subtype) {}
};

// Type 23: subtype 0 start, 1 end.
class PortletRequestRecord : public RequestRecord {
 public:
  explicit PortletRequestRecord(int subtype) : RequestRecord(EVENT_PORTLET, subtype) {}
};

// Type 26. Its head carries `depth`, the MQ nesting depth.
class MqRequestRecord : public RequestRecord {
 public:
  explicit MqRequestRecord(int subtype) : RequestRecord(EVENT_MQ_REQUEST, subtype) {}

  int32_t code = 0;
  OwnedText queueManager;
  OwnedText queueName;
};

// Type 27: the content of an MQ message. Its head carries `depth`.
class MqMessageRecord : public RequestRecord {
 public:
  explicit MqMessageRecord(int subtype) : RequestRecord(EVENT_MQ_MESSAGE, subtype) {}

  OwnedText messageId;
  std::unique_ptr<uint8_t[]> message;
  // 7, 10, 11 or 13 as the MQ native passes them.
  int32_t operation = 0;
  // The number of bytes in `message`.
  int32_t messageLength = 0;
};
