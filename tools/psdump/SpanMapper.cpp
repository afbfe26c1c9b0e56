#include "SpanMapper.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "Json.h"

namespace psdump {

using otlp::common::v1::KeyValue;
using otlp::trace::v1::ScopeSpans;
using otlp::trace::v1::Span;
using otlp::trace::v1::Span_SpanKind;
using otlp::trace::v1::Status;

namespace {

// OTLP strings must be well-formed UTF-8 (a receiver may refuse the whole
// post otherwise); texts from the wire are the JVM's modified UTF-8 or any
// bytes. Well-formed sequences pass; anything else, the two-byte NUL and
// surrogate halves become U+FFFD.
void setUtf8(std::string* field, std::string_view text) {
  size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  if (i == text.size()) {
    field->assign(text.data(), text.size());
    return;
  }
  const std::string whole(text);
  std::string out(text.substr(0, i));
  while (i < whole.size()) {
    if (static_cast<unsigned char>(whole[i]) < 0x80) {
      out += whole[i++];
      continue;
    }
    bool escape = false;
    unsigned unit = 0;
    const size_t len = utf8SequenceAt(whole, i, escape, unit);
    if (len == 0 || escape) {
      out += "\xEF\xBF\xBD";
      i += len == 0 ? 1 : len;
    } else {
      out.append(whole, i, len);
      i += len;
    }
  }
  *field = std::move(out);
}

void addString(google::protobuf::RepeatedPtrField<KeyValue>& attrs, const char* key,
               std::string_view value) {
  KeyValue* kv = attrs.Add();
  kv->set_key(key);
  setUtf8(kv->mutable_value()->mutable_string_value(), value);
}

void setName(Span& span, std::string_view name) {
  setUtf8(span.mutable_name(), name);
}

void addInt(google::protobuf::RepeatedPtrField<KeyValue>& attrs, const char* key, int64_t value) {
  KeyValue* kv = attrs.Add();
  kv->set_key(key);
  kv->mutable_value()->set_int_value(value);
}

void addTrue(google::protobuf::RepeatedPtrField<KeyValue>& attrs, const char* key) {
  KeyValue* kv = attrs.Add();
  kv->set_key(key);
  kv->mutable_value()->set_bool_value(true);
}

void setId(uint64_t id, std::string* field) {
  char bytes[8];
  putId(id, bytes);
  field->assign(bytes, sizeof bytes);
}

// Wall clock microseconds to OTLP's nanoseconds; times before 1970 cannot
// come from the probe's unsigned seconds.
uint64_t nanos(int64_t micros) {
  return micros > 0 ? static_cast<uint64_t>(micros) * 1000 : 0;
}

// The latest time a call is known to have run: its end, or for a call whose
// end never came, the latest begin or end among its nested calls.
int64_t latestWall(const Call& c) {
  if (!c.unfinished) return c.endWall;
  int64_t latest = c.beginWall;
  for (const Call& inner : c.calls) latest = std::max(latest, latestWall(inner));
  return latest;
}

// The first word of an SQL text in upper case ("SELECT", "INSERT", ...), or
// "" when the text does not begin with a word.
std::string sqlOperation(const std::string& sql) {
  size_t i = 0;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  std::string op;
  while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])) && op.size() < 16) {
    op += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++])));
  }
  return op;
}

// The method of an HTTP request name such as "GET /shop/cart": a leading
// word of capitals followed by a space.
std::string httpMethod(const std::string& requestName) {
  size_t i = 0;
  while (i < requestName.size() && i < 10 &&
         std::isupper(static_cast<unsigned char>(requestName[i])))
    ++i;
  if (i == 0 || i >= requestName.size() || requestName[i] != ' ') return std::string();
  return requestName.substr(0, i);
}

Span_SpanKind spanKindOf(CallKind kind, bool root) {
  if (root) return Span::SPAN_KIND_SERVER;
  switch (kind) {
    case CallKind::Ejb:
    case CallKind::Invoke:
    case CallKind::Sql:
    case CallKind::Jms:
    case CallKind::Jca:
    case CallKind::Jndi:
    case CallKind::Mail:
    case CallKind::Mq:
    case CallKind::MqMessage:
      return Span::SPAN_KIND_CLIENT;
    default:
      return Span::SPAN_KIND_INTERNAL;
  }
}

