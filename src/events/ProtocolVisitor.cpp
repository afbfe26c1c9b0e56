#include "events/ProtocolVisitor.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/Log.h"
#include "base/ModifiedUtf8.h"
#include "config/ProbeState.h"
#include "platform/os.h"

ProtocolVisitor* protocolVisitor = nullptr;

namespace {

constexpr const char* UNIT = "ProtocolVisitor";
constexpr uint32_t END_MARKER = 0x7F7F;
// The largest text a 16-bit length can announce; longer texts are cut.
constexpr size_t TEXT_LIMIT = 65535;

// Tags of the records whose layout does not depend on the subtype.
enum : uint32_t {
  TAG_COUNT = 0,
  TAG_CLASS_LOAD = 1,
  TAG_METHOD_ENTRY = 2,
  TAG_METHOD_EXIT = 3,
  TAG_HTTP_START = 4,
  TAG_HTTP_FINISH = 5,
  TAG_EJB_BEGIN = 6,
  TAG_EJB_END = 7,
  TAG_TRACE = 8,
  TAG_SQL_BEGIN = 9,
  TAG_SQL_END = 10,
  TAG_DROP_NOTICE = 11,
  TAG_CLASS_UNLOAD = 12,
  TAG_GC_START = 13,
  TAG_GC_FINISH = 14,
  TAG_JNDI_BEGIN = 33,
  TAG_JNDI_END = 34,
  TAG_MAIL_BEGIN = 35,
  TAG_MAIL_END = 36,
  TAG_JCA_BEGIN = 37,
  TAG_JCA_END = 38,
  TAG_SAMPLING_RATES = 39,
  TAG_GXR = 40,
  TAG_MQI = 41,
  TAG_PS_STATUS = 44,
  TAG_EXCEPTION = 45,
  TAG_HTTP_ERROR = 50,
  TAG_CREDENTIAL_VAULT = 63,
  TAG_CONTENT_ACCESS = 64,
  TAG_TIME = 100,
  TAG_IDENTITY = 101,
  TAG_MQ_BEGIN = 110,
  TAG_MQ_END = 111,
  TAG_HEAP_BEGIN = 124,
  TAG_HEAP_END = 125,
};

constexpr uint32_t HELLO_CONSTANT = 2000;
constexpr uint32_t PLATFORM_CODE = 1;
constexpr uint32_t IDENTITY_MARK = 200;
constexpr const char* NO_CLUSTER_NAME = "<NO CLUSTER NAME>";

uint32_t beginOrEnd(int32_t subtype, uint32_t beginTag, uint32_t endTag) {
  return subtype == SUBTYPE_BEGIN ? beginTag : endTag;
}

void text(WireCursor& c, const char* s, size_t length) {
  if (!s) return;  // an absent text is not written at all
  if (length > TEXT_LIMIT) length = wholeCharacterLength(s, length, TEXT_LIMIT);
  uint8_t* p = c.claim(2 + length);
  if (!p) return;
  p = WireCursor::put16(p, static_cast<uint32_t>(length));
  if (length > 0) std::memcpy(p, s, length);
}

void text(WireCursor& c, const OwnedText& t) {
  text(c, t.get(), t.length());
}

// A name of the class table: a missing copy goes out as an empty text so the
// method list that follows stays readable.
void tableText(WireCursor& c, const char* s) {
  if (!s) s = "";
  text(c, s, std::strlen(s));
}

// The common head of request-like records.
void head(WireCursor& c, const EventRecord& r, int32_t depth) {
  uint8_t* p = c.claim(21);
  if (!p) return;
  p = WireCursor::put32(p, r.threadId);
  p = WireCursor::put8(p, static_cast<uint32_t>(depth));
  p = WireCursor::put32(p, r.wallSeconds);
  p = WireCursor::put32(p, r.wallMicros);
  WireCursor::put64(p, static_cast<uint64_t>(r.cpuTime));
}

void mod(WireCursor& c) {
  c.u8(static_cast<uint32_t>(modLevel.load(std::memory_order_relaxed)));
}

void end(WireCursor& c) {
  c.u16(END_MARKER);
}

// The MOD byte and the end marker, the close of most request records.
void modEnd(WireCursor& c) {
  uint8_t* p = c.claim(3);
  if (!p) return;
  p = WireCursor::put8(p, static_cast<uint32_t>(modLevel.load(std::memory_order_relaxed)));
  WireCursor::put16(p, END_MARKER);
}

bool sameText(const OwnedText& a, const char* b, size_t bLength) {
  return a.present() && b && a.length() == bLength && std::memcmp(a.get(), b, bLength) == 0;
}

// The names flag and the two names: when both names equal the url, the flag
// is 0 and the names go out empty.
void names(WireCursor& c, const RequestRecord& r, const char* url, size_t urlLength) {
  if (sameText(r.requestName, url, urlLength) && sameText(r.applicationName, url, urlLength)) {
    c.u8(0);
    c.u16(0);
    c.u16(0);
  } else {
    c.u8(1);
    text(c, r.requestName);
    text(c, r.applicationName);
  }
}

// A text of a fixed field, which may lack its terminator.
void fixedText(WireCursor& c, const char* s, size_t size) {
  text(c, s, strnlen(s, size));
}

}  // namespace

