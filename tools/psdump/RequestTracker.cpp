#include "RequestTracker.h"

#include <cstring>
#include <utility>

namespace psdump {

namespace {

enum class Role : uint8_t {
  None,  // not part of a request (class, GC, sampling-rate records, packet heads)
  Begin,
  End,
  ErrorEnd,
  ReceiveBegin,
  ReceiveEnd,
  MethodEntry,
  MethodExit,
  Drop,
  Event,
};

struct Kind {
  bool pairs;  // a begin/end type
  CallKind kind;
};

// Record types that open and close calls, by type number.
Kind kindOfType(int type) {
  switch (type) {
    case 3:
      return {true, CallKind::Method};
    case 4:
      return {true, CallKind::Http};
    case 5:
      return {true, CallKind::Ejb};
    case 7:
      return {true, CallKind::Sql};
    case 9:
      return {true, CallKind::Jms};
    case 10:
      return {true, CallKind::Jca};
    case 11:
      return {true, CallKind::Jndi};
    case 12:
      return {true, CallKind::Mail};
    case 14:
      return {true, CallKind::Invoke};
    case 22:
      return {true, CallKind::PortalPage};
    case 23:
      return {true, CallKind::Portlet};
    case 26:
      return {true, CallKind::Mq};
    case 27:
      return {true, CallKind::MqMessage};
    case 28:
      return {true, CallKind::Portal3};
    case 29:
      return {true, CallKind::Portal4};
    case 30:
      return {true, CallKind::HeapAllocation};
    case 31:
      return {true, CallKind::Lock1};
    case 32:
      return {true, CallKind::Lock2};
    case 33:
      return {true, CallKind::Lock3};
    default:
      return {false, CallKind::Http};
  }
}

Role roleOf(const Record& r, CallKind& kind) {
  const Kind k = kindOfType(r.type);
  if (k.pairs) {
    kind = k.kind;
    if (kind == CallKind::Method) return r.subtype == 0 ? Role::MethodEntry : Role::MethodExit;
    if (kind == CallKind::Invoke && r.subtype == 5) {
      kind = CallKind::Receive;
      return Role::ReceiveBegin;
    }
    if (kind == CallKind::Invoke && r.subtype == 6) {
      kind = CallKind::Receive;
      return Role::ReceiveEnd;
    }
    if (r.subtype == 0) return Role::Begin;
    if (r.subtype == 1) return Role::End;
    if (kind == CallKind::Http && r.subtype == 2) return Role::ErrorEnd;
    return Role::None;
  }
  switch (r.type) {
    case 15:
      return Role::Drop;
    case 6:   // trace request
    case 16:  // gateway
    case 17:  // MQ interface calls
    case 18:  // portal figures
    case 19:
    case 20:
    case 21:
    case 24:  // PS status
    case 25:  // exception
    case 34:
    case 35:
    case 36:
      return Role::Event;
    default:
      return Role::None;
  }
}

// The texts that name a call: the field shown as its name (with a fallback
// when that one is empty) and the one shown as its detail.
struct Naming {
  const char* name;
  const char* fallback;
  const char* detail;
};

Naming namingOf(CallKind kind) {
  switch (kind) {
    case CallKind::Http:
      return {"url", "requestName", "applicationName"};
    case CallKind::Ejb:
    case CallKind::PortalPage:
    case CallKind::Portlet:
    case CallKind::Portal3:
    case CallKind::Portal4:
      return {"requestName", "url", "applicationName"};
    case CallKind::Invoke:
    case CallKind::Receive:
      return {nullptr, nullptr, "token"};
    case CallKind::Sql:
      return {"sqlText", nullptr, "dataSourceName"};
    case CallKind::Jms:
      return {"destination", nullptr, "text2"};
    case CallKind::Jca:
      return {"name", nullptr, nullptr};
    case CallKind::Jndi:
    case CallKind::Mail:
      return {"name", nullptr, "text2"};
    case CallKind::Mq:
      return {"queueName", nullptr, "queueManager"};
    case CallKind::MqMessage:
      return {"messageId", nullptr, "operations"};
    case CallKind::HeapAllocation:
      return {"text", nullptr, nullptr};
    case CallKind::Lock1:
    case CallKind::Lock2:
    case CallKind::Lock3:
      return {"lockName", nullptr, nullptr};
    case CallKind::Method:
      break;
  }
  return {nullptr, nullptr, nullptr};
}

std::string takeText(Record& r, const char* field) {
  if (field == nullptr) return std::string();
  for (Field& f : r.fields) {
    if (f.kind == Field::Kind::Text && std::strcmp(f.name, field) == 0) {
      return std::move(f.bytes);
    }
  }
  return std::string();
}

std::string hexOf(const std::string& raw) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (char c : raw) {
    out += kDigits[static_cast<unsigned char>(c) >> 4];
    out += kDigits[static_cast<unsigned char>(c) & 0x0F];
  }
  return out;
}

}  // namespace

