// Turns request trees into OpenTelemetry spans: the request as the root span
// (kind SERVER), each nested call as a child span with the nesting of the
// tree (CLIENT for calls that leave the application: EJB, SQL, JMS, JCA,
// JNDI, mail, MQ, correlation invokes; INTERNAL for methods, locks and heap
// allocations). Attributes follow the OpenTelemetry semantic conventions
// where one fits and carry the probe's own fields under "halden.".
#pragma once

#include <cstdint>
#include <string>

#include "Record.h"
#include "RequestTracker.h"
#include "TraceIds.h"
#include "opentelemetry/proto/trace/v1/trace.pb.h"

namespace psdump {

namespace otlp = opentelemetry::proto;

// The spans of one scope being built. The spans an earlier chunk left in
// the scope are written over in place, so that messages and strings keep
// their storage from chunk to chunk; trim() drops those left over before
// the scope is serialised, restart() begins the next chunk.
class SpanSlots {
 public:
  explicit SpanSlots(otlp::trace::v1::ScopeSpans& scope) : scope_(&scope) {}
  otlp::trace::v1::Span& next();
  void trim();
  void restart() { used_ = 0; }
  int used() const { return used_; }

 private:
  otlp::trace::v1::ScopeSpans* scope_;
  int used_ = 0;
};

class SpanMapper {
 public:
  explicit SpanMapper(uint64_t salt) : ids_(salt) {}

  // Appends the spans of one request tree; open: its connection ended before
  // the request did. Returns the number of spans appended.
  size_t addRequest(const Request& q, bool open, SpanSlots& out) const;
  // A trace request record (a single record that names a request) becomes a
  // trace of one span without duration. Returns 1, or 0 for another record.
  size_t addTraceRecord(uint64_t conn, const Record& r, SpanSlots& out) const;

  // The resource attributes of connection conn from its hello packet's
  // identity record. The connection is the resource's, not each span's:
  // every chunk of spans carries its own connection's resource.
  static void fillResource(uint64_t conn, const Record& identity,
                           otlp::resource::v1::Resource& out);
  // The resource of a connection whose hello packet psdump did not see.
  static void fillUnknownResource(uint64_t conn, otlp::resource::v1::Resource& out);

 private:
  struct Context;
  void addCall(const Call& c, const Context& ctx, uint64_t parentId, bool root,
               SpanSlots& out, size_t& count) const;

  LocalIds ids_;
};

}  // namespace psdump
