// Correlation tokens: drawing a token under the token lock on one and two
// threads, and the native side of an outgoing invoke (entry gate and start,
// entry gate and end), once inside an open request, whose token the thread
// already holds, and once alone, where every pair draws a token and prints
// it to standard error (run with 2>/dev/null). Compare with the HTTP pair
// of bench_queue.
#include <benchmark/benchmark.h>

#include "BenchProbe.h"
#include "events/EventRecord.h"
#include "requests/GpsCounter.h"
#include "requests/GpsRequests.h"
#include "requests/Requests.h"
#include "threads/EntryGate.h"
#include "threads/ThreadData.h"

namespace {

void BM_GetNextGpsToken(benchmark::State& state) {
  bench::startProbeOnce();
  for (auto _ : state) benchmark::DoNotOptimize(getNextGpsToken());
}
BENCHMARK(BM_GetNextGpsToken)->Threads(1)->Threads(2)->UseRealTime();

// Empties the thread's queue outside the timing now and then, as the event
// agent would.
void drainNowAndThen(benchmark::State& state, ThreadData* data, long n) {
  if (n % 2000 != 0) return;
  state.PauseTiming();
  bench::drainQueue(data);
  state.ResumeTiming();
}

void invokePairs(benchmark::State& state, bool insideRequest) {
  bench::startProbeOnce();
  JNIEnv* env = reinterpret_cast<JNIEnv*>(0x7f7100003000 + state.thread_index() * 64 +
                                          (insideRequest ? 0 : 0x100000));
  ThreadData* data = nullptr;
  passEntryGate(env, &data);
  if (insideRequest) startNativeHttpRequest(env, data, "/cart", "shop", "/shop/cart", "");
  long n = 0;
  for (auto _ : state) {
    ThreadData* d;
    if (passEntryGate(env, &d)) startNativeGpsInvokeRequest(env, d);
    if (passEntryGate(env, &d)) endNativeGpsInvokeRequest(env, d);
    drainNowAndThen(state, data, ++n);
  }
  if (insideRequest) finishNativeHttpRequest(env, data, "/cart");
}

void BM_GpsInvokePairInRequest(benchmark::State& state) {
  invokePairs(state, true);
}
BENCHMARK(BM_GpsInvokePairInRequest)->Threads(1)->Threads(2)->UseRealTime();

void BM_GpsInvokePairDrawingTokens(benchmark::State& state) {
  invokePairs(state, false);
}
BENCHMARK(BM_GpsInvokePairDrawingTokens)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
