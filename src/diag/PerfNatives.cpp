// Natives of the platform figures: the instance natives of
// com.halden.command.monitoring.PerfSummaryImpl and the CPU-time natives of
// com.halden.probe.ProbeSystem. The figures come from PlatformFigures.
#include <jni.h>

#include "diag/PlatformFigures.h"
#include "platform/EntryGuard.h"
#include "platform/jvmpi.h"
#include "platform/os.h"

extern "C" {

JNIEXPORT jlong JNICALL Java_com_halden_command_monitoring_PerfSummaryImpl_getPagingRate(
    JNIEnv*, jobject, jint intervalMillis) {
  return guardedEntry<jlong>("Java_com_halden_command_monitoring_PerfSummaryImpl_getPagingRate",
                             [&]() -> jlong { return samplePagingRate(intervalMillis); });
}

JNIEXPORT jlong JNICALL Java_com_halden_command_monitoring_PerfSummaryImpl_getDiskSpace(JNIEnv*,
                                                                                        jobject) {
  return guardedEntry<jlong>("Java_com_halden_command_monitoring_PerfSummaryImpl_getDiskSpace",
                             [&]() -> jlong { return freeDiskSpace(); });
}

JNIEXPORT jlong JNICALL Java_com_halden_command_monitoring_PerfSummaryImpl_getVM(JNIEnv*, jobject) {
  return guardedEntry<jlong>("Java_com_halden_command_monitoring_PerfSummaryImpl_getVM",
                             [&]() -> jlong { return processSwapBytes(); });
}

JNIEXPORT jlong JNICALL Java_com_halden_command_monitoring_PerfSummaryImpl_getDiskIO(JNIEnv*,
                                                                                     jobject) {
  return guardedEntry<jlong>("Java_com_halden_command_monitoring_PerfSummaryImpl_getDiskIO",
                             [&]() -> jlong { return diskBytesPerTransferMegabytes(); });
}

JNIEXPORT jlong JNICALL Java_com_halden_command_monitoring_PerfSummaryImpl_getNetworkIO(JNIEnv*,
                                                                                        jobject) {
  return guardedEntry<jlong>("Java_com_halden_command_monitoring_PerfSummaryImpl_getNetworkIO",
                             [&]() -> jlong { return networkMegabytesPerSecond(); });
}

JNIEXPORT jlong JNICALL
Java_com_halden_command_monitoring_PerfSummaryImpl_getTotalPhysicalMemory(JNIEnv*, jobject) {
  return guardedEntry<jlong>(
      "Java_com_halden_command_monitoring_PerfSummaryImpl_getTotalPhysicalMemory",
      [&]() -> jlong { return toMegabytes(totalPhysicalMemory()); });
}

JNIEXPORT jlong JNICALL Java_com_halden_probe_ProbeSystem_nativeGetCurrentThreadCPUTime(JNIEnv*,
                                                                                        jclass) {
  return guardedEntry<jlong>(
      "Java_com_halden_probe_ProbeSystem_nativeGetCurrentThreadCPUTime", [&]() -> jlong {
        return jvmpi && jvmpi->GetCurrentThreadCpuTime ? jvmpi->GetCurrentThreadCpuTime() : 0;
      });
}

JNIEXPORT jlong JNICALL Java_com_halden_probe_ProbeSystem_nativeGetTimeMicroSeconds(JNIEnv*,
                                                                                    jclass) {
  return guardedEntry<jlong>(
      "Java_com_halden_probe_ProbeSystem_nativeGetTimeMicroSeconds",
      [&]() -> jlong { return static_cast<jlong>(os::localTime().millis) * 1000; });
}

JNIEXPORT jlong JNICALL Java_com_halden_probe_ProbeSystem_nativeUpdateAppServerCPUTime(JNIEnv*,
                                                                                       jclass) {
  return guardedEntry<jlong>("Java_com_halden_probe_ProbeSystem_nativeUpdateAppServerCPUTime",
                             [&]() -> jlong { return os::processCpuNanos(); });
}

JNIEXPORT jdouble JNICALL Java_com_halden_probe_ProbeSystem_nativeUpdateAppServerCPU(JNIEnv*,
                                                                                     jclass) {
  return guardedEntry<jdouble>("Java_com_halden_probe_ProbeSystem_nativeUpdateAppServerCPU",
                               [&]() -> jdouble { return sampleProcessCpuPercent(); });
}

JNIEXPORT jdouble JNICALL Java_com_halden_probe_ProbeSystem_nativeUpdatePlatformCPU(JNIEnv*,
                                                                                    jclass) {
  return guardedEntry<jdouble>("Java_com_halden_probe_ProbeSystem_nativeUpdatePlatformCPU",
                               [&]() -> jdouble { return sampleMachineCpuPercent(); });
}

JNIEXPORT jlong JNICALL Java_com_halden_probe_ProbeSystem_nativeUpdatePlatformCPUTime(JNIEnv*,
                                                                                      jclass) {
  return guardedEntry<jlong>("Java_com_halden_probe_ProbeSystem_nativeUpdatePlatformCPUTime",
                             [&]() -> jlong { return 0; });
}

}  // extern "C"
