#include "threads/MemoryFigure.h"

// Until the memory monitor has computed an estimate there is none to report.
__attribute__((weak)) long memoryInUse() {
  return 0;
}
