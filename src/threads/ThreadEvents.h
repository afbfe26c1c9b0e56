// The thread-start and thread-end profiler events, as the event handler
// passes them on.
#pragma once

#include "platform/jvmpi.h"

// A thread starts: its record is made (or found) and takes copies of the
// thread's and its group's names.
void threadStartEvent(JVMPI_Event* event);

// A thread ends: its record, if it has one, is retired (nothing is created),
// and its JNIEnv gives up its thread id.
void threadEndEvent(JVMPI_Event* event);
