// The profiler interface built on JVMTI, for JVMs that no longer offer the
// profiler interface themselves.
#pragma once

#include <jni.h>

#include "platform/jvmpi.h"

// Obtains JVMTI from the JVM and returns the interface table built on it, or
// null when the JVM offers no JVMTI. A second call returns the same table.
JVMPI_Interface* jvmtiProviderInstall(JavaVM* vm);
// The table, or null until installed.
JVMPI_Interface* jvmtiProviderTable();
