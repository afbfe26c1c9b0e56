// A lock on a JVM raw monitor, created on first use. Raw monitors let the JVM
// see the agent's waits; until the profiler interface is obtained, lock() and
// unlock() answer false and callers go on without mutual exclusion.
#pragma once

#include <atomic>

#include "platform/jvmpi.h"

class HalLock {
 public:
  // Eager form: the monitor is made now when the interface is held.
  HalLock();
  // Deferred form: made now only when createNow is true, otherwise at the
  // first lock().
  explicit HalLock(bool createNow);
  ~HalLock();
  HalLock(const HalLock&) = delete;
  HalLock& operator=(const HalLock&) = delete;

  bool lock();
  bool unlock();
  // Destroys the monitor; a later lock() makes a new one.
  void destroy();
  // Sleeps by waiting on the monitor; nobody notifies it, so the wait runs to
  // its time-out.
  void sleep(long long millis);

  JVMPI_RawMonitor monitor() const { return monitor_.load(std::memory_order_acquire); }

 private:
  bool create();
  std::atomic<JVMPI_RawMonitor> monitor_{nullptr};
};

// Sleeps on a raw monitor made for the wait (so the JVM sees the agent
// thread waiting), or on the OS while the interface is not held.
void sleepOnMonitor(long long millis);

// The process-wide monitor that serialises the lazy creation of all others.
bool createGlobalLock();
void destroyGlobalLock();
JVMPI_RawMonitor globalLockMonitor();

// Holds a HalLock for a scope.
class HalLockGuard {
 public:
  explicit HalLockGuard(HalLock& lock) : lock_(lock) { lock_.lock(); }
  ~HalLockGuard() { lock_.unlock(); }
  HalLockGuard(const HalLockGuard&) = delete;
  HalLockGuard& operator=(const HalLockGuard&) = delete;

 private:
  HalLock& lock_;
};
