// Natives of com.halden.probe.log.ProbeLogger: the Java side logs into the
// same file through the catalogue.
#include <jni.h>

#include <cstring>
#include <memory>

#include "base/JniUtil.h"
#include "base/Log.h"
#include "platform/EntryGuard.h"

extern "C" {

JNIEXPORT void JNICALL Java_com_halden_probe_log_ProbeLogger_write(JNIEnv* env, jclass, jint level,
                                                                   jstring key) {
  guardedEntry("Java_com_halden_probe_log_ProbeLogger_write", [&]() {
    if (!key) return;
    std::unique_ptr<char[]> copy(new char[2000]);
    if (!copyJavaString(env, key, copy.get(), 2000)) return;
    logCatalog(level, copy.get());
  });
}

JNIEXPORT void JNICALL
Java_com_halden_probe_log_ProbeLogger_setNativeProbeLoggingLevel(JNIEnv*, jclass, jint level) {
  guardedEntry("Java_com_halden_probe_log_ProbeLogger_setNativeProbeLoggingLevel",
               [&]() { setLogLevel(level); });
}

JNIEXPORT jstring JNICALL Java_com_halden_probe_log_ProbeLogger_getLogFileName(JNIEnv* env,
                                                                               jclass) {
  return guardedEntry<jstring>("Java_com_halden_probe_log_ProbeLogger_getLogFileName",
                               [&]() -> jstring {
                                 const char* name = logFileName();
                                 return name ? env->NewStringUTF(name) : nullptr;
                               });
}

}  // extern "C"
