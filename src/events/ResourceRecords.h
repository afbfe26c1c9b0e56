// Begin and end records of the resources a request uses: SQL statements,
// JMS operations, JCA interactions, JNDI lookups and Mail sends.
#pragma once

#include <cstdint>

#include "events/EventRecord.h"
#include "events/OwnedText.h"

// Type 7. End records leave both texts absent.
class SqlRecord : public EventRecord {
 public:
  explicit SqlRecord(int subtype) : EventRecord(EVENT_SQL, subtype, 64) {}

  OwnedText dataSourceName;
  OwnedText sqlText;
  int32_t depth = 0;
};

// Type 9. The kind (1 to 4) chooses the tag; `text3` is sent only for kinds
// 1 and 2.
class JmsRecord : public EventRecord {
 public:
  explicit JmsRecord(int subtype) : EventRecord(EVENT_JMS, subtype, 72) {}

  int32_t depth = 0;
  int32_t kind = 3;
  OwnedText destination;
  OwnedText text2;
  OwnedText text3;
};

// Type 10.
class JcaRecord : public EventRecord {
 public:
  explicit JcaRecord(int subtype) : EventRecord(EVENT_JCA, subtype, 56) {}

  int32_t depth = 0;
  OwnedText name;
};

// Type 11.
class JndiRecord : public EventRecord {
 public:
  explicit JndiRecord(int subtype) : EventRecord(EVENT_JNDI, subtype, 64) {}

  int32_t depth = 0;
  OwnedText name;
  OwnedText text2;
};

// Type 12.
class MailRecord : public EventRecord {
 public:
  explicit MailRecord(int subtype) : EventRecord(EVENT_MAIL, subtype, 64) {}

  int32_t depth = 0;
  OwnedText name;
  OwnedText text2;
};
