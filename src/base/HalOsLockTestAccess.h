// What tests see of a HalOsLock beyond its interface. Included by tests only.
#pragma once

#include "base/HalOsLock.h"

struct HalOsLockTestAccess {
  // How many slices lock() waited through, for tests of long holds.
  static int slicesWaited(const HalOsLock& lock) { return lock.slicesWaited_; }
};
