// The entry gate: the first steps of every native that records for the
// calling thread. Nothing passes while the probe is not ready (the agent
// threads are not yet running, or the probe is stopping); nothing passes while
// the memory gate is closed, except that each thread queues one data-gate
// marker the first time it meets the closed gate, so the publisher learns
// that the thread's data stops. The marker flag is cleared when the thread
// finds the gate open again, ready for the next closing.
// The request natives it guards: requests/Requests.h.
#pragma once

#include <jni.h>

class ThreadData;

// The memory-gate step for a thread's record (which may be null): queues the
// marker or clears its flag as above. True when the gate is open. The profiler
// event handlers, which test the ready flag themselves, use this step alone.
bool passDataGate(ThreadData* data);

// The whole gate: true when the native may record. `data` receives the
// calling thread's record (created if needed), or null when there is none;
// it is set whenever the ready test passes, so the caller need not look the
// thread up again.
bool passEntryGate(JNIEnv* env, ThreadData** data);
