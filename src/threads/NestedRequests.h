// The nested-request switch: when on, a request started inside another one on
// the same thread is not recorded.
#pragma once

#include <atomic>

extern std::atomic<bool> nestedRequestSuppression;

// Reads internal.disable.nestedrequests: on exactly when it equals "YES" in
// any case.
void readNestedRequestSwitch();
