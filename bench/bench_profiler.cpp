// The profiler event handler's hottest paths: a method entry and exit pair
// through notifyEvent (method found, class monitored, gate open), without and
// with method-level sync, next to its floor of two thread CPU clock reads and
// two wall-clock reads; and the load of a class with 50 methods.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "BenchProbe.h"
#include "config/ProbeState.h"
#include "events/EventRecord.h"
#include "platform/os.h"
#include "profiler/ClassTable.h"
#include "profiler/EventHandler.h"
#include "profiler/MethodLevelOptions.h"
#include "profiler/MethodLevelOptionsTestAccess.h"
#include "profiler/Tables.h"
#include "publish/EventAgent.h"
#include "publish/EvtAgentMgr.h"
#include "threads/ThreadData.h"
#include "threads/ThreadMgr.h"

namespace {

JNIEnv* const kEnv = reinterpret_cast<JNIEnv*>(0x7e7000004000);

void installOnce() {
  static const bool ready = [] {
    bench::startProbe();
    setMethodLevelOptions(false, 150, 5000);
    createMethodAndClassTables();
    // One monitored class whose method 8 the pairs call.
    JVMPI_Method method{"work", "()V", 0, 0, 8};
    JVMPI_Event load{};
    load.event_type = JVMPI_EVENT_CLASS_LOAD;
    load.env_id = kEnv;
    load.u.class_load.class_name = "bench/Hot";
    load.u.class_load.num_methods = 1;
    load.u.class_load.methods = &method;
    load.u.class_load.class_id = 1;
    notifyEvent(&load);
    return true;
  }();
  (void)ready;
}

void drain(ThreadData* data) {
  while (EventRecord* r = data->takeFirst()) {
    data->recordTaken(r);
    delete r;
  }
}

void methodPairs(benchmark::State& state, bool sync) {
  installOnce();
  setMethodLevelSync(sync);
  ThreadData* data = threadMgr->getThreadData(kEnv);
  JVMPI_Event entry{};
  entry.event_type = JVMPI_EVENT_METHOD_ENTRY;
  entry.env_id = kEnv;
  entry.u.method.method_id = 8;
  JVMPI_Event exit = entry;
  exit.event_type = JVMPI_EVENT_METHOD_EXIT;
  long n = 0;
  for (auto _ : state) {
    notifyEvent(&entry);
    notifyEvent(&exit);
    if (++n % 2000 == 0) {
      state.PauseTiming();
      drain(data);
      state.ResumeTiming();
    }
  }
  drain(data);
  setMethodLevelSync(false);
}

void BM_MethodPair(benchmark::State& state) {
  methodPairs(state, false);
}
BENCHMARK(BM_MethodPair);

void BM_MethodPairWithSync(benchmark::State& state) {
  methodPairs(state, true);
}
BENCHMARK(BM_MethodPairWithSync);

// What every pair must pay: the thread CPU clock and the wall clock, twice.
void BM_MethodPairFloor(benchmark::State& state) {
  for (auto _ : state) {
    uint32_t seconds, micros;
    benchmark::DoNotOptimize(bench::threadCpuTime());
    os::wallClock(&seconds, &micros);
    benchmark::DoNotOptimize(seconds);
    benchmark::DoNotOptimize(bench::threadCpuTime());
    os::wallClock(&seconds, &micros);
    benchmark::DoNotOptimize(micros);
  }
}
BENCHMARK(BM_MethodPairFloor);

// A class of 50 methods loaded (and, outside the timing, unloaded again with
// method-level sync so that the table stays small).
void BM_ClassLoad50Methods(benchmark::State& state) {
  installOnce();
  std::vector<std::string> names;
  for (int i = 0; i < 50; i++) names.push_back("method" + std::to_string(i));
  std::vector<JVMPI_Method> methods(50);
  JVMPI_Event load{};
  load.event_type = JVMPI_EVENT_CLASS_LOAD;
  load.env_id = kEnv;
  load.u.class_load.class_name = "bench/Fifty";
  load.u.class_load.num_methods = 50;
  load.u.class_load.methods = methods.data();
  jobjectID classId = 100;
  for (auto _ : state) {
    classId++;
    for (int i = 0; i < 50; i++)
      methods[i] = {names[i].c_str(), "(Ljava/lang/String;)V", 0, 0, classId * 512 + i * 8};
    load.u.class_load.class_id = classId;
    notifyEvent(&load);
    state.PauseTiming();
    setMethodLevelOptions(true, -1, 0);
    ClassEntry* entry = classTable()->holdById(classId);
    classTable()->unload(entry);
    releaseClassEntry(entry);
    setMethodLevelOptions(false, 150, 5000);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ClassLoad50Methods)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
