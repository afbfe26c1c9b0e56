// What tests reach of logging beyond its interface. Included by tests only
// (and by Log.cpp, which defines it).
#pragma once

// Returns logging to its state at process start, so that a test can open
// another log.
void resetLog();
