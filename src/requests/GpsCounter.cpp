#include "requests/GpsCounter.h"

// Stand-in until the correlation-token state exists: nothing is persisted.
void saveGpsCounter(uint32_t /*token*/) {}
