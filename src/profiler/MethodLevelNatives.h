// The natives of MethodLevelModule (exported by name) and of BcmRuntime
// (exported by name and registered at run time through the bootstrap native).
#pragma once

#include <jni.h>

extern "C" {
JNIEXPORT void JNICALL Java_com_halden_command_MethodLevelModule_initializeClass(
    JNIEnv* env, jclass cls, jstring name, jintArray ids, jobjectArray names,
    jobjectArray signatures);
JNIEXPORT void JNICALL Java_com_halden_command_MethodLevelModule_unloadClass(JNIEnv* env,
                                                                             jclass cls,
                                                                             jstring name);
JNIEXPORT void JNICALL Java_com_halden_command_MethodLevelModule_beforeMethod(JNIEnv* env,
                                                                              jclass cls,
                                                                              jint methodId);
JNIEXPORT void JNICALL Java_com_halden_command_MethodLevelModule_afterMethod(JNIEnv* env,
                                                                             jclass cls,
                                                                             jint methodId);
JNIEXPORT jboolean JNICALL Java_com_halden_probe_l3trace_BcmRuntime_appendL3Event(JNIEnv* env,
                                                                                  jclass cls,
                                                                                  jbyte exitFlag,
                                                                                  jint methodId);
JNIEXPORT jboolean JNICALL Java_com_halden_probe_l3trace_BcmRuntime_sendClassEventNative(
    JNIEnv* env, jclass cls, jint number, jstring name, jintArray ids, jobjectArray names,
    jobjectArray signatures);
JNIEXPORT jboolean JNICALL Java_com_halden_probe_l3trace_BcmRuntime_sendClassUnloadEventNative(
    JNIEnv* env, jclass cls, jint number, jstring name, jintArray ids);
}
