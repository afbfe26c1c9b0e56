// What the OTLP export's libraries cost at the least, per span and per
// record, for the request trees of bench/psdump/run.sh (an HTTP request
// with an EJB call, three SQL statements and a JMS send: 6 spans from 12
// records, so 2 records per span):
//   Serialise    ByteSizeLong and serialising a chunk of spans already built
//   BuildSpans   the SpanMapper writing the spans of those requests over the
//                messages of the chunk before (as the exporter does)
//   Exporter     the whole exporter (build, serialise, batch) with a
//                transport that drops every body: what psdump pays per span
//                but for the post
//   CurlPost     the libcurl transport posting a batch body of 2048 spans to
//                a loopback sink that reads and discards it and answers 200
//   KernelWrite  write() of a body of that size over a plain loopback TCP
//                socket: the floor under any HTTP client
// The sink is a thread of its own; the time reported is the CPU time of the
// benchmark's thread only. "record" is the time per record of the stream
// (the figure to set beside psdump --summary-only's ns per record).
//
//   build-rel/tools/psdump/bench_psdump_otlp
//       --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "HttpTransport.h"
#include "OtlpExporter.h"
#include "SpanMapper.h"

namespace {

using opentelemetry::proto::collector::trace::v1::ExportTraceServiceRequest;
using psdump::Call;
using psdump::CallKind;
using psdump::Request;

constexpr int kChunkSpans = 128;   // the exporter's chunk
constexpr int kBatchSpans = 2048;  // the exporter's default batch
constexpr int kSpansPerRequest = 6;
constexpr int kRecordsPerSpan = 2;

const char* const kPages[] = {
    "/shop/cart",       "/shop/checkout",        "/shop/search?q=tea", "/account/orders",
    "/account/profile", "/catalog/item?id=1234", "/catalog/list",      "/help"};

Call call(CallKind kind, uint64_t& offset, int64_t& wall, int64_t& cpu, std::string name,
          std::string detail, std::string label) {
  Call c;
  c.kind = kind;
  c.depth = 1;
  c.mod = 2;
  c.offset = offset;
  offset += 60;
  c.beginWall = wall;
  c.beginCpu = cpu;
  c.name = std::move(name);
  c.detail = std::move(detail);
  c.label = std::move(label);
  return c;
}

void end(Call& c, uint64_t& offset, int64_t& wall, int64_t& cpu) {
  wall += 1000;
  cpu += 45000;
  c.endWall = wall;
  c.endCpu = cpu;
  c.endOffset = offset;
  offset += 40;
}

// Request n of the benchmark's capture: the same texts, the same calls.
Request benchRequest(uint64_t n) {
  uint64_t offset = 100 + 1100 * n;
  int64_t wall = 1700000000000000 + 20000 * static_cast<int64_t>(n);
  int64_t cpu = 1000000 * static_cast<int64_t>(n);
  const std::string page = kPages[n % 8];
  Request q;
  q.conn = 1;
  q.thread = 0x7f001000u + static_cast<uint32_t>(n % 8) * 0x100u;
  q.root = call(CallKind::Http, offset, wall, cpu, page, "DemoShop", "GET " + page);
  Call ejb = call(CallKind::Ejb, offset, wall, cpu, "OrderBean.find", "DemoShop", "ejb/OrderBean");
  for (int i = 1; i <= 3; ++i) {
    Call sql = call(CallKind::Sql, offset, wall, cpu,
                    "SELECT id, total, status, created FROM orders WHERE customer = ? AND page = " +
                        std::to_string(i) + " ORDER BY created DESC",
                    "jdbc/shop", "");
    end(sql, offset, wall, cpu);
    ejb.calls.push_back(std::move(sql));
  }
  end(ejb, offset, wall, cpu);
  q.root.calls.push_back(std::move(ejb));
  Call jms = call(CallKind::Jms, offset, wall, cpu, "queue/orders", "OrderPlaced", "");
  end(jms, offset, wall, cpu);
  q.root.calls.push_back(std::move(jms));
  end(q.root, offset, wall, cpu);
  q.nestedCalls = 5;
  return q;
}

std::vector<Request> benchRequests(int spans) {
  std::vector<Request> requests;
  for (int i = 0; i * kSpansPerRequest < spans; ++i) requests.push_back(benchRequest(i));
  return requests;
}

// A chunk as the exporter builds it: one resource, one scope, the spans.
struct Chunk {
  ExportTraceServiceRequest message;
  psdump::SpanSlots slots;
  psdump::SpanMapper mapper{7};

