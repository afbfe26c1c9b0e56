// The profiler interface for benchmarks: raw monitors on a standard recursive
// mutex (close to an uncontended JVM raw monitor) and the real thread CPU
// clock; everything else idle. Installed once for the whole run.
#pragma once

#include <time.h>

#include <mutex>

#include "platform/jvmpi.h"

struct JVMPI_RawMonitorBody {
  std::recursive_mutex mutex;
};

namespace bench {

inline JVMPI_RawMonitor createMonitor(char*) {
  return new JVMPI_RawMonitorBody();
}
inline void enterMonitor(JVMPI_RawMonitor m) {
  m->mutex.lock();
}
inline void exitMonitor(JVMPI_RawMonitor m) {
  m->mutex.unlock();
}
inline void destroyMonitor(JVMPI_RawMonitor m) {
  delete m;
}

// The thread CPU clock, as the JVM reads it for GetCurrentThreadCpuTime.
inline jlong threadCpuTime() {
  struct timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<jlong>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

inline void installInterface() {
  static JVMPI_Interface table = [] {
    JVMPI_Interface t{};
    t.RawMonitorCreate = createMonitor;
    t.RawMonitorEnter = enterMonitor;
    t.RawMonitorExit = exitMonitor;
    t.RawMonitorDestroy = destroyMonitor;
    t.GetCurrentThreadCpuTime = threadCpuTime;
    return t;
  }();
  jvmpi = &table;
}

}  // namespace bench
