#include "profiler/Tables.h"

#include <atomic>
#include <cstdio>

#include "config/PropertyMgr.h"

namespace {
std::atomic<int> configuredSize{0};
std::atomic<unsigned> classSequence{0};
bool tablesMade = false;
std::atomic<bool> syncFlag{false};
std::atomic<int> threshold{150};
std::atomic<int> interval{5000};
}  // namespace

void setMethodTableSize(int size) {
  configuredSize.store(size);
}

// 0 or less asks for the default. The count is bounded so that a wrong value
// from the Java side cannot make the table's allocation fail inside the JVM:
// 4194304 buckets cover far more methods than a server loads.
int methodTableSize() {
  constexpr int kDefaultBuckets = 55511;
  constexpr int kMostBuckets = 4194304;
  int size = configuredSize.load();
  if (size <= 0) return kDefaultBuckets;
  return size < kMostBuckets ? size : kMostBuckets;
}

void createMethodAndClassTables() {
  if (tablesMade) return;
  tablesMade = true;
  std::printf("Hash size %d \n", methodTableSize());
  std::fflush(stdout);
}

void resetClassSequence() {
  classSequence.store(0);
}

void readMethodLevelOptions() {
  bool sync = propertyIsYes("internal.use.method.monitors");
  if (getProperty("internal.use.method.monitors.disable")) sync = false;
  threshold.store(getIntProperty("method.hash.cleanup", 150));
  interval.store(getIntProperty("method.hash.cleanupinterval", 5000));
  syncFlag.store(sync);
  if (sync) {
    // With synchronised lookups dead entries are removed at once.
    threshold.store(-1);
    std::fputs("[HM]: INFO: enable method level sync \n", stderr);
  } else {
    std::fprintf(stderr, "[HM]: INFO: not using method level sync, cleanup interval: %d \n",
                 threshold.load());
  }
}

bool methodLevelSync() {
  return syncFlag.load(std::memory_order_relaxed);
}
int cleanupThreshold() {
  return threshold.load(std::memory_order_relaxed);
}
int cleanupInterval() {
  return interval.load(std::memory_order_relaxed);
}
