#include "profiler/Tables.h"

#include <atomic>
#include <cstdio>

#include "config/PropertyMgr.h"
#include "profiler/ClassTable.h"
#include "profiler/MethodTable.h"
#include "profiler/TableLocks.h"

namespace {
std::atomic<int> configuredSize{0};
std::atomic<unsigned> classSequence{0};
std::atomic<MethodTable*> methods{nullptr};
std::atomic<ClassTable*> classes{nullptr};
std::atomic<bool> syncFlag{false};
std::atomic<int> threshold{150};
std::atomic<int> interval{5000};
}  // namespace

void setMethodTableSize(int size) {
  configuredSize.store(size);
}

int methodTableSize() {
  int size = configuredSize.load();
  return size == 0 ? 55511 : size;
}

void createMethodAndClassTables() {
  if (classes.load()) return;
  createTableLocks();
  int size = methodTableSize();
  std::printf("Hash size %d \n", size);
  std::fflush(stdout);
  auto* made = new MethodTable(size);
  methods.store(made, std::memory_order_release);
  classes.store(new ClassTable(*made), std::memory_order_release);
}

ClassTable* classTable() {
  return classes.load(std::memory_order_acquire);
}

MethodTable* methodTable() {
  return methods.load(std::memory_order_acquire);
}

void destroyMethodAndClassTables() {
  delete classes.exchange(nullptr);
  delete methods.exchange(nullptr);
}

void resetClassSequence() {
  classSequence.store(0);
}

uint32_t nextClassSequence() {
  return classSequence.fetch_add(1, std::memory_order_relaxed) + 1;
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

void setMethodLevelOptions(bool sync, int cleanup, int intervalMillis) {
  syncFlag.store(sync);
  threshold.store(sync ? -1 : cleanup);
  interval.store(intervalMillis);
}

bool methodLevelSync() {
  return syncFlag.load(std::memory_order_seq_cst);
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
