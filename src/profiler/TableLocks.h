// The operating-system locks of the class and method tables, made when the
// event interface is first initialised: 67 method-table stripe locks, the
// class-table lock, the unload-counter lock and the class sequence-counter
// lock.
#pragma once

#include "base/HalOsLock.h"

constexpr int kMethodStripeCount = 67;

struct TableLocks {
  HalOsLock methodStripes[kMethodStripeCount];
  HalOsLock classTable;
  HalOsLock unloadCounter;
  HalOsLock sequenceCounter;
};

// Null until createTableLocks ran; they live until the process ends.
extern TableLocks* tableLocks;
void createTableLocks();
