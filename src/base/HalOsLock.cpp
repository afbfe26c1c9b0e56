#include "base/HalOsLock.h"

#include <cinttypes>
#include <cstdio>

#include "base/Log.h"

std::string HalOsLock::nameFor(uintptr_t address) {
  char name[64];
  std::snprintf(name, sizeof name, "_%" PRIXPTR "HalOsLock_%d", address, os::processId());
  return name;
}

bool HalOsLock::lock() {
  if (!mutex_.valid()) return false;
  // Wait in slices while the owner keeps it: a long hold is never a failure.
  int slices = 0;
  for (;;) {
    switch (mutex_.lockFor(waitSliceMillis_)) {
      case os::Mutex::WaitResult::Acquired:
        slicesWaited_ = slices;
        return true;
      case os::Mutex::WaitResult::TimedOut:
        slices++;
        continue;
      case os::Mutex::WaitResult::Failed:
        return false;
    }
  }
}

bool HalOsLock::unlock() {
  if (!mutex_.valid()) return false;
  if (!mutex_.unlock()) {
    logMessage(LOG_INFO, "Cannot Release Mutex Lock");
    return false;
  }
  return true;
}
