#include "profiler/TableLocks.h"

TableLocks* tableLocks = nullptr;

void createTableLocks() {
  if (!tableLocks) tableLocks = new TableLocks();
}
