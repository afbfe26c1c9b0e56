#include "SpanMapper.h"

#include <algorithm>
#include <cctype>
#include <cstring>
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
// surrogate halves become U+FFFD. Appends to field, which keeps its storage.
void appendUtf8(std::string* field, std::string_view text) {
  // ASCII passes as it is: eight bytes at a time while none has its top bit.
  size_t i = 0;
  for (uint64_t word; i + 8 <= text.size(); i += 8) {
    std::memcpy(&word, text.data() + i, 8);
    if ((word & 0x8080808080808080u) != 0) break;
  }
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  if (i == text.size()) {
    field->append(text.data(), text.size());
    return;
  }
  const std::string whole(text);
  field->append(text.data(), i);
  while (i < whole.size()) {
    if (static_cast<unsigned char>(whole[i]) < 0x80) {
      *field += whole[i++];
      continue;
    }
    bool escape = false;
    unsigned unit = 0;
    const size_t len = utf8SequenceAt(whole, i, escape, unit);
    if (len == 0 || escape) {
      *field += "\xEF\xBF\xBD";
      i += len == 0 ? 1 : len;
    } else {
      field->append(whole, i, len);
      i += len;
    }
  }
}

void setUtf8(std::string* field, std::string_view text) {
  field->clear();
  appendUtf8(field, text);
}

// The attributes of one span, written over those an earlier batch left in
// it: keys and texts keep their storage, so that a batch is built without
// allocating. Those left over are dropped at the end.
class Attrs {
 public:
  // Span or Resource.
  template <typename Message>
  explicit Attrs(Message& m) : attrs_(*m.mutable_attributes()) {}
  ~Attrs() {
    while (attrs_.size() > used_) attrs_.RemoveLast();
  }
  Attrs(const Attrs&) = delete;
  Attrs& operator=(const Attrs&) = delete;

  void addString(std::string_view key, std::string_view value) {
    setUtf8(next(key).mutable_string_value(), value);
  }
  // A value psdump itself names (ASCII): no check needed.
  void addName(std::string_view key, std::string_view value) {
    next(key).mutable_string_value()->assign(value.data(), value.size());
  }
  void addInt(std::string_view key, int64_t value) { next(key).set_int_value(value); }
  void addTrue(std::string_view key) { next(key).set_bool_value(true); }

 private:
  otlp::common::v1::AnyValue& next(std::string_view key) {
    KeyValue* kv = used_ < attrs_.size() ? attrs_.Mutable(used_) : attrs_.Add();
    ++used_;
    // A slot reused from the chunk before mostly holds this key already.
    if (!kv->has_key() || kv->key() != key) kv->mutable_key()->assign(key.data(), key.size());
    return *kv->mutable_value();
  }

  google::protobuf::RepeatedPtrField<KeyValue>& attrs_;
  int used_ = 0;
};

