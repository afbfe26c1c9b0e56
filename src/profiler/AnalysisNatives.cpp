#include "profiler/AnalysisNatives.h"

extern "C" {

JNIEXPORT void JNICALL Java_com_halden_probe_heap_HeapAnalysisRuntime_nativeHeapAllocationStart(
    JNIEnv*, jclass, jint, jint, jstring) {}

JNIEXPORT void JNICALL Java_com_halden_probe_heap_HeapAnalysisRuntime_nativeHeapAllocationEnd(
    JNIEnv*, jclass, jint, jint, jstring) {}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_lock_LockAnalysisRuntime_appendEvent(
    JNIEnv*, jclass, jbyte, jstring, jint, jbyte, jstring, jstring, jint, jint) {
  return JNI_FALSE;
}

}  // extern "C"