void parseProductVersion(const char* textValue, int numbers[3]) {
  numbers[0] = numbers[1] = numbers[2] = 0;
  if (!textValue) return;
  const char* p = textValue;
  for (int i = 0; i < 3; i++) {
    if (i > 0) {
      if (*p != '.') return;
      p++;
    }
    char* after = nullptr;
    errno = 0;
    long value = std::strtol(p, &after, 10);
    if (after == p) return;
    if (value > INT_MAX) value = INT_MAX;
    if (value < INT_MIN) value = INT_MIN;
    numbers[i] = static_cast<int>(value);
    p = after;
  }
}

ProtocolVisitor::ProtocolVisitor(CounterSaver saveCounter)
    : NamedObject("ProtocolVisitor"), saveCounter_(saveCounter) {}

// A JMS record of an unknown kind, an MQ message of an unknown operation or a
// correlation record of an unknown subtype has no tag of its own. Written with tag 0 it would read
// as a packet head and derail the collector's decoding of everything after it, so it is left out.
WriteResult ProtocolVisitor::untagged(const EventRecord& record) const {
  logf(LOG_WARNING, "ProtocolVisitor", __LINE__,
       "Record of type %d has no tag for its kind, not sent", static_cast<int>(record.type));
  return WriteResult::Empty;
}

WriteResult ProtocolVisitor::writeRecord(EventRecord* record, WireCursor& c) const {
  if (!record) return WriteResult::Empty;
  bool ok;
  switch (record->type) {
    case EVENT_EMPTY:
      return WriteResult::Empty;
    case EVENT_CLASS: {
      const auto& r = static_cast<const ClassRecord&>(*record);
      if (!r.classEntry) return WriteResult::Empty;
      ok = writeClass(r, c);
      break;
    }
    case EVENT_METHOD:
      ok = writeMethod(static_cast<const MethodEventRecord&>(*record), c);
      break;
    case EVENT_GC:
      ok = writeGc(static_cast<const GcRecord&>(*record), c);
      break;
    case EVENT_SAMPLING_RATES:
      ok = writeSamplingRates(static_cast<const SamplingRatesRecord&>(*record), c);
      break;
    case EVENT_DROP_NOTICE:
      ok = writeDropNotice(static_cast<const DropNoticeRecord&>(*record), c);
      break;
    case EVENT_PS_STATUS:
      ok = writePsStatus(static_cast<const PsStatusRecord&>(*record), c);
      break;
    case EVENT_EXCEPTION:
      ok = writeException(static_cast<const ExceptionRecord&>(*record), c);
      break;
    case EVENT_HEAP_ALLOCATION:
      ok = writeHeapAllocation(static_cast<const HeapAllocationRecord&>(*record), c);
      break;
    case EVENT_LOCK_1:
    case EVENT_LOCK_3:
      ok = writeLock(static_cast<const LockRecord&>(*record), c);
      break;
    case EVENT_LOCK_2:
      ok = writeLockDetail(static_cast<const LockDetailRecord&>(*record), c);
      break;
    case EVENT_CREDENTIAL_VAULT:
      ok = writeCredentialVault(static_cast<const CredentialVaultRecord&>(*record), c);
      break;
    case EVENT_CONTENT_ACCESS:
      ok = writeContentAccess(static_cast<const ContentAccessRecord&>(*record), c);
      break;
    default:
      return writeRequestRecord(*record, c);
  }
  return ok ? WriteResult::Written : WriteResult::NoRoom;
}

