// The sampling-rate record operation: queues a sampling-rates record (type
// 13 / 7) for the calling thread with the four rates, the extra value as its
// flag and the wall clock. Used when the Java side sets the rates and by the
// event agents after the hello packet and after resending the class records.
#pragma once

#include <jni.h>

#include <cstdint>

bool sendSamplingRatesRecord(JNIEnv* env, const int32_t rates[4], int32_t flag);
