// Container costs: HalHashTable::get with pointer keys in a table with
// per-bucket locks (the thread table's shape: 64 requested buckets, 67 used),
// from 1 and 2 threads, and HalList append + removeFirst with and without its
// lock. The raw monitors are a minimal table on std::recursive_mutex, close
// to what a JVM's raw monitor costs when uncontended.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "BenchInterface.h"
#include "base/HalHashTable.h"
#include "base/HalList.h"
#include "platform/jvmpi.h"

namespace {

constexpr int kKeys = 1000;  // about 15 per chain in 67 buckets

// One table and its keys shared by all threads of a run.
struct Shared {
  Shared() : table(64, false, true) {
    for (int i = 0; i < kKeys; i++) {
      keys.emplace_back(new int(i));
      table.put(keys.back().get(), keys.back().get());
    }
  }
  HalHashTable<void*, void*> table;
  std::vector<std::unique_ptr<int>> keys;
};

Shared* shared = nullptr;

void BM_HashTableGetPointerKeys(benchmark::State& state) {
  if (state.thread_index() == 0) {
    bench::installInterface();
    shared = new Shared();
  }
  // The framework starts every thread's timed loop together, after setup.
  uint32_t i = static_cast<uint32_t>(state.thread_index()) * 7919;
  for (auto _ : state) {
    void* key = shared->keys[i % kKeys].get();
    benchmark::DoNotOptimize(shared->table.get(key));
    i += 13;
  }
  state.SetItemsProcessed(state.iterations());
  // Every thread has left the timed loop when the first one gets here.
  if (state.thread_index() == 0) {
    delete shared;
    shared = nullptr;
  }
}
BENCHMARK(BM_HashTableGetPointerKeys)->Threads(1)->Threads(2)->UseRealTime();

void BM_HashTableGetPointerKeysNoLocks(benchmark::State& state) {
  HalHashTable<void*, void*> table(64, false, false);
  std::vector<std::unique_ptr<int>> keys;
  for (int i = 0; i < kKeys; i++) {
    keys.emplace_back(new int(i));
    table.put(keys.back().get(), keys.back().get());
  }
  uint32_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.get(keys[i % kKeys].get()));
    i += 13;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HashTableGetPointerKeysNoLocks);

void BM_ListAppendRemoveFirst(benchmark::State& state) {
  bench::installInterface();
  HalList<int*> list(state.range(0) != 0);
  int element = 0;
  for (auto _ : state) {
    list.append(&element);
    benchmark::DoNotOptimize(list.removeFirst());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ListAppendRemoveFirst)->ArgName("locking")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
