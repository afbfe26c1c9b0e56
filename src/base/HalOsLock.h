// A lock on an operating-system mutex, used by the class and method tables.
// The owner may take it again; others wait in ten-second slices, never
// failing on the time-out. There is no destroy: these live for the process.
//
// The mutex is named after the lock's address, "_%XHalOsLock", followed by
// "_" and the process id: a library loaded at the same address in two
// processes would otherwise share its locks across them through the names.
#pragma once

#include <string>

#include "platform/os.h"

class HalOsLock {
 public:
  // The wait slice is ten seconds; tests may choose a shorter one.
  explicit HalOsLock(long long waitSliceMillis = 10000)
      : name_(nameFor(reinterpret_cast<uintptr_t>(this))),
        mutex_(name_.c_str()),
        waitSliceMillis_(waitSliceMillis) {}
  HalOsLock(const HalOsLock&) = delete;
  HalOsLock& operator=(const HalOsLock&) = delete;

  bool lock();
  bool unlock();

  // The mutex's name, under which other processes can open it.
  const std::string& name() const { return name_; }

 private:
  friend struct HalOsLockTestAccess;

  static std::string nameFor(uintptr_t address);

  const std::string name_;
  os::Mutex mutex_;
  const long long waitSliceMillis_;
  int slicesWaited_ = 0;
};

// Holds a HalOsLock for a scope.
class HalOsLockGuard {
 public:
  explicit HalOsLockGuard(HalOsLock& lock) : lock_(lock) { lock_.lock(); }
  ~HalOsLockGuard() { lock_.unlock(); }
  HalOsLockGuard(const HalOsLockGuard&) = delete;
  HalOsLockGuard& operator=(const HalOsLockGuard&) = delete;

 private:
  HalOsLock& lock_;
};
