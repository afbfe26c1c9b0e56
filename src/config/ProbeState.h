// The process-wide state of the probe: the readiness of the agent threads,
// the monitoring (MOD) level, sampling rates, the process id and the Java
// class references. Flags and levels are written by one thread and read by
// many without locks; readers tolerate a stale value.
#pragma once

#include <jni.h>

#include <atomic>

// True until both the master event agent and the designated network agent
// report that their loops run; set again only by the stop order.
extern std::atomic<bool> probeDisabled;

// The monitoring level 1, 2 or 3 (3 is method-level tracing).
extern std::atomic<int> modLevel;
// The level handed to the Java side and consulted by the request natives.
extern std::atomic<int> reportedModLevel;

// Four rates and one extra value set by the Java side.
extern std::atomic<int> samplingRates[4];
extern std::atomic<int> samplingExtra;

// The process id, fetched once.
int cachedProcessId();

// The application-server product version from the Java side, or null.
const char* appServerProductVersion();

// Global references to java.lang.Object, java.lang.Class, java.lang.String.
extern jclass objectClassRef;
extern jclass classClassRef;
extern jclass stringClassRef;

// The MOD level change: 1001..1003 mean 1..3; false when the level is the
// same or out of range.
bool changeModLevel(int requested);

// The two readiness reports.
void reportEventAgentRunning(bool running);
void reportNetworkAgentRunning(bool running);
