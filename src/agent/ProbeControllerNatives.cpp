// Natives of com.halden.probe.ProbeController and the lifecycle natives of
// com.halden.probe.ProbeUtils.
#include <jni.h>

#include <cstdio>

#include "agent/Lifecycle.h"
#include "agent/Startup.h"
#include "base/Log.h"
#include "config/BuildTime.h"
#include "config/ProbeState.h"
#include "platform/jvmpi.h"

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeUtils_customServiceStart(JNIEnv*, jclass) {
  return customServiceStart() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_customServiceShutDown(JNIEnv*, jclass) {
  customServiceShutDown();
}

JNIEXPORT jstring JNICALL Java_com_halden_probe_ProbeUtils_getBuildTime(JNIEnv* env, jclass) {
  char text[128];
  std::snprintf(text, sizeof text, "TIME : %s DATE: %s\n", buildTime(), buildDate());
  return env->NewStringUTF(text);
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeController_startNativeProbe(JNIEnv*, jclass) {
  startNativeProbe();
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeController_stopNativeProbe(JNIEnv*, jclass) {
  stopNativeProbe();
}

JNIEXPORT jint JNICALL Java_com_halden_probe_ProbeController_getMonitoringLevel(JNIEnv*, jclass) {
  return modLevel.load() + 1000;
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeController_setModLevel(JNIEnv*, jclass,
                                                                             jint level) {
  if (probeDisabled.load()) {
    logMessage(LOG_INFO, "Native probe is disabled, rejecting setModLevel");
    return JNI_FALSE;
  }
  return changeModLevel(level) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeController_restartOnToFromL1(JNIEnv*,
                                                                                   jclass) {
  return JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeController_isNativeProbeEnabled(JNIEnv*,
                                                                                      jclass) {
  return probeDisabled.load() ? JNI_FALSE : JNI_TRUE;
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeController_isJvmpiEnabled(JNIEnv*, jclass) {
  return jvmpi ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeController_initializeJVMPI(JNIEnv*, jclass) {
  return initializeJVMPI() ? JNI_TRUE : JNI_FALSE;
}

}  // extern "C"