// The records of monitored requests and of the calls nested in them.
WriteResult ProtocolVisitor::writeRequestRecord(const EventRecord& record, WireCursor& c) const {
  bool ok;
  switch (record.type) {
    case EVENT_HTTP:
      ok = writeHttp(static_cast<const HttpRequestRecord&>(record), c);
      break;
    case EVENT_EJB:
      ok = writeEjb(static_cast<const EjbRequestRecord&>(record), c);
      break;
    case EVENT_TRACE:
      ok = writeTrace(static_cast<const TraceRequestRecord&>(record), c);
      break;
    case EVENT_SQL:
      ok = writeSql(static_cast<const SqlRecord&>(record), c);
      break;
    case EVENT_JMS: {
      const auto& r = static_cast<const JmsRecord&>(record);
      if (r.kind < 1 || r.kind > 4) return untagged(r);
      ok = writeJms(r, c);
      break;
    }
    case EVENT_JCA:
      ok = writeJca(static_cast<const JcaRecord&>(record), c);
      break;
    case EVENT_JNDI:
      ok = writeJndi(static_cast<const JndiRecord&>(record), c);
      break;
    case EVENT_MAIL:
      ok = writeMail(static_cast<const MailRecord&>(record), c);
      break;
    case EVENT_CORRELATION: {
      const auto& r = static_cast<const CorrelationRequestRecord&>(record);
      if (r.subtype != SUBTYPE_BEGIN && r.subtype != SUBTYPE_END &&
          r.subtype != SUBTYPE_RECEIVE_BEGIN && r.subtype != SUBTYPE_RECEIVE_END)
        return untagged(r);
      ok = writeCorrelation(r, c);
      break;
    }
    case EVENT_GXR:
      ok = writeGxr(static_cast<const GxrRecord&>(record), c);
      break;
    case EVENT_MQI:
      ok = writeMqi(static_cast<const MqiRecord&>(record), c);
      break;
    case EVENT_PORTAL_LOGIN:
    case EVENT_PORTAL_ACCESS_CONTROL:
      ok = writePortalUser(static_cast<const PortalUserRecord&>(record), c);
      break;
    case EVENT_PORTAL_PAGE:
    case EVENT_PORTLET:
      ok = writePortalPage(static_cast<const RequestRecord&>(record), c);
      break;
    case EVENT_MQ_REQUEST:
      ok = writeMqRequest(static_cast<const MqRequestRecord&>(record), c);
      break;
    case EVENT_MQ_MESSAGE: {
      const auto& r = static_cast<const MqMessageRecord&>(record);
      if (r.operation != 7 && r.operation != 10 && r.operation != 11 && r.operation != 13)
        return untagged(r);
      ok = writeMqMessage(r, c);
      break;
    }
    case EVENT_PORTAL_REQUEST_3:
    case EVENT_PORTAL_REQUEST_4:
      ok = writePortalRequest(static_cast<const RequestRecord&>(record), c);
      break;
    case EVENT_GATEWAY_SERVLET:
    case EVENT_MODEL_BUILDING:
    case EVENT_PAGE_LOADING:
      ok = writeGateway(static_cast<const GatewayRecord&>(record), c);
      break;
    default:
      logf(LOG_WARNING, UNIT, __LINE__, "## ERROR: Unknown Event Type, TypeID: %d", record.type);
      return WriteResult::UnknownType;
  }
  return ok ? WriteResult::Written : WriteResult::NoRoom;
}

