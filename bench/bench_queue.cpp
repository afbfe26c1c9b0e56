// The per-record cost of a thread's event queue: appendEvent of one record by
// its producer and its take-off by the event agent (takeFirst and the taken
// counters), with the queue's lock on a raw monitor as the JVM gives it. Also
// the calling thread's id and its record lookup, which every native pays.
#include <benchmark/benchmark.h>

#include <mutex>

#include "agent/ProbeState.h"
#include "events/EventRecord.h"
#include "platform/jvmpi.h"
#include "publish/EvtAgentMgr.h"
#include "threads/ThreadData.h"
#include "threads/ThreadId.h"
#include "threads/ThreadMgr.h"

struct JVMPI_RawMonitorBody {
  std::recursive_mutex mutex;
};

namespace {

// Raw monitors on a standard recursive mutex, the rest of the interface idle.
JVMPI_RawMonitor create(char*) {
  return new JVMPI_RawMonitorBody();
}
void enter(JVMPI_RawMonitor m) {
  m->mutex.lock();
}
void exit(JVMPI_RawMonitor m) {
  m->mutex.unlock();
}
void destroy(JVMPI_RawMonitor m) {
  delete m;
}
jlong cpuTime() {
  return 0;
}

struct Interface {
  JVMPI_Interface table{};
  Interface() {
    table.RawMonitorCreate = create;
    table.RawMonitorEnter = enter;
    table.RawMonitorExit = exit;
    table.RawMonitorDestroy = destroy;
    table.GetCurrentThreadCpuTime = cpuTime;
    jvmpi = &table;
  }
};

void installOnce() {
  static Interface interface;
  if (!evtAgentMgr) {
    evtAgentMgr = new EvtAgentMgr();
    evtAgentMgr->start();
    evtAgentMgr->setMasterRunning(true);
  }
  if (!threadMgr) {
    threadMgr = new ThreadMgr();
    threadMgr->start();
  }
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

}  // namespace

BENCHMARK_MAIN();
