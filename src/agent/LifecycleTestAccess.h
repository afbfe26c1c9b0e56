// What tests reach of the lifecycle orders. Included by tests only (and by
// Lifecycle.cpp, which defines it).
#pragma once

// The stop order's wait, ten seconds by default (tests shorten it).
void setStopWaitMillis(long long millis);
