#include "profiler/Tables.h"
#include "profiler/TablesTestAccess.h"

#include <atomic>
#include <cstdio>

#include "profiler/ClassTable.h"
#include "profiler/MethodTable.h"
#include "profiler/TableLocks.h"

namespace {
std::atomic<int> configuredSize{0};
std::atomic<unsigned> classSequence{0};
std::atomic<MethodTable*> methods{nullptr};
std::atomic<ClassTable*> classes{nullptr};

// An entry whose unload record is destroyed leaves the tables it is in.
void retireFromTables(ClassEntry* entry) {
  if (ClassTable* table = classes.load(std::memory_order_acquire)) table->retire(entry);
}
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
  if (classes.load()) return;
  createTableLocks();
  int size = methodTableSize();
  std::printf("Hash size %d \n", size);
  std::fflush(stdout);
  auto* made = new MethodTable(size);
  methods.store(made, std::memory_order_release);
  classes.store(new ClassTable(*made), std::memory_order_release);
  setClassEntryRetirement(&retireFromTables);
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
