// Reading a heap dump of the shape the JVMTI-backed table writes for a heap
// of 1 million small objects of a few classes, and making its summary text.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "platform/JvmtiHeapDump.h"
#include "profiler/HeapDumpParser.h"

namespace {

bool classInfo(void*, jobjectID classId, HeapClassInfo* info) {
  std::snprintf(info->name, sizeof info->name, "app/Class%u", classId);
  info->classId = classId;
  return true;
}

std::vector<uint8_t> makeDump(int objects) {
  std::vector<uint8_t> dump;
  uint32_t id = 0;
  for (int i = 0; i < objects; i++) {
    jlong tag = i % 10 == 9 ? kPrimitiveArrayTag + 8 : 1 + i % 50;
    jlong size = 16;
    jint length = tag < 0 ? 8 : -1;
    size_t at = dump.size();
    dump.resize(at + heapDumpRecordSize(tag, size, length));
    writeHeapDumpRecord(dump.data() + at, ++id, tag, size, length);
  }
  return dump;
}

void BM_ParseHeapDump(benchmark::State& state) {
  std::vector<uint8_t> dump = makeDump(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    HeapDumpParser parser(&classInfo, nullptr);
    parser.parse(dump.data(), dump.data() + dump.size());
    benchmark::DoNotOptimize(parser.summaryText());
  }
  state.counters["dumpBytes"] = static_cast<double>(dump.size());
}
BENCHMARK(BM_ParseHeapDump)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