// The name, and the attributes that depend on the kind of call.
void describe(const Call& c, Span& span) {
  auto& attrs = *span.mutable_attributes();
  switch (c.kind) {
    case CallKind::Http: {
      const std::string_view url(c.name);
      const size_t query = url.find('?');
      const std::string_view path = url.substr(0, query);
      setName(span, c.label.empty() ? path : std::string_view(c.label));
      addString(attrs, "url.path", path);
      if (query != std::string_view::npos) addString(attrs, "url.query", url.substr(query + 1));
      addString(attrs, "http.route", path);
      const std::string method = httpMethod(c.label);
      if (!method.empty()) addString(attrs, "http.request.method", method);
      if (c.error) addString(attrs, "error.type", "http.error");
      if (!c.detail.empty()) addString(attrs, "halden.application", c.detail);
      return;
    }
    case CallKind::Ejb:
    case CallKind::PortalPage:
    case CallKind::Portlet:
    case CallKind::Portal3:
    case CallKind::Portal4:
      setName(span, c.name.empty() ? std::string_view(callKindName(c.kind)) : c.name);
      if (!c.label.empty()) addString(attrs, "halden.url", c.label);
      if (!c.detail.empty()) addString(attrs, "halden.application", c.detail);
      return;
    case CallKind::Sql: {
      const std::string op = sqlOperation(c.name);
      std::string name = op.empty() ? std::string("SQL") : op;
      if (!c.detail.empty()) name += ' ' + c.detail;
      setName(span, name);
      addString(attrs, "db.query.text", c.name);
      if (!op.empty()) addString(attrs, "db.operation.name", op);
      if (!c.detail.empty()) addString(attrs, "halden.data_source", c.detail);
      return;
    }
    case CallKind::Jms:
    case CallKind::Mq:
      setName(span, c.name.empty() ? std::string_view(callKindName(c.kind)) : c.name);
      addString(attrs, "messaging.system", c.kind == CallKind::Jms ? "jms" : "mq");
      addString(attrs, "messaging.destination.name", c.name);
      if (!c.detail.empty()) {
        addString(attrs, c.kind == CallKind::Jms ? "halden.detail" : "halden.queue_manager",
                  c.detail);
      }
      return;
    case CallKind::MqMessage:
      span.set_name("mq message");
      addString(attrs, "messaging.system", "mq");
      addString(attrs, "messaging.message.id", c.name);
      addString(attrs, "halden.operations", c.detail);
      return;
    case CallKind::Invoke:
    case CallKind::Receive:
      span.set_name(callKindName(c.kind));
      if (!c.detail.empty()) addString(attrs, "halden.token", c.detail);
      return;
    case CallKind::Method:
      span.set_name("method " + std::to_string(c.methodId));
      addInt(attrs, "halden.method_id", c.methodId);
      return;
    default:
      setName(span, c.name.empty() ? std::string(callKindName(c.kind))
                                   : std::string(callKindName(c.kind)) + ' ' + c.name);
      if (!c.name.empty()) addString(attrs, "halden.name", c.name);
      if (!c.detail.empty()) addString(attrs, "halden.detail", c.detail);
      return;
  }
}

// The token number of a call's token as the tracker shows it (8 hex
// digits); 0 for none.
uint32_t tokenOf(const Call& c) {
  if (c.detail.size() != 8) return 0;
  uint32_t t = 0;
  for (char ch : c.detail) {
    const int v = std::isdigit(static_cast<unsigned char>(ch)) ? ch - '0'
                  : (ch >= 'a' && ch <= 'f')                   ? ch - 'a' + 10
                                                               : -1;
    if (v < 0) return 0;
    t = (t << 4) | static_cast<uint32_t>(v);
  }
  return t;
}

// The first receive and the first invoke with a token in the tree, in the
// order of their begin records.
void findTokens(const Call& c, const Call*& receive, const Call*& invoke) {
  if (receive == nullptr && c.kind == CallKind::Receive && tokenOf(c) != 0) receive = &c;
  if (invoke == nullptr && c.kind == CallKind::Invoke && tokenOf(c) != 0) invoke = &c;
  for (const Call& inner : c.calls) findTokens(inner, receive, invoke);
}

}  // namespace

struct SpanMapper::Context {
  uint64_t conn = 0;
  uint32_t thread = 0;
  TraceId trace;
  char traceBytes[16] = {};
  int mod = -1;                  // the request's MOD level
  uint32_t token = 0;            // the tree's correlation token, 0 for none
  const Call* origin = nullptr;  // the invoke that drew the token, if this tree drew it
};

void SpanMapper::addCall(const Call& c, const Context& ctx, uint64_t parentId, bool root,
                         ScopeSpans& out, size_t& count) const {
  Span& span = *out.add_spans();
  ++count;
  const uint64_t id =
      &c == ctx.origin ? tokenCallSpanId(ctx.token) : ids_.spanId(ctx.conn, c.offset);
  span.set_trace_id(ctx.traceBytes, sizeof ctx.traceBytes);
  setId(id, span.mutable_span_id());
  if (parentId != 0) setId(parentId, span.mutable_parent_span_id());
  span.set_kind(spanKindOf(c.kind, root));
  span.set_start_time_unix_nano(nanos(c.beginWall));
  span.set_end_time_unix_nano(nanos(std::max(c.beginWall, latestWall(c))));
  describe(c, span);
  auto& attrs = *span.mutable_attributes();
  addString(attrs, "halden.kind", callKindName(c.kind));
  // The thread and the MOD level are the request's: on its root span, and
  // on a call only where its MOD level differs.
  if (root) addInt(attrs, "halden.thread_id", ctx.thread);
  if (!c.unfinished) addInt(attrs, "halden.cpu_ns", c.cpuNanos());
  if (c.mod >= 0 && (root || c.mod != ctx.mod)) addInt(attrs, "halden.mod", c.mod);
  addInt(attrs, "halden.offset", static_cast<int64_t>(c.offset));
  if (!c.unfinished) addInt(attrs, "halden.end_offset", static_cast<int64_t>(c.endOffset));
  if (c.cancelled) addTrue(attrs, "halden.cancelled");
  if (c.unfinished) addTrue(attrs, "halden.unfinished");
  if (c.incomplete) addTrue(attrs, "halden.incomplete");
  if (c.error) span.mutable_status()->set_code(Status::STATUS_CODE_ERROR);
  for (const Call& inner : c.calls) addCall(inner, ctx, id, false, out, count);
}

