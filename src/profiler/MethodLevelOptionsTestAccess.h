// What tests and benchmarks reach of the method-level options. Included by
// them only (and by MethodLevelOptions.cpp, which defines it).
#pragma once

// Sets the options directly instead of reading them from the properties.
void setMethodLevelOptions(bool sync, int threshold, int intervalMillis);
