// The start-up steps that reach across layers: identity and configuration
// (argument copy, identity values, monitored directory, log, property file,
// MOD file, boot class name) and obtaining the profiler interface.
#pragma once

#include <jni.h>

bool identityStartup(JavaVM* vm);

// Obtains the profiler interface if not yet held.
bool initializeJVMPI();
