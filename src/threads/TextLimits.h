// The text limits and size estimates of the request natives. A copied request
// name, application name or URL occupies at most the URL limit in bytes, a
// copied SQL text at most the SQL limit, both counting the terminating zero.
// The size estimates are the average copied lengths of the first 254 texts of
// each kind, used as the records' nominal sizes from then on.
//
// The values are process-wide and read without locks; once an estimate is
// fixed it stays fixed.
// The request natives they serve: requests/Requests.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/ThreadSettings.h"

// Sets the limits to 300 and 5000, the estimates to 100 and 1000, and the
// sample counters and totals to 0 (the memory monitor's initialisation).
void initTextLimits();
// Sets the limits to the given ones (config/ThreadSettings.h).
void setTextLimits(const TextLimitSettings& settings);

int urlLimit();
int sqlLimit();
uint32_t urlSizeEstimate();
uint32_t sqlSizeEstimate();
// The sample counters (65535 once the estimate is fixed).
int urlSampleCount();
int sqlSampleCount();

// The number of bytes, the zero included, that a text of `length` characters
// keeps under the limit: min(length + 1, limit).
size_t keptBytes(size_t length, int limit);

// Count one copied text (its kept bytes, the zero included) towards an
// estimate; the 254th sample fixes it.
void sampleUrlSize(size_t keptBytes);
void sampleSqlSize(size_t keptBytes);