// Every begin/end layout starts with threadId, then depth (methodId for
// method records), wallSeconds, wallMicros and cpuTime, in this order.
RequestTracker::Stamp RequestTracker::stampOf(const Record& r) {
  Stamp s;
  s.offset = r.offset;
  const FieldList& f = r.fields;
  if (f.size() < 5) return s;
  s.thread = static_cast<uint32_t>(f[0].u);
  if (r.type == 3) {
    s.methodId = static_cast<uint32_t>(f[1].u);
  } else {
    s.depth = static_cast<int>(f[1].u);
  }
  s.wall = static_cast<int64_t>(f[2].u) * 1000000 + static_cast<int64_t>(f[3].u);
  s.cpu = f[4].i;
  return s;
}

namespace {}  // namespace

const char* callKindName(CallKind kind) {
  static const char* const kNames[kCallKinds] = {
      "http",    "ejb",     "portalPage", "portlet",
      "portal3", "portal4", "invoke",     "receive",
      "sql",     "jms",     "jca",        "jndi",
      "mail",    "mq",      "mqMessage",  "heapAllocation",
      "lock1",   "lock2",   "lock3",      "method"};
  return kNames[static_cast<size_t>(kind)];
}

RequestTracker::RequestTracker(Handler handler, EventHandler onEvent)
    : handler_(std::move(handler)), onEvent_(std::move(onEvent)) {}

void RequestTracker::add(uint64_t conn, Record& r) {
  if (r.packetKind != PacketKind::Data || r.index == 0) return;
  CallKind kind = CallKind::Http;
  const Role role = roleOf(r, kind);
  switch (role) {
    case Role::None:
      return;
    case Role::Event:
      ++counts_.events[r.name];
      if (onEvent_) onEvent_(conn, r);
      return;
    case Role::Drop:
      drop(conn, r);
      return;
    default:
      break;
  }
  const Stamp stamp = stampOf(r);
  const uint32_t thread = stamp.thread;
  Threads& threads = connections_[conn];
  if (role == Role::MethodEntry || role == Role::MethodExit) {
    auto it = threads.find(thread);
    if (it == threads.end() || it->second.stack.empty()) {
      // Method-level tracing outside any request: nothing to nest it in.
      ++counts_.methodsOutside;
      return;
    }
    if (role == Role::MethodEntry) {
      begin(it->second, kind, stamp, r);
    } else {
      methodExit(conn, thread, it->second, stamp);
    }
    return;
  }
  ThreadState& ts = threads[thread];
  switch (role) {
    case Role::Begin:
    case Role::ReceiveBegin: {
      // A begin at depth d means every open call at depth d or deeper has
      // ended, even if its end record was lost.
      if (role == Role::Begin) {
        while (!ts.stack.empty() && ts.stack.back().depth >= stamp.depth) {
          abandonTop(conn, thread, ts, true);
        }
      }
      begin(ts, kind, stamp, r);
      if (role == Role::ReceiveBegin) ts.stack.back().depth = -1;
      break;
    }
    case Role::End:
    case Role::ErrorEnd:
      endByDepth(conn, thread, ts, kind, stamp, role == Role::ErrorEnd);
      break;
    case Role::ReceiveEnd:
      endReceive(conn, thread, ts, stamp);
      break;
    default:
      break;
  }
  if (ts.stack.empty()) threads.erase(thread);
}

void RequestTracker::begin(ThreadState& ts, CallKind kind, const Stamp& stamp, Record& r) {
  if (ts.stack.empty()) ts = ThreadState();
  Call c;
  c.kind = kind;
  c.offset = r.offset;
  c.beginWall = stamp.wall;
  c.beginCpu = stamp.cpu;
  c.methodId = stamp.methodId;
  c.depth = stamp.depth;
  if (const Field* mod = r.find("mod")) c.mod = static_cast<int>(mod->u);
  if (kind != CallKind::Method) {
    const Naming n = namingOf(kind);
    if (kind == CallKind::Invoke || kind == CallKind::Receive) {
      const Field* token = r.find("token");
      if (token != nullptr) c.detail = hexOf(token->bytes);
    } else {
      c.name = takeText(r, n.name);
      std::string second = takeText(r, n.fallback);
      if (c.name.empty()) {
        c.name = std::move(second);
      } else if (second != c.name) {
        c.label = std::move(second);
      }
      c.detail = takeText(r, n.detail);
    }
  }
  ts.stack.push_back(std::move(c));
}

void RequestTracker::endByDepth(uint64_t conn, uint32_t thread, ThreadState& ts, CallKind kind,
                                const Stamp& end, bool error) {
  const int depth = end.depth;
  for (size_t i = ts.stack.size(); i-- > 0;) {
    const Call& c = ts.stack[i];
    if (c.depth >= 0 && c.depth < depth) break;  // the begin would have been further in
    if (c.kind == kind && c.depth == depth) {
      close(conn, thread, ts, i, end, error, kind == CallKind::Http);
      return;
    }
  }
  ++counts_.unpairedEnds[static_cast<size_t>(kind)];
}

