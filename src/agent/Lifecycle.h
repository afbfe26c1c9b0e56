// The start-up, start, stop and shutdown orders of the probe. The Java side
// calls them one at a time, in the order customServiceStart, startNativeProbe,
// stopNativeProbe, customServiceShutDown.
#pragma once

#include <jni.h>

// The entry point's start-up sequence; 0 on success, -1 when the profiler
// interface cannot be obtained.
int runStartup(JavaVM* vm, const char* options);

bool customServiceStart();
void startNativeProbe();
void stopNativeProbe();
void customServiceShutDown();
