// What tests reach of the system facts. Included by tests only (and by
// PlatformFigures.cpp, which defines it).
#pragma once

#include <cstdint>

#include "diag/PlatformFigures.h"

// Forgets the facts, so that the next call fills them from these files.
void resetSystemFacts(const ProcFiles& files = ProcFiles());
// Sets the facts as if read from the system.
void setSystemFacts(uint32_t processors, uint64_t physicalBytes, uint32_t mhz);
