/* Natives with the signatures of the request natives that do nothing: the
   cost of the JNI call itself, against which the probe's natives are timed. */
#include <jni.h>

JNIEXPORT void JNICALL Java_com_halden_bench_EmptyNatives_startNativeHttpRequest(
    JNIEnv* env, jclass cls, jint unused, jstring requestName, jstring applicationName, jstring url,
    jstring detail) {
  (void)env;
  (void)cls;
  (void)unused;
  (void)requestName;
  (void)applicationName;
  (void)url;
  (void)detail;
}

JNIEXPORT void JNICALL Java_com_halden_bench_EmptyNatives_finishNativeHttpRequest(
    JNIEnv* env, jclass cls, jstring requestName, jint unused1, jint unused2) {
  (void)env;
  (void)cls;
  (void)requestName;
  (void)unused1;
  (void)unused2;
}
