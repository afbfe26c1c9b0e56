// The sampling rates set by the Java side; read by the event agents, which
// send them after every hello packet.
#pragma once

#include <jni.h>

// Stores the first count rates (at most four) and the extra value, then
// queues a sampling-rates record for the calling thread.
void setSamplingRates(JNIEnv* env, const jint* rates, int count, jint extra);
