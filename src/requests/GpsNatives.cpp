// Natives of the correlation tokens: setupGps of ProbeController, and the
// token and correlation-request natives, exported alike on ProbeUtils and on
// CommandAgent. The request natives pass the entry gate, fetch their string
// and hand over to the operations of GpsRequests.h.
#include <jni.h>

#include <cstdint>

#include "base/JniUtil.h"
#include "platform/EntryGuard.h"
#include "requests/GpsCounter.h"
#include "requests/GpsRequests.h"
#include "threads/EntryGate.h"

namespace {

jbyteArray gpsTokenArray(JNIEnv* env) {
  jbyteArray array = env->NewByteArray(4);
  if (!array) {
    clearPendingException(env);
    return nullptr;
  }
  uint8_t token[4];
  if (copyGpsToken(env, token)) {
    env->SetByteArrayRegion(array, 0, 4, reinterpret_cast<const jbyte*>(token));
    clearPendingException(env);
  }
  return array;
}

void invokeStart(JNIEnv* env) {
  ThreadData* data;
  if (passEntryGate(env, &data)) startNativeGpsInvokeRequest(env, data);
}

void invokeEnd(JNIEnv* env) {
  ThreadData* data;
  if (passEntryGate(env, &data)) endNativeGpsInvokeRequest(env, data);
}

void receiveStart(JNIEnv* env, jstring token) {
  ThreadData* data;
  if (!passEntryGate(env, &data)) return;
  JavaChars text(env, token);
  startNativeGpsReceiveRequest(env, data, text.get());
}

void receiveComplete(JNIEnv* env, jstring text) {
  ThreadData* data;
  if (!passEntryGate(env, &data)) return;
  JavaChars chars(env, text);
  completeNativeGpsReceiveRequest(env, data, chars.get());
}

}  // namespace

// The same five natives under each class's JNI names.
#define DC_GPS_NATIVES(CLASS)                                                                   \
  JNIEXPORT jbyteArray JNICALL Java_##CLASS##_getNativeGpsToken(JNIEnv* env, jclass) {          \
    return guardedEntry<jbyteArray>("getNativeGpsToken", [&]() { return gpsTokenArray(env); }); \
  }                                                                                             \
  JNIEXPORT void JNICALL Java_##CLASS##_startNativeGpsInvokeRequest(JNIEnv* env, jclass) {      \
    guardedEntry("startNativeGpsInvokeRequest", [&]() { invokeStart(env); });                   \
  }                                                                                             \
  JNIEXPORT void JNICALL Java_##CLASS##_endNativeGpsInvokeRequest(JNIEnv* env, jclass) {        \
    guardedEntry("endNativeGpsInvokeRequest", [&]() { invokeEnd(env); });                       \
  }                                                                                             \
  JNIEXPORT void JNICALL Java_##CLASS##_startNativeGpsReceiveRequest(JNIEnv* env, jclass,       \
                                                                     jstring token) {           \
    guardedEntry("startNativeGpsReceiveRequest", [&]() { receiveStart(env, token); });          \
  }                                                                                             \
  JNIEXPORT void JNICALL Java_##CLASS##_completeNativeGpsReceiveRequest(JNIEnv* env, jclass,    \
                                                                        jstring text) {         \
    guardedEntry("completeNativeGpsReceiveRequest", [&]() { receiveComplete(env, text); });     \
  }

extern "C" {

DC_GPS_NATIVES(com_halden_probe_ProbeUtils)
DC_GPS_NATIVES(com_halden_command_CommandAgent)

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeController_setupGps(JNIEnv* env, jclass,
                                                                      jstring registrationMask) {
  guardedEntry("Java_com_halden_probe_ProbeController_setupGps", [&]() {
    JavaChars mask(env, registrationMask);
    setupGps(mask.get());
  });
}

}  // extern "C"