bool ProtocolVisitor::writeClass(const ClassRecord& r, WireCursor& c) const {
  const ClassEntry* e = r.classEntry;
  if (!e) return true;
  uint8_t* m = c.mark();
  // A count without its array goes out as no methods at all.
  uint32_t count = e->methods && e->methodCount > 0 ? static_cast<uint32_t>(e->methodCount) : 0;
  if (r.subtype == SUBTYPE_CLASS_LOAD) {
    c.u8(TAG_CLASS_LOAD);
    c.u32(e->sequenceNumber);
    tableText(c, e->className.get());
    c.u32(count);
    for (uint32_t i = 0; i < count && !c.overrun(); i++) {
      const MethodRecord& method = e->methods[i];
      c.u32(method.methodId.load(std::memory_order_relaxed));
      tableText(c, method.methodName.get());
      tableText(c, method.methodSignature.get());
    }
  } else {
    c.u8(TAG_CLASS_UNLOAD);
    c.u32(e->sequenceNumber);
    c.u32(e->classId.load(std::memory_order_relaxed));
    c.u32(count);
    for (uint32_t i = 0; i < count && !c.overrun(); i++)
      c.u32(e->methods[i].methodId.load(std::memory_order_relaxed));
  }
  end(c);
  return c.settle(m);
}

// The most frequent record under method-level tracing, of a fixed size:
// written with one room check.
bool ProtocolVisitor::writeMethod(const MethodEventRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  uint8_t* p = c.claim(27);
  if (!p) return c.settle(m);
  p = WireCursor::put8(p, r.subtype == SUBTYPE_BEGIN ? TAG_METHOD_ENTRY : TAG_METHOD_EXIT);
  p = WireCursor::put32(p, r.threadId);
  p = WireCursor::put32(p, r.methodId);
  p = WireCursor::put32(p, r.wallSeconds);
  p = WireCursor::put32(p, r.wallMicros);
  p = WireCursor::put64(p, static_cast<uint64_t>(r.cpuTime));
  WireCursor::put16(p, END_MARKER);
  return true;
}

