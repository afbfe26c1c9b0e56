// The OTLP exporter builds each batch over the messages of the batch before:
// every body must be exactly what a fresh exporter sends for the same
// requests, whatever the earlier batches left behind (more spans, resources
// and attributes, a status, a parent, texts of another kind).
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "OtlpExporter.h"

namespace {

using psdump::Call;
using psdump::CallKind;
using psdump::Request;

class RecordingTransport : public psdump::Transport {
 public:
  explicit RecordingTransport(std::vector<std::string>& bodies) : bodies_(bodies) {}
  psdump::PostResult post(const std::string& body, bool) override {
    bodies_.push_back(body);
    psdump::PostResult r;
    r.connected = true;
    r.status = 200;
    return r;
  }

 private:
  std::vector<std::string>& bodies_;
};

Call call(CallKind kind, uint64_t offset, std::string name, std::string detail = "") {
  Call c;
  c.kind = kind;
  c.offset = offset;
  c.endOffset = offset + 40;
  c.beginWall = 1700000000000000 + static_cast<int64_t>(offset);
  c.endWall = c.beginWall + 250;
  c.endCpu = 9000;
  c.mod = 2;
  c.name = std::move(name);
  c.detail = std::move(detail);
  return c;
}

Request request(uint64_t conn, Call root) {
  Request q;
  q.conn = conn;
  q.thread = 77;
  q.nestedCalls = root.calls.size();
  q.root = std::move(root);
  return q;
}

// An erring HTTP request with long texts, a non-ASCII data source and a
// cancelled call.
Request large(uint64_t conn, uint64_t at) {
  Call root = call(CallKind::Http, at, "/shop/checkout?step=2", "DemoShop");
  root.label = "POST /shop/checkout";
  root.error = true;
  root.calls.push_back(call(CallKind::Sql, at + 1,
                            "SELECT id, total FROM orders WHERE customer = ? ORDER BY created",
                            "jdbc/sh\xC3\xB6p-\xFF"));
  root.calls.back().cancelled = true;
  root.calls.push_back(call(CallKind::Jms, at + 2, "queue/orders-with-a-long-name", "OrderPlaced"));
  root.calls.push_back(call(CallKind::Ejb, at + 3, "OrderBean.find", "DemoShop"));
  root.calls.back().calls.push_back(call(CallKind::Lock1, at + 4, "orders-lock-number-one"));
  return request(conn, root);
}

// A receiving request (its root has a parent) whose calls put numbers where
// the large one had texts.
Request received(uint64_t conn, uint64_t at) {
  Call root = call(CallKind::Ejb, at, "Cart.add");
  root.calls.push_back(call(CallKind::Receive, at + 1, "", "0000abcd"));
  Call method = call(CallKind::Method, at + 2, "");
  method.methodId = 12;
  method.unfinished = true;
  root.calls.push_back(method);
  Request q = request(conn, root);
  q.omittedCalls = 3;
  return q;
}

Request small(uint64_t conn, uint64_t at) {
  return request(conn, call(CallKind::Http, at, "/a"));
}

psdump::Record identity(const char* server) {
  psdump::Record r;
  r.packetKind = psdump::PacketKind::Hello;
  r.index = 1;
  r.fields.push_back(psdump::Field::makeText("appServerName", server));
  r.fields.push_back(psdump::Field::makeText("nodeName", "node-with-a-long-name-1"));
  r.fields.push_back(psdump::Field::makeUnsigned("versionMajor", 5));
  return r;
}

// Batches of exactly kBatchSpans spans each, so that every batch is sealed
// by its last request.
constexpr size_t kBatchSpans = 6;
using Batch = std::vector<std::pair<Request, bool>>;  // requests with their open flag

// The bodies of one exporter fed every batch (fresh: an exporter per batch).
std::vector<std::string> post(const std::vector<Batch>& batches, bool fresh) {
  std::vector<std::string> bodies;
  psdump::OtlpOptions options;
  options.url = "http://127.0.0.1:1/v1/traces";
  options.batchSpans = kBatchSpans;
  options.batchDelaySec = 3600;
  FILE* err = std::tmpfile();
  std::unique_ptr<psdump::OtlpExporter> exporter;
  for (const Batch& batch : batches) {
    if (exporter == nullptr || fresh) {
      if (exporter != nullptr) exporter->finish();
      exporter = std::make_unique<psdump::OtlpExporter>(
          options, std::make_unique<RecordingTransport>(bodies), 7, err);
      exporter->identity(1, identity("server-one"));
    }
    for (const auto& q : batch) exporter->request(q.first, q.second);
  }
  exporter->finish();
  if (err != nullptr) std::fclose(err);
  return bodies;
}

TEST(OtlpBatchReuse, EveryBodyIsWhatAFreshExporterSends) {
  const std::vector<Batch> batches = {
      // Two resources, the first with its identity; an erring root.
      {{large(1, 100), false}, {small(2, 200), false}},
      // Fewer spans in the first resource, now one without an identity;
      // roots with a parent, numbers where texts were.
      {{received(2, 300), true}, {received(3, 400), false}},
      // One resource left; no parent, no status.
      {{small(1, 500), false},
       {small(1, 510), false},
       {small(1, 520), false},
       {small(1, 530), false},
       {small(1, 540), false},
       {small(1, 550), true}},
      // Growing again.
      {{large(2, 600), false}, {small(3, 700), false}},
  };
  const std::vector<std::string> reused = post(batches, false);
  const std::vector<std::string> fresh = post(batches, true);
  ASSERT_EQ(reused.size(), batches.size());
  ASSERT_EQ(fresh.size(), batches.size());
  for (size_t i = 0; i < batches.size(); ++i) {
    EXPECT_EQ(reused[i], fresh[i]) << "batch " << i + 1;
    opentelemetry::proto::collector::trace::v1::ExportTraceServiceRequest body;
    ASSERT_TRUE(body.ParseFromString(reused[i]));
    size_t spans = 0;
    for (const auto& rs : body.resource_spans()) {
      for (const auto& ss : rs.scope_spans()) spans += static_cast<size_t>(ss.spans_size());
    }
    EXPECT_EQ(spans, kBatchSpans) << "batch " << i + 1;
  }
}

// A batch is serialised a chunk of spans at a time: a large batch, with
// runs of requests from two connections that cross the chunk size, holds
// every span once, each under its own connection's resource.
TEST(OtlpBatchReuse, ABatchOfManyChunksHoldsEverySpanOnceUnderItsConnection) {
  std::vector<std::string> bodies;
  psdump::OtlpOptions options;
  options.url = "http://127.0.0.1:1/v1/traces";
  options.batchSpans = 100000;
  options.batchDelaySec = 3600;
  FILE* err = std::tmpfile();
  {
    psdump::OtlpExporter exporter(options, std::make_unique<RecordingTransport>(bodies), 7, err);
    exporter.identity(1, identity("server-one"));
    exporter.identity(2, identity("server-two"));
    for (uint64_t i = 0; i < 100; ++i) exporter.request(large(1 + i / 30 % 2, 1000 * i), false);
    exporter.finish();
  }
  if (err != nullptr) std::fclose(err);
  ASSERT_EQ(bodies.size(), 1u);
  opentelemetry::proto::collector::trace::v1::ExportTraceServiceRequest body;
  ASSERT_TRUE(body.ParseFromString(bodies[0]));
  std::set<int64_t> offsets;
  size_t spans = 0;
  for (const auto& rs : body.resource_spans()) {
    std::map<std::string, const opentelemetry::proto::common::v1::AnyValue*> res;
    for (const auto& kv : rs.resource().attributes()) res[kv.key()] = &kv.value();
    ASSERT_TRUE(res.count("halden.connection") && res.count("service.name"));
    const int64_t conn = res["halden.connection"]->int_value();
    EXPECT_EQ(res["service.name"]->string_value(), conn == 1 ? "server-one" : "server-two");
    for (const auto& ss : rs.scope_spans()) {
      for (const auto& span : ss.spans()) {
        ++spans;
        for (const auto& kv : span.attributes()) {
          if (kv.key() != "halden.offset") continue;
          offsets.insert(kv.value().int_value());
          // Request i begins at offset 1000 i, on connection 1 + i / 30 % 2.
          EXPECT_EQ(conn, static_cast<int64_t>(1 + kv.value().int_value() / 1000 / 30 % 2));
        }
      }
    }
  }
  EXPECT_EQ(spans, 500u);
  EXPECT_EQ(offsets.size(), 500u);
}

// What is the request's is said on its root only: a nested call names its
// application only where it differs from the root's; the connection is the
// resource's; the path is not passed off as a route.
TEST(OtlpBatchReuse, TheRequestsOwnAttributesAreSaidOnTheRootOnly) {
  Call root = call(CallKind::Http, 100, "/shop/cart", "DemoShop");
  root.calls.push_back(call(CallKind::Ejb, 101, "CartBean.add", "DemoShop"));
  root.calls.push_back(call(CallKind::Ejb, 102, "StockBean.take", "StockApp"));
  opentelemetry::proto::trace::v1::ScopeSpans scope;
  psdump::SpanSlots slots(scope);
  ASSERT_EQ(psdump::SpanMapper(7).addRequest(request(3, root), false, slots), 3u);
  const std::vector<std::string> expected = {"DemoShop", "", "StockApp"};
  for (int i = 0; i < 3; ++i) {
    std::map<std::string, std::string> attrs;
    for (const auto& kv : scope.spans(i).attributes()) attrs[kv.key()] = kv.value().string_value();
    EXPECT_EQ(attrs.count("halden.application") ? attrs["halden.application"] : "", expected[i])
        << "span " << i;
    EXPECT_EQ(attrs.count("halden.connection"), 0u) << "span " << i;
    EXPECT_EQ(attrs.count("http.route"), 0u) << "span " << i;
  }
}

}  // namespace
