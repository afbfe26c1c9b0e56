// What the producers (the profiler's method tables, the request natives)
// read from the property file at start-up, with its defaults; the agent reads
// it once and hands it to them.
#pragma once

struct MethodLevelSettings {
  // "internal.use.method.monitors" is yes and
  // "internal.use.method.monitors.disable" is not set: method-table lookups
  // take the stripe lock.
  bool sync = false;
  // "method.hash.cleanup" (150): dead entries tolerated before a cleanup.
  int cleanupThreshold = 150;
  // "method.hash.cleanupinterval" (5000 ms).
  int cleanupIntervalMs = 5000;
};
MethodLevelSettings readMethodLevelSettings();

// "internal.disable.nestedrequests" equals "YES" in any case: nested requests
// are suppressed.
bool readNestedRequestSuppression();
