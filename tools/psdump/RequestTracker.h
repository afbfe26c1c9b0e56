// Pairs the begin and end records of each thread of each connection into
// request trees: an outer request (HTTP, EJB, portal page or portlet,
// correlation invoke or receive) with the calls made inside it (SQL, JMS,
// JCA, JNDI, Mail, MQ, heap-allocation, lock and method records) nested as
// they were made.
//
// Begins and ends pair by depth where both carry the same depth, and by
// order where they do not: a correlation receive's start carries depth 0
// while its completion carries the receive's own depth, and method records
// carry none. An HTTP finish or error whose depth is below the innermost
// open level closes every level above it too (a cancelled JSP ends them
// all at once). Records that cannot be paired are counted per kind; drop
// notices (which carry no thread id that could tell whose records were
// lost) mark every request open on their connection as possibly incomplete.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "Record.h"

namespace psdump {

enum class CallKind : uint8_t {
  Http,
  Ejb,
  PortalPage,
  Portlet,
  Portal3,
  Portal4,
  Invoke,
  Receive,
  Sql,
  Jms,
  Jca,
  Jndi,
  Mail,
  Mq,
  MqMessage,
  HeapAllocation,
  Lock1,
  Lock2,
  Lock3,
  Method,
};
constexpr size_t kCallKinds = static_cast<size_t>(CallKind::Method) + 1;

const char* callKindName(CallKind kind);

// One request or call: its begin and end, and the calls nested inside it.
struct Call {
  CallKind kind = CallKind::Http;
  bool error = false;       // closed by an HTTP error record
  bool cancelled = false;   // closed together with an enclosing HTTP request
  bool unfinished = false;  // its end never came; the end times are unknown
  bool incomplete = false;  // records may have been dropped while it was open
  int depth = -1;           // the begin's depth; -1 where the begin carries none
  uint32_t methodId = 0;    // method records
  uint64_t offset = 0;      // stream offset of the begin record
  uint64_t endOffset = 0;   // stream offset of the end record; 0 while it has none
  int mod = -1;             // the begin record's MOD level; -1 where it carries none
  int64_t beginWall = 0;    // wall clock, microseconds since 1970
  int64_t endWall = 0;
  int64_t beginCpu = 0;  // thread CPU time, nanoseconds
  int64_t endCpu = 0;
  std::string name;    // URL, request name, SQL text, destination, ...
  std::string detail;  // second text: application, data source, ...
  std::string label;   // the request name of an HTTP request, the URL of an EJB or portal
                       // request, when it differs from the name
  std::vector<Call> calls;

  int64_t wallMicros() const { return endWall - beginWall; }
  int64_t cpuNanos() const { return endCpu - beginCpu; }
};

// A request tree as it left the tracker, with figures over all its nested
// calls (also those not kept in the tree).
struct Request {
  uint64_t conn = 0;
  uint32_t thread = 0;
  Call root;
  uint64_t nestedCalls = 0;   // calls closed inside it, at any level
  uint64_t omittedCalls = 0;  // of those, not kept in the tree (see kMaxCallsKept)
  uint64_t sqlCount = 0;      // finished SQL calls at any level
  int64_t sqlWall = 0;        // their wall time, microseconds
};

// The drop notices of one connection.
struct ConnectionDrops {
  uint64_t overflowNotices = 0;  // a thread's queue overflowed (thread id 0)
  uint64_t gateMarkers = 0;      // a thread met the closed memory gate
  uint64_t dropSummaries = 0;    // an event agent trimmed a queue, with counts
  uint64_t recordsDropped = 0;   // the sum of the summaries' counts
  uint64_t requestsMarked = 0;   // open requests marked possibly incomplete
};

struct TrackerCounts {
  std::array<uint64_t, kCallKinds> unpairedBegins{};  // still open, or their end never came
  std::array<uint64_t, kCallKinds> unpairedEnds{};    // no begin to pair with
  uint64_t methodsOutside = 0;                        // method records outside any request
  std::map<std::string, uint64_t> events;             // single records, by record name
  std::map<uint64_t, ConnectionDrops> drops;          // by connection
};

class RequestTracker {
 public:
  // A request tree that has ended; open: it is still open at the end of its
  // connection (its unfinished calls carry no end times).
  using Handler = std::function<void(Request&& request, bool open)>;
  // A single record shown as an event.
  using EventHandler = std::function<void(uint64_t conn, const Record& record)>;

  // Calls kept per request tree; further nested calls are only counted.
  static constexpr uint64_t kMaxCallsKept = 2000;

  RequestTracker(Handler handler, EventHandler onEvent);

  // Takes one decoded record of a connection; may move its texts out.
  void add(uint64_t conn, Record& record);
  // The connection has ended: its open requests go out as open.
  void connectionClosed(uint64_t conn);

  const TrackerCounts& counts() const { return counts_; }

 private:
  struct ThreadState {
    std::vector<Call> stack;  // open calls, outermost first
    uint64_t nestedCalls = 0;
    uint64_t omittedCalls = 0;
    uint64_t sqlCount = 0;
    int64_t sqlWall = 0;
  };
  using Threads = std::unordered_map<uint32_t, ThreadState>;
  // The head of a begin or end record.
  struct Stamp {
    uint32_t thread = 0;
    int depth = -1;
    uint32_t methodId = 0;
    uint64_t offset = 0;  // the record's stream offset
    int64_t wall = 0;     // microseconds
    int64_t cpu = 0;      // nanoseconds
  };
  static Stamp stampOf(const Record& r);

  void begin(ThreadState& ts, CallKind kind, const Stamp& stamp, Record& r);
  void endByDepth(uint64_t conn, uint32_t thread, ThreadState& ts, CallKind kind, const Stamp& end,
                  bool error);
  void endReceive(uint64_t conn, uint32_t thread, ThreadState& ts, const Stamp& end);
  void methodExit(uint64_t conn, uint32_t thread, ThreadState& ts, const Stamp& end);
  void drop(uint64_t conn, const Record& r);
  // Closes stack[index] with the end record's times; the calls above it are
  // closed with it (cancelled) or left unfinished.
  void close(uint64_t conn, uint32_t thread, ThreadState& ts, size_t index, const Stamp& end,
             bool error, bool cancelAbove);
  // Pops the innermost open call as unfinished; lost: its end record was
  // lost mid-stream, which makes its request possibly incomplete.
  void abandonTop(uint64_t conn, uint32_t thread, ThreadState& ts, bool lost);
  // Hands a closed call to its parent, or out as a request.
  void attach(uint64_t conn, uint32_t thread, ThreadState& ts, Call&& call, bool open);

  Handler handler_;
  EventHandler onEvent_;
  std::unordered_map<uint64_t, Threads> connections_;
  TrackerCounts counts_;
};

}  // namespace psdump
