// The profiler interface over JVMTI: on a current JVM, which offers no
// profiler interface of its own, this provider obtains a JVMTI environment and
// fills the interface table of jvmpi.h with entries that call JVMTI, and turns
// JVMTI callbacks into NotifyEvent calls.
//
// The table's NotifyEvent entry is left null; whoever uses the table installs
// its handler there. Until then every event is dropped.
#pragma once

#include <jni.h>

#include "platform/jvmpi.h"

// Obtains a JVMTI environment from the JVM, asks for the capabilities the
// table needs (as far as the JVM's current phase offers them), installs the
// JVMTI callbacks and returns the table. Null when the JVM offers no JVMTI.
// Later calls return the same table.
JVMPI_Interface* jvmtiProviderInstall(JavaVM* vm);

// The table made by jvmtiProviderInstall, or null until it succeeded.
JVMPI_Interface* jvmtiProviderTable();
