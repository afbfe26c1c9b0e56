// The status of one monitored thread for the Java side, and the thread facts
// a stack trace needs: what the thread table knows of the thread, completed
// by the profiler interface's view of it.
#pragma once

#include <jni.h>

#include <cstdint>

// Status values beside the profiler interface's own.
constexpr int THREAD_STATUS_UNKNOWN = -1;
constexpr int THREAD_STATUS_STOPPED = 4;

// Maps the profiler interface's status to the value handed to Java: the
// suspended and interrupted bits carried over, the remaining value added when
// it is runnable, monitor wait or condition wait, and the suspended bit set
// when the thread was marked suspended.
int mapThreadStatus(jint interfaceStatus, bool markedSuspended);

// The status of the thread with this key (thread id): -1 without a profiler
// interface or for a key the thread table does not hold, 4 for a record that
// is no longer alive or marked stopped, otherwise the mapped status. Logged
// at debug level.
int threadStatusOf(uint32_t key);

// For a live, not stopped thread of the table: true, with the thread object
// id the profiler interface gives (0 when it gives none). False for any other
// key.
bool liveThreadObject(uint32_t key, uint32_t* objectId);
