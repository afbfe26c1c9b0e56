// The natives of the lock and heap analysis runtime classes, registered at
// run time on LockAnalysisRuntime and HeapAnalysisRuntime: after the entry
// gate they hand their arguments to LockEvents.
#pragma once

#include <jni.h>

extern "C" {
JNIEXPORT void JNICALL Java_com_halden_probe_heap_HeapAnalysisRuntime_nativeHeapAllocationStart(
    JNIEnv* env, jclass cls, jint, jint, jstring);
JNIEXPORT void JNICALL Java_com_halden_probe_heap_HeapAnalysisRuntime_nativeHeapAllocationEnd(
    JNIEnv* env, jclass cls, jint, jint, jstring);
JNIEXPORT jboolean JNICALL Java_com_halden_probe_lock_LockAnalysisRuntime_appendEvent(
    JNIEnv* env, jclass cls, jbyte, jstring, jint, jbyte, jstring, jstring, jint, jint);
}
