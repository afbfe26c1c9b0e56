// Natives of com.halden.probe.ThreadManager that open and close requests on
// the calling thread, mark it for a system trace, and set a thread's status.
// Each passes the entry gate, fetches its strings and hands over to the
// operations of Requests.h.
#include <jni.h>

#include "base/JniUtil.h"
#include "platform/EntryGuard.h"
#include "requests/Requests.h"
#include "threads/EntryGate.h"

extern "C" {

JNIEXPORT void JNICALL Java_com_halden_probe_ThreadManager_startNativeHttpRequest(
    JNIEnv* env, jclass, jint, jstring requestName, jstring applicationName, jstring url,
    jstring detail) {
  guardedEntry("Java_com_halden_probe_ThreadManager_startNativeHttpRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars name(env, requestName);
    JavaChars application(env, applicationName);
    JavaChars address(env, url);
    JavaChars more(env, detail);
    startNativeHttpRequest(env, data, name.text(), application.text(), address.text(), more.text());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ThreadManager_finishNativeHttpRequest(
    JNIEnv* env, jclass, jstring requestName, jint, jint) {
  guardedEntry("Java_com_halden_probe_ThreadManager_finishNativeHttpRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars name(env, requestName);
    finishNativeHttpRequest(env, data, name.text());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ThreadManager_errorNativeHttpRequest(
    JNIEnv* env, jclass, jstring requestName, jstring applicationName, jstring url) {
  guardedEntry("Java_com_halden_probe_ThreadManager_errorNativeHttpRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars name(env, requestName);
    JavaChars application(env, applicationName);
    JavaChars address(env, url);
    errorNativeHttpRequest(env, data, name.text(), application.text(), address.text());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ThreadManager_beginNativeEJBRequest(
    JNIEnv* env, jclass, jstring applicationName, jstring requestName, jstring url) {
  guardedEntry("Java_com_halden_probe_ThreadManager_beginNativeEJBRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars application(env, applicationName);
    JavaChars name(env, requestName);
    JavaChars address(env, url);
    beginNativeEJBRequest(env, data, application.text(), name.text(), address.text());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ThreadManager_endNativeEJBRequest(
    JNIEnv* env, jclass, jstring applicationName, jstring requestName, jstring url) {
  guardedEntry("Java_com_halden_probe_ThreadManager_endNativeEJBRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    JavaChars application(env, applicationName);
    JavaChars name(env, requestName);
    JavaChars address(env, url);
    endNativeEJBRequest(env, data, application.text(), name.text(), address.text());
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ThreadManager_issueTraceRequest(JNIEnv* env, jclass) {
  guardedEntry("Java_com_halden_probe_ThreadManager_issueTraceRequest", [&]() {
    ThreadData* data;
    if (!passEntryGate(env, &data)) return;
    issueTraceRequest(env, data);
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ThreadManager_setThreadStatus(JNIEnv*, jclass,
                                                                           jint threadId,
                                                                           jint status) {
  guardedEntry("Java_com_halden_probe_ThreadManager_setThreadStatus",
               [&]() { setThreadStatus(static_cast<uint32_t>(threadId), status); });
}

}  // extern "C"