  Chunk() : slots(*message.add_resource_spans()->add_scope_spans()) {
    psdump::SpanMapper::fillUnknownResource(1, *message.mutable_resource_spans(0)->mutable_resource());
    message.mutable_resource_spans(0)->mutable_scope_spans(0)->mutable_scope()->set_name("psdump");
  }
  size_t build(const std::vector<Request>& requests) {
    slots.restart();
    size_t spans = 0;
    for (const Request& q : requests) spans += mapper.addRequest(q, false, slots);
    slots.trim();
    return spans;
  }
};

void perSpanAndRecord(benchmark::State& state, double spansPerIteration) {
  const auto flags = benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert;
  state.counters["span"] = benchmark::Counter(spansPerIteration, flags);
  state.counters["record"] = benchmark::Counter(spansPerIteration * kRecordsPerSpan, flags);
}

void Serialise(benchmark::State& state) {
  Chunk chunk;
  const size_t spans = chunk.build(benchRequests(kChunkSpans));
  std::string body;
  for (auto _ : state) {
    const size_t size = chunk.message.ByteSizeLong();
    body.resize(size);
    chunk.message.SerializeWithCachedSizesToArray(reinterpret_cast<uint8_t*>(&body[0]));
    benchmark::DoNotOptimize(body.data());
  }
  perSpanAndRecord(state, static_cast<double>(spans));
  state.counters["bytes_per_span"] = static_cast<double>(body.size()) / static_cast<double>(spans);
}
BENCHMARK(Serialise);

void BuildSpans(benchmark::State& state) {
  Chunk chunk;
  const std::vector<Request> requests = benchRequests(kChunkSpans);
  size_t spans = 0;
  for (auto _ : state) {
    spans = chunk.build(requests);
    benchmark::ClobberMemory();
  }
  perSpanAndRecord(state, static_cast<double>(spans));
}
BENCHMARK(BuildSpans);

class DiscardTransport : public psdump::Transport {
 public:
  psdump::PostResult post(const std::string&, bool) override {
    psdump::PostResult r;
    r.connected = true;
    r.status = 200;
    return r;
  }
};

void Exporter(benchmark::State& state) {
  psdump::OtlpOptions options;
  options.url = "http://127.0.0.1:1/v1/traces";
  options.queueTraces = 1u << 30;
  options.batchDelaySec = 3600;
  const std::vector<Request> requests = benchRequests(kBatchSpans);
  FILE* err = std::tmpfile();
  psdump::OtlpExporter exporter(options, std::make_unique<DiscardTransport>(), 7,
                                err != nullptr ? err : stderr);
  for (auto _ : state) {
    for (const Request& q : requests) exporter.request(q, false);
  }
  perSpanAndRecord(state, static_cast<double>(requests.size() * kSpansPerRequest));
  exporter.finish();
  if (err != nullptr) std::fclose(err);
}
BENCHMARK(Exporter);

// A loopback listener on a thread of its own that reads and discards what
// each connection sends; as an HTTP sink it answers every request 200 (the
// bodies come with Content-Length, one request at a time).
class Sink {
 public:
  explicit Sink(bool http) : http_(http) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~Sink() {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }

 private:
  void serve() {
    for (;;) {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      http_ ? answer(fd) : drain(fd);
      ::close(fd);
    }
  }
  static void drain(int fd) {
    std::vector<char> buf(1 << 20);
    while (::read(fd, buf.data(), buf.size()) > 0) {
    }
  }
  static void answer(int fd) {
    std::vector<char> buf(1 << 20);
    std::string head;
    for (;;) {
      // The head, up to its blank line; then the rest of the body.
      size_t endOfHead;
      while ((endOfHead = head.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n <= 0) return;
        head.append(buf.data(), static_cast<size_t>(n));
      }
      const size_t at = head.find("Content-Length:");
      const size_t length = at == std::string::npos ? 0 : std::stoul(head.substr(at + 15));
      size_t have = head.size() - endOfHead - 4;
      std::string rest = have > length ? head.substr(endOfHead + 4 + length) : std::string();
      while (have < length) {
        const ssize_t n = ::read(fd, buf.data(), std::min(buf.size(), length - have));
        if (n <= 0) return;
        have += static_cast<size_t>(n);
      }
      static const char kOk[] =
          "HTTP/1.1 200 OK\r\nContent-Type: application/x-protobuf\r\nContent-Length: 0\r\n\r\n";
      if (::write(fd, kOk, sizeof kOk - 1) != static_cast<ssize_t>(sizeof kOk - 1)) return;
      head = std::move(rest);
    }
  }

  bool http_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// A batch body as the exporter writes it: its chunks one after another.
std::string batchBody(size_t& spans) {
  Chunk chunk;
  const std::vector<Request> requests = benchRequests(kBatchSpans);
  std::string body;
  spans = 0;
  for (size_t i = 0; i < requests.size(); i += kChunkSpans / kSpansPerRequest) {
    const std::vector<Request> part(
        requests.begin() + static_cast<long>(i),
        requests.begin() + static_cast<long>(std::min(requests.size(), i + kChunkSpans / kSpansPerRequest)));
    spans += chunk.build(part);
    body += chunk.message.SerializeAsString();
  }
  return body;
}

void CurlPost(benchmark::State& state) {
  size_t spans = 0;
  const std::string body = batchBody(spans);
  Sink sink(true);
  std::string error;
  auto transport = psdump::makeHttpTransport(
      "http://127.0.0.1:" + std::to_string(sink.port()) + "/v1/traces", 10, error);
  if (transport == nullptr || sink.port() == 0) {
    state.SkipWithError(("no transport: " + error).c_str());
    return;
  }
  for (auto _ : state) {
    const psdump::PostResult r = transport->post(body, false);
    if (!r.connected || r.status != 200) {
      state.SkipWithError(("post failed: " + r.error).c_str());
      break;
    }
  }
  perSpanAndRecord(state, static_cast<double>(spans));
  state.counters["body_bytes"] = static_cast<double>(body.size());
  transport.reset();  // closes the connection: the sink's thread can end
}
BENCHMARK(CurlPost);

void KernelWrite(benchmark::State& state) {
  size_t spans = 0;
  const std::string body = batchBody(spans);
  Sink sink(false);
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(sink.port()));
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    state.SkipWithError("no loopback connection");
    if (fd >= 0) ::close(fd);
    return;
  }
  for (auto _ : state) {
    for (size_t done = 0; done < body.size();) {
      const ssize_t n = ::write(fd, body.data() + done, body.size() - done);
      if (n <= 0) {
        state.SkipWithError("write failed");
        break;
      }
      done += static_cast<size_t>(n);
    }
  }
  perSpanAndRecord(state, static_cast<double>(spans));
  ::close(fd);
}
BENCHMARK(KernelWrite);

}  // namespace

BENCHMARK_MAIN();
