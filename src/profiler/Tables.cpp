#include "profiler/Tables.h"

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
