// What tests see of a class table beyond its interface. Included by tests
// only.
#pragma once

#include "profiler/ClassTable.h"
#include "profiler/TableLocks.h"

struct ClassTableTestAccess {
  // The entries linked into the table, dead ones included.
  static int linkedEntries(ClassTable& table) {
    HalOsLockGuard guard(tableLocks->classTable);
    int count = 0;
    for (ClassEntry* e = table.sentinel_.next; e; e = e->next) count++;
    return count;
  }
};
