// The serialiser: writes event records, the data-packet head and the hello
// packet in the byte form the publishing server reads. Each record begins
// with a one-byte tag naming its layout and ends with the marker 0x7F7F;
// numbers are big-endian; a text is a 16-bit length and its bytes (at most
// 65535; longer texts are cut), and an absent text is not written at all.
//
// Writers never pass the end of the cursor's buffer. A record that does not
// fit is not written at all (the cursor stays where it was) and is reported
// to the caller: `NoRoom` from writeRecord, false from the typed writers.
//
// The object holds no mutable state; several event agents may serialise
// into their own buffers at the same time.
#pragma once

#include <cstdint>

#include "base/NamedObject.h"
#include "events/EventRecords.h"
#include "events/WireCursor.h"

enum class WriteResult {
  Written,      // the record is in the packet: count it
  Empty,        // an empty record: nothing written, nothing to count
  UnknownType,  // type 2 or outside 0..36: logged, nothing written
  NoRoom,       // the record does not fit in the room left: nothing written
};

// The values of the hello packet's identity record, gathered by the event
// agent on its own thread. Texts are NUL-terminated; a version text that
// does not yield three numbers sends 0 for the missing ones.
struct HelloIdentity {
  char productVersion[100] = "";
  char commandAgentID[256] = "";
  char nodeName[256] = "";
  char appServerName[256] = "";
  int32_t adminServerPort = 0;
};

class ProtocolVisitor : public NamedObject {
 public:
  using CounterSaver = void (*)(uint32_t token);

  // `saveCounter` receives the counter of every invoke-start correlation
  // record written (the start-up installs the counter file's saver); null
  // saves nothing.
  explicit ProtocolVisitor(CounterSaver saveCounter = nullptr);

  // Chooses the layout by the record's type and writes the record. The
  // record is not consumed; serialising an EJB begin record cuts its url at
  // the first "?" once the record is written.
  WriteResult writeRecord(EventRecord* record, WireCursor& cursor) const;

  // Also used by the event agent for the notices it builds while trimming;
  // writes the whole record or nothing.
  bool writeDropNotice(const DropNoticeRecord& r, WireCursor& c) const;

  // The 7-byte head of a data packet; the cursor stands at the packet start.
  bool writeCountRecord(uint32_t count, WireCursor& c) const;

  // The hello packet: the constant 2000 and the time record (clock read
  // now, or the given milliseconds since 1970), then the identity record.
  bool writeTimeRecord(WireCursor& c) const;
  bool writeTimeRecord(WireCursor& c, uint64_t millis) const;
  bool writeIdentityRecord(const HelloIdentity& identity, WireCursor& c) const;

 private:
  WriteResult untagged(const EventRecord& record) const;
  WriteResult writeRequestRecord(const EventRecord& record, WireCursor& cursor) const;

  // One writer per layout; each writes the whole record or nothing.
  bool writeClass(const ClassRecord& r, WireCursor& c) const;
  bool writeMethod(const MethodEventRecord& r, WireCursor& c) const;
  bool writeHttp(const HttpRequestRecord& r, WireCursor& c) const;
  bool writeEjb(const EjbRequestRecord& r, WireCursor& c) const;
  bool writeTrace(const TraceRequestRecord& r, WireCursor& c) const;
  bool writeSql(const SqlRecord& r, WireCursor& c) const;
  bool writeGc(const GcRecord& r, WireCursor& c) const;
  bool writeJms(const JmsRecord& r, WireCursor& c) const;
  bool writeJca(const JcaRecord& r, WireCursor& c) const;
  bool writeJndi(const JndiRecord& r, WireCursor& c) const;
  bool writeMail(const MailRecord& r, WireCursor& c) const;
  bool writeSamplingRates(const SamplingRatesRecord& r, WireCursor& c) const;
  bool writeCorrelation(const CorrelationRequestRecord& r, WireCursor& c) const;
  bool writeGxr(const GxrRecord& r, WireCursor& c) const;
  bool writeMqi(const MqiRecord& r, WireCursor& c) const;
  bool writePortalUser(const PortalUserRecord& r, WireCursor& c) const;
  bool writeCredentialVault(const CredentialVaultRecord& r, WireCursor& c) const;
  bool writeContentAccess(const ContentAccessRecord& r, WireCursor& c) const;
  bool writePortalPage(const RequestRecord& r, WireCursor& c) const;  // types 22, 23
  bool writePsStatus(const PsStatusRecord& r, WireCursor& c) const;
  bool writeException(const ExceptionRecord& r, WireCursor& c) const;
  bool writeMqRequest(const MqRequestRecord& r, WireCursor& c) const;
  bool writeMqMessage(const MqMessageRecord& r, WireCursor& c) const;
  bool writePortalRequest(const RequestRecord& r, WireCursor& c) const;  // types 28, 29
  bool writeHeapAllocation(const HeapAllocationRecord& r, WireCursor& c) const;
  bool writeLock(const LockRecord& r, WireCursor& c) const;  // types 31, 33
  bool writeLockDetail(const LockDetailRecord& r, WireCursor& c) const;
  bool writeGateway(const GatewayRecord& r, WireCursor& c) const;  // types 34..36

  CounterSaver saveCounter_;
};

// The process-wide serialiser: created by the custom-service start, destroyed
// by its shutdown; null outside that time.
extern ProtocolVisitor* protocolVisitor;

// The three numbers of a "major.minor.micro" version text read the way
// "%d.%d.%d" reads them; numbers that are not there are 0.
void parseProductVersion(const char* text, int numbers[3]);