void setName(Span& span, std::string_view name) {
  setUtf8(span.mutable_name(), name);
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

// Kinds of call whose second text is the application.
bool hasApplication(CallKind kind) {
  switch (kind) {
    case CallKind::Http:
    case CallKind::Ejb:
    case CallKind::PortalPage:
    case CallKind::Portlet:
    case CallKind::Portal3:
    case CallKind::Portal4:
      return true;
    default:
      return false;
  }
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

// The application of a call, unless it is the request's: said once on the
// root, and on a call only where it differs (as the MOD level is).
void addApplication(const Call& c, std::string_view rootApplication, bool root, Attrs& attrs) {
  if (!c.detail.empty() && (root || c.detail != rootApplication))
    attrs.addString("halden.application", c.detail);
}

// The name, and the attributes that depend on the kind of call.
void describe(const Call& c, std::string_view rootApplication, bool root, Span& span,
              Attrs& attrs) {
  switch (c.kind) {
    case CallKind::Http: {
      const std::string_view url(c.name);
      const size_t query = url.find('?');
      const std::string_view path = url.substr(0, query);
      setName(span, c.label.empty() ? path : std::string_view(c.label));
      attrs.addString("url.path", path);
      if (query != std::string_view::npos) attrs.addString("url.query", url.substr(query + 1));
      const std::string method = httpMethod(c.label);
      if (!method.empty()) attrs.addName("http.request.method", method);
      if (c.error) attrs.addName("error.type", "http.error");
      addApplication(c, rootApplication, root, attrs);
      return;
    }
    case CallKind::Ejb:
    case CallKind::PortalPage:
    case CallKind::Portlet:
    case CallKind::Portal3:
    case CallKind::Portal4:
      setName(span, c.name.empty() ? std::string_view(callKindName(c.kind)) : c.name);
      if (!c.label.empty()) attrs.addString("halden.url", c.label);
      addApplication(c, rootApplication, root, attrs);
      return;
    case CallKind::Sql: {
      const std::string op = sqlOperation(c.name);
      std::string* name = span.mutable_name();
      name->assign(op.empty() ? std::string_view("SQL") : std::string_view(op));
      if (!c.detail.empty()) {
        *name += ' ';
        appendUtf8(name, c.detail);
      }
      attrs.addString("db.query.text", c.name);
      if (!op.empty()) attrs.addName("db.operation.name", op);
      if (!c.detail.empty()) attrs.addString("halden.data_source", c.detail);
      return;
    }
    case CallKind::Jms:
    case CallKind::Mq:
      setName(span, c.name.empty() ? std::string_view(callKindName(c.kind)) : c.name);
      attrs.addName("messaging.system", c.kind == CallKind::Jms ? "jms" : "mq");
      attrs.addString("messaging.destination.name", c.name);
      if (!c.detail.empty()) {
        attrs.addString(c.kind == CallKind::Jms ? "halden.detail" : "halden.queue_manager",
                  c.detail);
      }
      return;
    case CallKind::MqMessage:
      span.mutable_name()->assign("mq message");
      attrs.addName("messaging.system", "mq");
      attrs.addString("messaging.message.id", c.name);
      attrs.addString("halden.operations", c.detail);
      return;
    case CallKind::Invoke:
    case CallKind::Receive:
      span.mutable_name()->assign(callKindName(c.kind));
      if (!c.detail.empty()) attrs.addString("halden.token", c.detail);
      return;
    case CallKind::Method:
      span.mutable_name()->assign("method ").append(std::to_string(c.methodId));
      attrs.addInt("halden.method_id", c.methodId);
      return;
    default:
      span.mutable_name()->assign(callKindName(c.kind));
      if (!c.name.empty()) {
        *span.mutable_name() += ' ';
        appendUtf8(span.mutable_name(), c.name);
      }
      if (!c.name.empty()) attrs.addString("halden.name", c.name);
      if (!c.detail.empty()) attrs.addString("halden.detail", c.detail);
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
  std::string_view application;  // the request's application, "" for none
  uint32_t token = 0;            // the tree's correlation token, 0 for none
  const Call* origin = nullptr;  // the invoke that drew the token, if this tree drew it
  const Request* request = nullptr;
  bool open = false;  // the request was still open when its connection ended
};

Span& SpanSlots::next() {
  Span* span = used_ < scope_->spans_size() ? scope_->mutable_spans(used_) : scope_->add_spans();
  ++used_;
  return *span;
}

void SpanSlots::trim() {
  while (scope_->spans_size() > used_) scope_->mutable_spans()->RemoveLast();
}

void SpanMapper::addCall(const Call& c, const Context& ctx, uint64_t parentId, bool root,
                         SpanSlots& out, size_t& count) const {
  Span& span = out.next();
  ++count;
  const uint64_t id =
      &c == ctx.origin ? tokenCallSpanId(ctx.token) : ids_.spanId(ctx.conn, c.offset);
  span.set_trace_id(ctx.traceBytes, sizeof ctx.traceBytes);
  setId(id, span.mutable_span_id());
  if (parentId != 0) {
    setId(parentId, span.mutable_parent_span_id());
  } else {
    span.clear_parent_span_id();
  }
  span.set_kind(spanKindOf(c.kind, root));
  span.set_start_time_unix_nano(nanos(c.beginWall));
  span.set_end_time_unix_nano(nanos(std::max(c.beginWall, latestWall(c))));
  {
    Attrs attrs(span);
    describe(c, ctx.application, root, span, attrs);
    attrs.addName("halden.kind", callKindName(c.kind));
    // The thread and the MOD level are the request's: on its root span, and
    // on a call only where its MOD level differs.
    if (root) attrs.addInt("halden.thread_id", ctx.thread);
    if (!c.unfinished) attrs.addInt("halden.cpu_ns", c.cpuNanos());
    if (c.mod >= 0 && (root || c.mod != ctx.mod)) attrs.addInt("halden.mod", c.mod);
    attrs.addInt("halden.offset", static_cast<int64_t>(c.offset));
    if (!c.unfinished) attrs.addInt("halden.end_offset", static_cast<int64_t>(c.endOffset));
    if (c.cancelled) attrs.addTrue("halden.cancelled");
    if (c.unfinished) attrs.addTrue("halden.unfinished");
    if (c.incomplete) attrs.addTrue("halden.incomplete");
    if (root && ctx.request != nullptr) {
      const Request& q = *ctx.request;
      attrs.addInt("halden.nested_calls", static_cast<int64_t>(q.nestedCalls));
      if (q.omittedCalls > 0)
        attrs.addInt("halden.omitted_calls", static_cast<int64_t>(q.omittedCalls));
      if (ctx.open) attrs.addTrue("halden.open");
    }
  }
  if (c.error) {
    span.mutable_status()->set_code(Status::STATUS_CODE_ERROR);
  } else if (span.has_status()) {
    span.clear_status();
  }
  for (const Call& inner : c.calls) addCall(inner, ctx, id, false, out, count);
}

size_t SpanMapper::addRequest(const Request& q, bool open, SpanSlots& out) const {
  Context ctx;
  ctx.conn = q.conn;
  ctx.thread = q.thread;
  ctx.mod = q.root.mod;
  if (hasApplication(q.root.kind)) ctx.application = q.root.detail;
  ctx.request = &q;
  ctx.open = open;
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
  size_t count = 0;
  addCall(q.root, ctx, parent, true, out, count);
  return count;
}

size_t SpanMapper::addTraceRecord(uint64_t conn, const Record& r, SpanSlots& out) const {
  if (r.type != 6) return 0;
  Context ctx;
  ctx.conn = conn;
  ctx.trace = ids_.traceId(conn, r.offset);
  putTraceId(ctx.trace, ctx.traceBytes);
  Span& span = out.next();
  span.set_trace_id(ctx.traceBytes, sizeof ctx.traceBytes);
  setId(ids_.spanId(conn, r.offset), span.mutable_span_id());
  span.clear_parent_span_id();
  span.set_kind(Span::SPAN_KIND_SERVER);
  const int64_t wall = static_cast<int64_t>(r.unsignedValue("wallSeconds")) * 1000000 +
                       static_cast<int64_t>(r.unsignedValue("wallMicros"));
  span.set_start_time_unix_nano(nanos(wall));
  span.set_end_time_unix_nano(nanos(wall));
  const Field* name = r.find("requestName");
  const bool named = name != nullptr && (name->kind == Field::Kind::Text ||
                                         name->kind == Field::Kind::Bytes) && !name->bytes.empty();
  setName(span, named ? std::string_view(name->bytes) : std::string_view("trace"));
  if (span.has_status()) span.clear_status();
  Attrs attrs(span);
  attrs.addName("halden.kind", "trace");
  if (const Field* mod = r.find("mod")) attrs.addInt("halden.mod", static_cast<int64_t>(mod->u));
  attrs.addInt("halden.offset", static_cast<int64_t>(r.offset));
  return 1;
}

void SpanMapper::fillResource(uint64_t conn, const Record& identity,
                              otlp::resource::v1::Resource& out) {
  Attrs attrs(out);
  const std::string server = identity.text("appServerName");
  attrs.addString("service.name", server.empty() ? std::string("unknown_service:psdump") : server);
  attrs.addString("host.name", identity.text("nodeName"));
  attrs.addString("halden.command_agent_id", identity.text("commandAgentId"));
  attrs.addString("halden.probe.version",
                  std::to_string(identity.unsignedValue("versionMajor")) + '.' +
                      std::to_string(identity.unsignedValue("versionMinor")) + '.' +
                      std::to_string(identity.unsignedValue("versionMicro")));
  attrs.addInt("halden.admin_port", static_cast<int64_t>(identity.unsignedValue("adminServerPort")));
  attrs.addInt("halden.connection", static_cast<int64_t>(conn));
}

void SpanMapper::fillUnknownResource(uint64_t conn, otlp::resource::v1::Resource& out) {
  Attrs attrs(out);
  attrs.addName("service.name", "unknown_service:psdump");
  attrs.addInt("halden.connection", static_cast<int64_t>(conn));
}

}  // namespace psdump
