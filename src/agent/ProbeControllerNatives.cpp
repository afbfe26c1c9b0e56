// Natives of com.halden.probe.ProbeController and the lifecycle natives of
// com.halden.probe.ProbeUtils.
#include <jni.h>

#include <cstdio>

#include "agent/Lifecycle.h"
#include "agent/Startup.h"
#include "base/Log.h"
#include "config/BuildTime.h"
#include "config/ProbeState.h"
#include "platform/EntryGuard.h"
#include "platform/jvmpi.h"

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeUtils_customServiceStart(JNIEnv*, jclass) {
  return guardedEntry<jboolean>(
      "Java_com_halden_probe_ProbeUtils_customServiceStart",
      [&]() -> jboolean { return customServiceStart() ? JNI_TRUE : JNI_FALSE; });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_customServiceShutDown(JNIEnv*, jclass) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_customServiceShutDown",
               [&]() { customServiceShutDown(); });
}

JNIEXPORT jstring JNICALL Java_com_halden_probe_ProbeUtils_getBuildTime(JNIEnv* env, jclass) {
  return guardedEntry<jstring>("Java_com_halden_probe_ProbeUtils_getBuildTime", [&]() -> jstring {
    char text[128];
    std::snprintf(text, sizeof text, "TIME : %s DATE: %s\n", buildTime(), buildDate());
    return env->NewStringUTF(text);
  });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeController_startNativeProbe(JNIEnv*, jclass) {
  guardedEntry("Java_com_halden_probe_ProbeController_startNativeProbe",
               [&]() { startNativeProbe(); });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeController_stopNativeProbe(JNIEnv*, jclass) {
  guardedEntry("Java_com_halden_probe_ProbeController_stopNativeProbe",
               [&]() { stopNativeProbe(); });
}

JNIEXPORT jint JNICALL Java_com_halden_probe_ProbeController_getMonitoringLevel(JNIEnv*, jclass) {
  return guardedEntry<jint>("Java_com_halden_probe_ProbeController_getMonitoringLevel",
                            [&]() -> jint { return modLevel.load() + 1000; });
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeController_setModLevel(JNIEnv*, jclass,
                                                                             jint level) {
  return guardedEntry<jboolean>(
      "Java_com_halden_probe_ProbeController_setModLevel", [&]() -> jboolean {
        if (probeDisabled.load()) {
          logMessage(LOG_INFO, "Native probe is disabled, rejecting setModLevel");
          return JNI_FALSE;
        }
        return changeModLevel(level) ? JNI_TRUE : JNI_FALSE;
      });
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeController_restartOnToFromL1(JNIEnv*,
                                                                                   jclass) {
  return guardedEntry<jboolean>("Java_com_halden_probe_ProbeController_restartOnToFromL1",
                                [&]() -> jboolean { return JNI_FALSE; });
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeController_isNativeProbeEnabled(JNIEnv*,
                                                                                      jclass) {
  return guardedEntry<jboolean>(
      "Java_com_halden_probe_ProbeController_isNativeProbeEnabled",
      [&]() -> jboolean { return probeDisabled.load() ? JNI_FALSE : JNI_TRUE; });
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeController_isJvmpiEnabled(JNIEnv*, jclass) {
  return guardedEntry<jboolean>("Java_com_halden_probe_ProbeController_isJvmpiEnabled",
                                [&]() -> jboolean { return jvmpi ? JNI_TRUE : JNI_FALSE; });
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeController_initializeJVMPI(JNIEnv*, jclass) {
  return guardedEntry<jboolean>(
      "Java_com_halden_probe_ProbeController_initializeJVMPI",
      [&]() -> jboolean { return initializeJVMPI() ? JNI_TRUE : JNI_FALSE; });
}

}  // extern "C"
