// The thread id: a 32-bit value derived from the thread's JNIEnv pointer. It
// is the key of the thread table, the thread id of every record and the value
// handed to Java.
#pragma once

#include <jni.h>

#include <cstdint>

uint32_t threadIdOf(JNIEnv* env);