size_t SpanMapper::addRequest(const Request& q, bool open, ScopeSpans& out) const {
  Context ctx;
  ctx.conn = q.conn;
  ctx.thread = q.thread;
  ctx.mod = q.root.mod;
  const Call* receive = nullptr;
  const Call* invoke = nullptr;
  findTokens(q.root, receive, invoke);
  uint64_t parent = 0;
  if (receive != nullptr) {
    // The receiving side: one trace with the invoking side, under its call.
    ctx.token = tokenOf(*receive);
    ctx.trace = tokenTraceId(ctx.token);
    parent = tokenCallSpanId(ctx.token);
  } else if (invoke != nullptr) {
    // The invoking side: the request drew the token for its first invoke.
    ctx.token = tokenOf(*invoke);
    ctx.trace = tokenTraceId(ctx.token);
    ctx.origin = invoke;
  } else {
    ctx.trace = ids_.traceId(q.conn, q.root.offset);
  }
  putTraceId(ctx.trace, ctx.traceBytes);
  const int first = out.spans_size();
  size_t count = 0;
  addCall(q.root, ctx, parent, true, out, count);
  Span& root = *out.mutable_spans(first);
  auto& attrs = *root.mutable_attributes();
  addInt(attrs, "halden.connection", static_cast<int64_t>(q.conn));
  addInt(attrs, "halden.nested_calls", static_cast<int64_t>(q.nestedCalls));
  if (q.omittedCalls > 0)
    addInt(attrs, "halden.omitted_calls", static_cast<int64_t>(q.omittedCalls));
  if (open) addTrue(attrs, "halden.open");
  return count;
}

size_t SpanMapper::addTraceRecord(uint64_t conn, const Record& r, ScopeSpans& out) const {
  if (r.type != 6) return 0;
  Context ctx;
  ctx.conn = conn;
  ctx.trace = ids_.traceId(conn, r.offset);
  putTraceId(ctx.trace, ctx.traceBytes);
  Span& span = *out.add_spans();
  span.set_trace_id(ctx.traceBytes, sizeof ctx.traceBytes);
  setId(ids_.spanId(conn, r.offset), span.mutable_span_id());
  span.set_kind(Span::SPAN_KIND_SERVER);
  const int64_t wall = static_cast<int64_t>(r.unsignedValue("wallSeconds")) * 1000000 +
                       static_cast<int64_t>(r.unsignedValue("wallMicros"));
  span.set_start_time_unix_nano(nanos(wall));
  span.set_end_time_unix_nano(nanos(wall));
  const std::string name = r.text("requestName");
  setName(span, name.empty() ? std::string("trace") : name);
  auto& attrs = *span.mutable_attributes();
  addString(attrs, "halden.kind", "trace");
  if (const Field* mod = r.find("mod")) addInt(attrs, "halden.mod", static_cast<int64_t>(mod->u));
  addInt(attrs, "halden.offset", static_cast<int64_t>(r.offset));
  addInt(attrs, "halden.connection", static_cast<int64_t>(conn));
  return 1;
}

void SpanMapper::fillResource(const Record& identity, otlp::resource::v1::Resource& out) {
  auto& attrs = *out.mutable_attributes();
  const std::string server = identity.text("appServerName");
  addString(attrs, "service.name", server.empty() ? std::string("unknown_service:psdump") : server);
  addString(attrs, "host.name", identity.text("nodeName"));
  addString(attrs, "halden.command_agent_id", identity.text("commandAgentId"));
  addString(attrs, "halden.probe.version",
            std::to_string(identity.unsignedValue("versionMajor")) + '.' +
                std::to_string(identity.unsignedValue("versionMinor")) + '.' +
                std::to_string(identity.unsignedValue("versionMicro")));
  addInt(attrs, "halden.admin_port",
         static_cast<int64_t>(identity.unsignedValue("adminServerPort")));
}

void SpanMapper::fillUnknownResource(otlp::resource::v1::Resource& out) {
  addString(*out.mutable_attributes(), "service.name", "unknown_service:psdump");
}

}  // namespace psdump