bool ProtocolVisitor::writeHttp(const HttpRequestRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  uint32_t tag = r.subtype == SUBTYPE_BEGIN ? TAG_HTTP_START
                 : r.subtype == SUBTYPE_END ? TAG_HTTP_FINISH
                                            : TAG_HTTP_ERROR;
  c.u8(tag);
  head(c, r, r.depth);
  if (r.subtype == SUBTYPE_BEGIN) {
    names(c, r, r.url.get(), r.url.length());
    text(c, r.url);
    text(c, r.detail);
  }
  modEnd(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeEjb(const EjbRequestRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  bool begin = r.subtype == SUBTYPE_BEGIN;
  c.u8(begin ? TAG_EJB_BEGIN : TAG_EJB_END);
  head(c, r, r.depth);
  size_t urlLength = r.url.length();
  if (begin) {
    // The names are compared with the whole url; the url goes out cut at
    // its first "?". The record keeps the whole url: the serialiser only
    // reads it.
    if (r.url.present()) {
      const void* query = std::memchr(r.url.get(), '?', r.url.length());
      if (query) urlLength = static_cast<size_t>(static_cast<const char*>(query) - r.url.get());
    }
    names(c, r, r.url.get(), r.url.length());
    text(c, r.url.get(), urlLength);
  }
  mod(c);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeTrace(const TraceRequestRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  c.u8(TAG_TRACE);
  c.u32(r.wallSeconds);
  c.u32(r.wallMicros);
  text(c, r.requestName);
  mod(c);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeSql(const SqlRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  bool begin = r.subtype == SUBTYPE_BEGIN;
  c.u8(begin ? TAG_SQL_BEGIN : TAG_SQL_END);
  head(c, r, r.depth);
  mod(c);
  if (begin) {
    text(c, r.dataSourceName);
    text(c, r.sqlText);
  }
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeGc(const GcRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  bool start = r.subtype == SUBTYPE_BEGIN;
  c.u8(start ? TAG_GC_START : TAG_GC_FINISH);
  c.u32(r.threadId);
  c.u32(r.wallSeconds);
  c.u32(r.wallMicros);
  if (!start) {
    c.u64(static_cast<uint64_t>(r.usedObjects));
    c.u64(static_cast<uint64_t>(r.usedObjectSpace));
    c.u64(static_cast<uint64_t>(r.totalObjectSpace));
  }
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeJms(const JmsRecord& r, WireCursor& c) const {
  static const uint32_t beginTags[4] = {25, 27, 29, 31};
  static const uint32_t endTags[4] = {26, 28, 30, 32};
  uint8_t* m = c.mark();
  bool begin = r.subtype == SUBTYPE_BEGIN;
  c.u8((begin ? beginTags : endTags)[r.kind - 1]);
  head(c, r, r.depth);
  if (begin) {
    text(c, r.destination);
    text(c, r.text2);
    if (r.kind == 1 || r.kind == 2) text(c, r.text3);
  }
  mod(c);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeJca(const JcaRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  bool begin = r.subtype == SUBTYPE_BEGIN;
  c.u8(begin ? TAG_JCA_BEGIN : TAG_JCA_END);
  head(c, r, r.depth);
  if (begin) text(c, r.name);
  mod(c);
  end(c);
  return c.settle(m);
}

namespace {
// JNDI and Mail share one layout under different tags.
template <typename R>
bool writeTwoTextResource(const R& r, WireCursor& c, uint32_t beginTag, uint32_t endTag) {
  uint8_t* m = c.mark();
  bool begin = r.subtype == SUBTYPE_BEGIN;
  c.u8(begin ? beginTag : endTag);
  head(c, r, r.depth);
  mod(c);
  if (begin) {
    text(c, r.name);
    text(c, r.text2);
  }
  end(c);
  return c.settle(m);
}
}  // namespace

bool ProtocolVisitor::writeJndi(const JndiRecord& r, WireCursor& c) const {
  return writeTwoTextResource(r, c, TAG_JNDI_BEGIN, TAG_JNDI_END);
}

bool ProtocolVisitor::writeMail(const MailRecord& r, WireCursor& c) const {
  return writeTwoTextResource(r, c, TAG_MAIL_BEGIN, TAG_MAIL_END);
}

bool ProtocolVisitor::writeSamplingRates(const SamplingRatesRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  c.u8(TAG_SAMPLING_RATES);
  for (int32_t rate : r.rates) c.u32(static_cast<uint32_t>(rate));
  c.u8(r.flag == 1 ? 1 : 0);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeCorrelation(const CorrelationRequestRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  uint32_t tag = r.subtype == SUBTYPE_BEGIN           ? 51
                 : r.subtype == SUBTYPE_END           ? 52
                 : r.subtype == SUBTYPE_RECEIVE_BEGIN ? 53
                                                      : 54;
  c.u8(tag);
  head(c, r, r.depth);
  if (r.subtype == SUBTYPE_BEGIN || r.subtype == SUBTYPE_RECEIVE_BEGIN) {
    // Always 4 token bytes: a received token shorter than that is padded
    // with zeros, never read beyond its end.
    uint8_t token[4] = {0, 0, 0, 0};
    size_t have = r.token.length() < 4 ? r.token.length() : 4;
    if (have > 0) std::memcpy(token, r.token.get(), have);
    c.u16(4);
    c.bytes(token, 4);
  }
  mod(c);
  end(c);
  if (!c.settle(m)) return false;
  if (r.subtype == SUBTYPE_BEGIN && saveCounter_) saveCounter_(r.tokenCounter);
  return true;
}

bool ProtocolVisitor::writeDropNotice(const DropNoticeRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  c.u8(TAG_DROP_NOTICE);
  c.u32(r.threadId);
  for (int32_t count : r.counts) c.u32(static_cast<uint32_t>(count));
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeGxr(const GxrRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  c.u8(TAG_GXR);
  text(c, r.text1);
  text(c, r.text2);
  text(c, r.text3);
  c.u64(static_cast<uint64_t>(r.value1));
  c.u32(r.number);
  c.u64(static_cast<uint64_t>(r.value2));
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeMqi(const MqiRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  c.u8(TAG_MQI);
  text(c, r.text1);
  text(c, r.text2);
  c.u64(static_cast<uint64_t>(r.value));
  // Elements are sent only when all three arrays are there.
  bool arrays = r.ops && r.values && r.times && r.count > 0;
  uint32_t count = arrays ? static_cast<uint32_t>(r.count) : 0;
  c.u32(count);
  for (uint32_t i = 0; i < count && !c.overrun(); i++) {
    c.u8(r.ops[i]);
    c.u32(r.values[i]);
    c.u64(static_cast<uint64_t>(r.times[i]));
  }
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writePortalUser(const PortalUserRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  c.u8(r.type == EVENT_PORTAL_LOGIN ? 61 : 62);
  c.u32(r.number);
  c.u64(static_cast<uint64_t>(r.value));
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeCredentialVault(const CredentialVaultRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  c.u8(TAG_CREDENTIAL_VAULT);
  for (int i = 0; i < 5; i++) {
    c.u32(r.counts[i]);
    c.u64(static_cast<uint64_t>(r.totals[i]));
  }
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeContentAccess(const ContentAccessRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  c.u8(TAG_CONTENT_ACCESS);
  for (int i = 0; i < 4; i++) {
    c.u32(r.counts[i]);
    c.u64(static_cast<uint64_t>(r.totals[i]));
  }
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writePortalPage(const RequestRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  bool begin = r.subtype == SUBTYPE_BEGIN;
  if (r.type == EVENT_PORTAL_PAGE)
    c.u8(beginOrEnd(r.subtype, 65, 66));
  else
    c.u8(beginOrEnd(r.subtype, 67, 68));
  head(c, r, r.depth);
  if (begin) {
    text(c, r.requestName);
    text(c, r.applicationName);
    text(c, r.url);
    text(c, r.detail);
  }
  mod(c);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writePsStatus(const PsStatusRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  c.u8(TAG_PS_STATUS);
  text(c, r.status);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeException(const ExceptionRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  c.u8(TAG_EXCEPTION);
  text(c, r.text1);
  text(c, r.text2);
  text(c, r.text3);
  text(c, r.text4);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeMqRequest(const MqRequestRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  bool begin = r.subtype == SUBTYPE_BEGIN;
  c.u8(begin ? TAG_MQ_BEGIN : TAG_MQ_END);
  head(c, r, r.depth);
  if (begin) {
    text(c, r.queueManager);
    text(c, r.queueName);
  }
  c.u8(static_cast<uint32_t>(r.code));
  mod(c);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeMqMessage(const MqMessageRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  bool begin = r.subtype == SUBTYPE_BEGIN;
  if (r.operation == 7 || r.operation == 13)
    c.u8(begin ? 57 : 58);
  else
    c.u8(begin ? 55 : 56);
  head(c, r, r.depth);
  if (begin) {
    text(c, r.messageId);
    // A missing buffer or a negative length sends no bytes; the length field
    // holds at most 65535.
    size_t length = r.message && r.messageLength > 0 ? static_cast<size_t>(r.messageLength) : 0;
    if (length > TEXT_LIMIT) length = TEXT_LIMIT;
    c.u16(static_cast<uint32_t>(length));
    c.bytes(r.message.get(), length);
    c.u8(r.operation == 7 ? 1 : 0);
  }
  mod(c);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writePortalRequest(const RequestRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  bool begin = r.subtype == SUBTYPE_BEGIN;
  if (r.type == EVENT_PORTAL_REQUEST_3)
    c.u8(beginOrEnd(r.subtype, 112, 113));
  else
    c.u8(beginOrEnd(r.subtype, 114, 115));
  head(c, r, r.depth);
  if (begin) {
    names(c, r, r.url.get(), r.url.length());
    text(c, r.url);
  }
  mod(c);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeHeapAllocation(const HeapAllocationRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  bool begin = r.subtype == SUBTYPE_BEGIN;
  c.u8(begin ? TAG_HEAP_BEGIN : TAG_HEAP_END);
  head(c, r, r.depth);
  if (begin) {
    c.u32(r.allocationId);
    text(c, r.name);
    c.u32(r.number2);
  }
  mod(c);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeLock(const LockRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  bool begin = r.subtype == SUBTYPE_BEGIN;
  if (r.type == EVENT_LOCK_1)
    c.u8(beginOrEnd(r.subtype, 118, 119));
  else
    c.u8(beginOrEnd(r.subtype, 122, 123));
  head(c, r, r.depth);
  if (begin) {
    c.u32(r.lockId);
    text(c, r.lockName);
  }
  mod(c);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeLockDetail(const LockDetailRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  bool begin = r.subtype == SUBTYPE_BEGIN;
  c.u8(beginOrEnd(r.subtype, 120, 121));
  head(c, r, r.depth);
  if (begin) {
    c.u32(r.lockId);
    text(c, r.lockName);
    c.u8(r.flag);
    text(c, r.text1);
    text(c, r.text2);
    c.u32(r.number);
  }
  mod(c);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeGateway(const GatewayRecord& r, WireCursor& c) const {
  uint8_t* m = c.mark();
  uint32_t tag = r.type == EVENT_GATEWAY_SERVLET ? 46 : r.type == EVENT_MODEL_BUILDING ? 47 : 48;
  c.u8(tag);
  c.u32(r.number);
  c.u64(static_cast<uint64_t>(r.value));
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeCountRecord(uint32_t count, WireCursor& c) const {
  uint8_t* m = c.mark();
  c.u8(TAG_COUNT);
  c.u32(count);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeTimeRecord(WireCursor& c) const {
  uint32_t seconds = 0, micros = 0;
  os::wallClock(&seconds, &micros);
  return writeTimeRecord(c, static_cast<uint64_t>(seconds) * 1000 + micros / 1000);
}

bool ProtocolVisitor::writeTimeRecord(WireCursor& c, uint64_t millis) const {
  uint8_t* m = c.mark();
  c.u32(HELLO_CONSTANT);
  c.u8(TAG_TIME);
  c.u8(PLATFORM_CODE);
  c.u8(1);
  c.u64(millis);
  end(c);
  return c.settle(m);
}

bool ProtocolVisitor::writeIdentityRecord(const HelloIdentity& id, WireCursor& c) const {
  int numbers[3];
  char version[sizeof id.productVersion];
  std::memcpy(version, id.productVersion, sizeof version);
  version[sizeof version - 1] = '\0';
  parseProductVersion(version, numbers);

  uint8_t* m = c.mark();
  c.u8(TAG_IDENTITY);
  c.u8(IDENTITY_MARK);
  for (int n : numbers) c.u8(static_cast<uint32_t>(n));
  fixedText(c, id.commandAgentID, sizeof id.commandAgentID);
  text(c, NO_CLUSTER_NAME, std::strlen(NO_CLUSTER_NAME));
  fixedText(c, id.nodeName, sizeof id.nodeName);
  fixedText(c, id.appServerName, sizeof id.appServerName);
  c.u32(static_cast<uint32_t>(id.adminServerPort));
  end(c);
  return c.settle(m);
}
