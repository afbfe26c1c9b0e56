#include "profiler/MethodLevelOptions.h"
#include "profiler/MethodLevelOptionsTestAccess.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<bool> syncFlag{false};
// Threads that have lock-free lookups switched off while they remove method
// records (beginQuiesce); counted, so that one ending does not switch them on
// under another.
std::atomic<int> quiescing{0};
std::atomic<int> threshold{150};
std::atomic<int> interval{5000};

void store(bool sync, int cleanup, int intervalMillis) {
  syncFlag.store(sync);
  // With synchronised lookups dead entries are removed at once.
  threshold.store(sync ? -1 : cleanup);
  interval.store(intervalMillis);
}
}  // namespace

void applyMethodLevelOptions(const MethodLevelSettings& settings) {
  store(settings.sync, settings.cleanupThreshold, settings.cleanupIntervalMs);
  if (settings.sync) {
    std::fputs("[HM]: INFO: enable method level sync \n", stderr);
  } else {
    std::fprintf(stderr, "[HM]: INFO: not using method level sync, cleanup interval: %d \n",
                 threshold.load());
  }
}

void setMethodLevelOptions(bool sync, int cleanup, int intervalMillis) {
  store(sync, cleanup, intervalMillis);
}

bool methodLevelSync() {
  return syncFlag.load(std::memory_order_seq_cst) || quiescing.load(std::memory_order_seq_cst) > 0;
}
void beginQuiesce() {
  quiescing.fetch_add(1, std::memory_order_seq_cst);
}
void endQuiesce() {
  quiescing.fetch_sub(1, std::memory_order_seq_cst);
}
void setMethodLevelSync(bool on) {
  syncFlag.store(on, std::memory_order_seq_cst);
}
int cleanupThreshold() {
  return threshold.load(std::memory_order_relaxed);
}
int cleanupInterval() {
  return interval.load(std::memory_order_relaxed);
}
