// The per-record cost of a thread's event queue: appendEvent of one record by
// its producer and its take-off by the event agent (takeFirst and the taken
// counters), with the queue's own lock. Also the calling thread's id and its
// record lookup, which every native pays, and the native side of an HTTP
// request's start and finish. The thread CPU clock read for every record is
// the real one (a system call on Linux, a large part of the pair's cost).
#include <benchmark/benchmark.h>

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

}  // namespace

BENCHMARK_MAIN();
