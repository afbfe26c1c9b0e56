#include "jvmpi/TableLocks.h"

TableLocks* tableLocks = nullptr;

void createTableLocks() {
  if (!tableLocks) tableLocks = new TableLocks();
}
