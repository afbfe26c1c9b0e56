// Single portal records of fixed size whose fields are numbers from the
// Java side: logins and access control, the credential vault, content
// access, and the gateway-servlet, model-building and page-loading timings.
#pragma once

#include <cstdint>

#include "events/EventRecord.h"

// Types 18 (login) and 19 (access control).
class PortalUserRecord : public EventRecord {
 public:
  PortalUserRecord(int type, int subtype) : EventRecord(type, subtype, 64) {}

  uint32_t number = 0;
  int64_t value = 0;
};

// Type 20: five pairs of a count and a total.
class CredentialVaultRecord : public EventRecord {
 public:
  explicit CredentialVaultRecord(int subtype) : EventRecord(EVENT_CREDENTIAL_VAULT, subtype, 128) {}

  uint32_t counts[5] = {0, 0, 0, 0, 0};
  int64_t totals[5] = {0, 0, 0, 0, 0};
};

// Type 21: four pairs of a count and a total.
class ContentAccessRecord : public EventRecord {
 public:
  explicit ContentAccessRecord(int subtype) : EventRecord(EVENT_CONTENT_ACCESS, subtype, 112) {}

  uint32_t counts[4] = {0, 0, 0, 0};
  int64_t totals[4] = {0, 0, 0, 0};
};

// Types 34 (gateway servlet), 35 (model building) and 36 (page loading).
class GatewayRecord : public EventRecord {
 public:
  GatewayRecord(int type, int subtype) : EventRecord(type, subtype, 64) {}

  uint32_t number = 0;
  int64_t value = 0;
};
