// Serialiser throughput: records per second and bytes per second through
// ProtocolVisitor for the mix a monitored request produces (an HTTP start
// with a 60-byte url, method entries and exits, SQL begins with a 200-byte
// statement and their ends, an HTTP finish), written into a packet buffer
// of the event agent's default size that is started again when full.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "events/ProtocolVisitor.h"

namespace {

constexpr size_t PACKET_LIMIT = 5000 * 1024;
constexpr size_t PACKET_BUFFER = PACKET_LIMIT + 1024 * 1024;

void stamp(EventRecord& r, uint32_t i) {
  r.threadId = 0x7f001000 + (i & 7);
  r.wallSeconds = 1700000000 + i / 1000;
  r.wallMicros = (i * 37) % 1000000;
  r.cpuTime = 1000000LL * i;
}

// One request: HTTP start, 10 method pairs, 2 SQL pairs, HTTP finish.
std::vector<std::unique_ptr<EventRecord>> makeMix(int requests) {
  std::vector<std::unique_ptr<EventRecord>> records;
  const std::string url = "/shop/catalog/items/detail.jsp?item=00012345&category=books";
  const std::string sql(200, 's');
  uint32_t n = 0;
  for (int q = 0; q < requests; q++) {
    auto start = std::make_unique<HttpRequestRecord>(SUBTYPE_BEGIN);
    start->requestName.assign("ItemDetailServlet");
    start->applicationName.assign("ShopApp");
    start->url.assign(url.substr(0, 60).c_str());
    start->detail.assign("");
    start->depth = 1;
    stamp(*start, n++);
    records.push_back(std::move(start));
    for (int m = 0; m < 10; m++) {
      for (int s : {SUBTYPE_BEGIN, SUBTYPE_END}) {
        auto method = std::make_unique<MethodEventRecord>(s);
        method->methodId = 0x1000 + m;
        stamp(*method, n++);
        records.push_back(std::move(method));
      }
    }
    for (int k = 0; k < 2; k++) {
      auto begin = std::make_unique<SqlRecord>(SUBTYPE_BEGIN);
      begin->dataSourceName.assign("jdbc/ShopDS");
      begin->sqlText.assign(sql.c_str());
      begin->depth = 2;
      stamp(*begin, n++);
      records.push_back(std::move(begin));
      auto end = std::make_unique<SqlRecord>(SUBTYPE_END);
      end->depth = 2;
      stamp(*end, n++);
      records.push_back(std::move(end));
    }
    auto finish = std::make_unique<HttpRequestRecord>(SUBTYPE_END);
    finish->depth = 1;
    stamp(*finish, n++);
    records.push_back(std::move(finish));
  }
  return records;
}

void runSerialise(benchmark::State& state,
                  const std::vector<std::unique_ptr<EventRecord>>& records) {
  ProtocolVisitor visitor;
  std::vector<uint8_t> packet(PACKET_BUFFER);
  WireCursor cursor(packet.data() + 7, packet.size() - 7);
  int64_t items = 0, bytes = 0;
  for (auto _ : state) {
    for (const auto& r : records) {
      if (visitor.writeRecord(r.get(), cursor) != WriteResult::Written)
        state.SkipWithError("refused");
      // The event agent's packet limit: send (here: start again) once passed.
      if (static_cast<size_t>(cursor.position() - packet.data()) > PACKET_LIMIT) {
        bytes += cursor.position() - packet.data();
        benchmark::DoNotOptimize(packet.data());
        cursor = WireCursor(packet.data() + 7, packet.size() - 7);
      }
    }
    items += static_cast<int64_t>(records.size());
  }
  bytes += cursor.position() - packet.data();
  state.SetItemsProcessed(items);
  state.SetBytesProcessed(bytes);
}

void BM_SerialiseRequestMix(benchmark::State& state) {
  static const auto records = makeMix(400);  // 10400 records
  runSerialise(state, records);
}
BENCHMARK(BM_SerialiseRequestMix);

void BM_SerialiseMethodRecords(benchmark::State& state) {
  static const auto records = [] {
    std::vector<std::unique_ptr<EventRecord>> r;
    for (uint32_t i = 0; i < 10000; i++) {
      auto m = std::make_unique<MethodEventRecord>(i & 1);
      m->methodId = i;
      stamp(*m, i);
      r.push_back(std::move(m));
    }
    return r;
  }();
  runSerialise(state, records);
}
BENCHMARK(BM_SerialiseMethodRecords);

}  // namespace

BENCHMARK_MAIN();
