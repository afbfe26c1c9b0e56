#include "base/HalLock.h"

#include <cstdio>

#include "platform/os.h"

namespace {
std::atomic<JVMPI_RawMonitor> globalLock{nullptr};
}

HalLock::HalLock() {
  create();
}

HalLock::HalLock(bool createNow) {
  if (createNow) create();
}

HalLock::~HalLock() {
  destroy();
}

// Makes the monitor now when the interface is held. Its name only has to be
// unique in the process: it carries the lock's own address. The monitor is
// published with a compare-and-swap: two threads that meet the uncreated lock
// before the global lock exists both make one, and the loser destroys its own
// and enters the winner's, so they still exclude each other.
bool HalLock::create() {
  if (!jvmpi) return false;
  char name[64];
  std::snprintf(name, sizeof name, "_%lXHalLock",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(this)));
  JVMPI_RawMonitor made = jvmpi->RawMonitorCreate(name);
  JVMPI_RawMonitor none = nullptr;
  if (made && !monitor_.compare_exchange_strong(none, made, std::memory_order_acq_rel))
    jvmpi->RawMonitorDestroy(made);
  return monitor_.load(std::memory_order_acquire) != nullptr;
}

bool HalLock::lock() {
  if (!jvmpi) return false;
  JVMPI_RawMonitor m = monitor_.load(std::memory_order_acquire);
  if (!m) {
    // Double-checked creation: two threads that meet the uncreated lock at
    // once make only one monitor while the global lock exists.
    JVMPI_RawMonitor global = globalLock.load(std::memory_order_acquire);
    if (global) jvmpi->RawMonitorEnter(global);
    if (!monitor_.load(std::memory_order_acquire)) create();
    if (global) jvmpi->RawMonitorExit(global);
    m = monitor_.load(std::memory_order_acquire);
    if (!m) {
      std::fputs("## ERROR: JVMPI could not create a Raw Monitor", stderr);
      return false;
    }
  }
  jvmpi->RawMonitorEnter(m);
  return true;
}

bool HalLock::unlock() {
  JVMPI_RawMonitor m = monitor_.load(std::memory_order_acquire);
  if (!m || !jvmpi) return false;
  jvmpi->RawMonitorExit(m);
  return true;
}

void HalLock::destroy() {
  JVMPI_RawMonitor m = monitor_.exchange(nullptr, std::memory_order_acq_rel);
  if (m && jvmpi) jvmpi->RawMonitorDestroy(m);
}

void HalLock::sleep(long long millis) {
  if (!lock()) return;
  jvmpi->RawMonitorWait(monitor_.load(std::memory_order_acquire), millis);
  unlock();
}

bool createGlobalLock() {
  if (globalLock.load(std::memory_order_acquire)) return true;
  if (!jvmpi) {
    std::fputs("## ERROR: Global lock being created even before initialization of JVMPI \n",
               stderr);
    return false;
  }
  char name[] = "_HalLockGlobalLock";
  JVMPI_RawMonitor made = jvmpi->RawMonitorCreate(name);
  if (!made) {
    std::fputs("## ERROR: JVMPI could not create a Raw Monitor for GlobalLock", stderr);
    return false;
  }
  globalLock.store(made, std::memory_order_release);
  return true;
}

void destroyGlobalLock() {
  JVMPI_RawMonitor m = globalLock.load(std::memory_order_acquire);
  if (m && jvmpi) {
    globalLock.store(nullptr, std::memory_order_release);
    jvmpi->RawMonitorDestroy(m);
  }
}

JVMPI_RawMonitor globalLockMonitor() {
  return globalLock.load(std::memory_order_acquire);
}

void sleepOnMonitor(long long millis) {
  if (jvmpi) {
    HalLock wait(true);
    wait.sleep(millis);
  } else {
    os::sleepMillis(millis);
  }
}
