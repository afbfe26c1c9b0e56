// The per-record cost of a thread's event queue: appendEvent of one record by
// its producer and its take-off by the event agent (takeFirst and the taken
// counters), with the queue's own lock. Also the calling thread's id and its
// record lookup, which every native pays, and the native side of an HTTP
// request's start and finish, its queue emptied on the same thread or by
// another one. The thread CPU clock read for every record is the real one (a
// system call on Linux, a large part of the pair's cost); the two clock reads
// alone, and the pair with a clock that makes no system call, tell the
// library's own work from what the system calls cost the work around them.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "BenchProbe.h"
#include "config/ProbeState.h"
#include "events/EventRecord.h"
#include "platform/jvmpi.h"
#include "publish/EventAgent.h"
#include "publish/EvtAgentMgr.h"
#include "requests/Requests.h"
#include "threads/EntryGate.h"
#include "threads/TextLimits.h"
#include "threads/ThreadData.h"
#include "threads/ThreadId.h"
#include "threads/ThreadMgr.h"

namespace {

// Sets up the interface, the managers and the enabled probe once, whichever
// benchmark thread comes first.
void installOnce() {
  static const bool ready = [] {
    bench::startProbe();
    setTextLimits(readTextLimitSettings());
    return true;
  }();
  (void)ready;
}

void BM_AppendAndTakeOneRecord(benchmark::State& state) {
  installOnce();
  ThreadData* data = threadMgr->getSpecialThreadData(0x7f70);
  for (auto _ : state) {
    data->appendEvent(new EventRecord(4, 0, 72));
    EventRecord* r = data->takeFirst();
    data->recordTaken(r);
    delete r;
  }
  benchmark::DoNotOptimize(data->queuedBytes());
}
BENCHMARK(BM_AppendAndTakeOneRecord);

// The same with the queue holding 1000 records, as under load.
void BM_AppendAndTakeBehind1000(benchmark::State& state) {
  installOnce();
  ThreadData* data = threadMgr->getSpecialThreadData(0x7f78);
  for (int i = 0; i < 1000; i++) data->appendEvent(new EventRecord(4, 0, 72));
  for (auto _ : state) {
    data->appendEvent(new EventRecord(4, 0, 72));
    EventRecord* r = data->takeFirst();
    data->recordTaken(r);
    delete r;
  }
}
BENCHMARK(BM_AppendAndTakeBehind1000);

void BM_OwnThreadId(benchmark::State& state) {
  JNIEnv* env = reinterpret_cast<JNIEnv*>(0x7f7000001000);
  for (auto _ : state) benchmark::DoNotOptimize(threadIdOf(env));
}
BENCHMARK(BM_OwnThreadId);

void BM_GetThreadData(benchmark::State& state) {
  installOnce();
  JNIEnv* env = reinterpret_cast<JNIEnv*>(0x7f7000002000);
  for (auto _ : state) benchmark::DoNotOptimize(threadMgr->getThreadData(env));
}
BENCHMARK(BM_GetThreadData);

// The native side of one HTTP request: entry gate and start, entry gate and
// finish, with three short texts (the JNI string fetches are not included).
// The queue is emptied outside the timing now and then, as the event agent
// would.
void BM_HttpRequestPair(benchmark::State& state) {
  installOnce();
  JNIEnv* env = reinterpret_cast<JNIEnv*>(0x7f7000003000 + state.thread_index() * 64);
  ThreadData* data = nullptr;
  passEntryGate(env, &data);
  long n = 0;
  for (auto _ : state) {
    ThreadData* d;
    if (passEntryGate(env, &d)) startNativeHttpRequest(env, d, "/cart", "shop", "/shop/cart", "");
    if (passEntryGate(env, &d)) finishNativeHttpRequest(env, d, "/cart");
    if (++n % 2000 == 0) {
      state.PauseTiming();
      while (EventRecord* r = data->takeFirst()) {
        data->recordTaken(r);
        delete r;
      }
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_HttpRequestPair)->Threads(1)->Threads(2)->UseRealTime();

// What BM_HttpRequestPair pays for its two clock reads alone.
void BM_CpuClockPair(benchmark::State& state) {
  installOnce();
  for (auto _ : state) {
    benchmark::DoNotOptimize(jvmpi->GetCurrentThreadCpuTime());
    benchmark::DoNotOptimize(jvmpi->GetCurrentThreadCpuTime());
  }
}
BENCHMARK(BM_CpuClockPair);

// BM_HttpRequestPair with a CPU clock that makes no system call: the
// library's own work per pair with the caches it leaves warm. Against
// BM_HttpRequestPair less BM_CpuClockPair, it shows what the system calls
// cost the work around them on this host (a system call that empties the
// TLB or the caches makes every line touched after it a miss).
jlong countingClock() {
  static jlong ticks = 0;
  return ++ticks;
}

void BM_HttpRequestPairWithoutClockCall(benchmark::State& state) {
  installOnce();
  jlong (*realClock)() = jvmpi->GetCurrentThreadCpuTime;
  jvmpi->GetCurrentThreadCpuTime = countingClock;
  BM_HttpRequestPair(state);
  jvmpi->GetCurrentThreadCpuTime = realClock;
}
BENCHMARK(BM_HttpRequestPairWithoutClockCall);

// BM_HttpRequestPair with the queue drained on another thread every 50 ms,
// as the event agent drains it in bench/jvm/run.sh: the records, and the
// slabs they are made in, move between the cores.
void BM_HttpRequestPairDrainedElsewhere(benchmark::State& state) {
  installOnce();
  JNIEnv* env = reinterpret_cast<JNIEnv*>(0x7f7000004000);
  ThreadData* data = nullptr;
  if (!passEntryGate(env, &data) || !data) {
    state.SkipWithError("no thread record");
    return;
  }
  auto drain = [data] {
    EventQueue::Chain chain = data->takeAll();
    EventQueue::Taken taken;
    while (EventRecord* r = chain.pop()) {
      taken.add(r);
      delete r;
    }
    data->recordTaken(taken);
  };
  std::atomic<bool> done{false};
  std::thread drainer([&] {
    while (!done.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      drain();
    }
  });
  for (auto _ : state) {
    ThreadData* d;
    if (passEntryGate(env, &d)) startNativeHttpRequest(env, d, "/cart", "shop", "/shop/cart", "");
    if (passEntryGate(env, &d)) finishNativeHttpRequest(env, d, "/cart");
  }
  done.store(true);
  drainer.join();
  drain();
}
BENCHMARK(BM_HttpRequestPairDrainedElsewhere)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