void RequestTracker::endReceive(uint64_t conn, uint32_t thread, ThreadState& ts, const Stamp& end) {
  for (size_t i = ts.stack.size(); i-- > 0;) {
    if (ts.stack[i].kind == CallKind::Receive) {
      close(conn, thread, ts, i, end, false, false);
      return;
    }
  }
  ++counts_.unpairedEnds[static_cast<size_t>(CallKind::Receive)];
}

void RequestTracker::methodExit(uint64_t conn, uint32_t thread, ThreadState& ts, const Stamp& end) {
  for (size_t i = ts.stack.size(); i-- > 0 && ts.stack[i].kind == CallKind::Method;) {
    if (ts.stack[i].methodId == end.methodId) {
      close(conn, thread, ts, i, end, false, false);
      return;
    }
  }
  ++counts_.unpairedEnds[static_cast<size_t>(CallKind::Method)];
}

void RequestTracker::drop(uint64_t conn, const Record& r) {
  ConnectionDrops& d = counts_.drops[conn];
  uint64_t dropped = 0;
  for (const Field& f : r.fields) {
    if (f.kind == Field::Kind::Signed && f.i > 0) dropped += static_cast<uint64_t>(f.i);
  }
  if (dropped > 0) {
    ++d.dropSummaries;
    d.recordsDropped += dropped;
  } else if (r.unsignedValue("threadId") == 0) {
    ++d.overflowNotices;
  } else {
    ++d.gateMarkers;
  }
  auto it = connections_.find(conn);
  if (it == connections_.end()) return;
  for (auto& entry : it->second) {
    std::vector<Call>& stack = entry.second.stack;
    if (!stack.empty() && !stack.front().incomplete) ++d.requestsMarked;
    for (Call& c : stack) c.incomplete = true;
  }
}

void RequestTracker::close(uint64_t conn, uint32_t thread, ThreadState& ts, size_t index,
                           const Stamp& end, bool error, bool cancelAbove) {
  const int64_t wall = end.wall;
  const int64_t cpu = end.cpu;
  while (ts.stack.size() > index + 1) {
    if (!cancelAbove) {
      abandonTop(conn, thread, ts, true);
      continue;
    }
    Call inner = std::move(ts.stack.back());
    ts.stack.pop_back();
    inner.cancelled = true;
    inner.endWall = wall;
    inner.endCpu = cpu;
    inner.endOffset = end.offset;
    attach(conn, thread, ts, std::move(inner), false);
  }
  Call c = std::move(ts.stack.back());
  ts.stack.pop_back();
  c.error = error;
  c.endWall = wall;
  c.endCpu = cpu;
  c.endOffset = end.offset;
  attach(conn, thread, ts, std::move(c), false);
}

void RequestTracker::abandonTop(uint64_t conn, uint32_t thread, ThreadState& ts, bool lost) {
  Call c = std::move(ts.stack.back());
  ts.stack.pop_back();
  c.unfinished = true;
  ++counts_.unpairedBegins[static_cast<size_t>(c.kind)];
  // The request it belonged to lost a record.
  if (lost && !ts.stack.empty()) ts.stack.front().incomplete = true;
  attach(conn, thread, ts, std::move(c), false);
}

void RequestTracker::attach(uint64_t conn, uint32_t thread, ThreadState& ts, Call&& call,
                            bool open) {
  if (ts.stack.empty()) {
    Request q;
    q.conn = conn;
    q.thread = thread;
    q.root = std::move(call);
    q.nestedCalls = ts.nestedCalls;
    q.omittedCalls = ts.omittedCalls;
    q.sqlCount = ts.sqlCount;
    q.sqlWall = ts.sqlWall;
    ts = ThreadState();
    if (handler_) handler_(std::move(q), open);
    return;
  }
  ++ts.nestedCalls;
  if (call.kind == CallKind::Sql && !call.unfinished) {
    ++ts.sqlCount;
    ts.sqlWall += call.wallMicros();
  }
  if (ts.nestedCalls - ts.omittedCalls > kMaxCallsKept) {
    ++ts.omittedCalls;
    return;
  }
  std::vector<Call>& siblings = ts.stack.back().calls;
  if (siblings.empty()) siblings.reserve(4);
  siblings.push_back(std::move(call));
}

void RequestTracker::connectionClosed(uint64_t conn) {
  auto it = connections_.find(conn);
  if (it == connections_.end()) return;
  for (auto& entry : it->second) {
    ThreadState& ts = entry.second;
    while (ts.stack.size() > 1) abandonTop(conn, entry.first, ts, false);
    if (ts.stack.empty()) continue;
    Call root = std::move(ts.stack.back());
    ts.stack.pop_back();
    root.unfinished = true;
    ++counts_.unpairedBegins[static_cast<size_t>(root.kind)];
    attach(conn, entry.first, ts, std::move(root), true);
  }
  connections_.erase(it);
}

}  // namespace psdump
