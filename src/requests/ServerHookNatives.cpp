// Natives of the application-server hooks outside the portal: the bean
// module's finish of an EJB request, the two probe services' and the
// application server's static-field reads, and the probe of the PFX hook.
#include <jni.h>

#include "base/JniUtil.h"
#include "base/Log.h"
#include "platform/EntryGuard.h"

extern "C" JNIEXPORT void JNICALL Java_com_halden_probe_ThreadManager_endNativeEJBRequest(
    JNIEnv* env, jclass, jstring applicationName, jstring requestName, jstring url);

namespace {

// The value of a static field of the given class; null for a null class, a
// primitive class (which JNI's field lookup does not take) or a class without
// that field. The failed lookup's NoSuchFieldError is cleared, quietly: a
// monitoring hook must not throw into the server's code, and a class without
// the field is an answer (null), not a failure worth a stack trace per call.
jobject staticFieldValue(JNIEnv* env, jclass owner, const char* name, const char* signature) {
  if (!owner || isPrimitiveClass(env, owner)) return nullptr;
  jfieldID field = env->GetStaticFieldID(owner, name, signature);
  if (!field) {
    if (clearPendingExceptionQuietly(env)) {
      char text[128];
      formatText(text, sizeof text, "static field %s not found, answering null", name);
      logMessage(LOG_DEBUG, text);
    }
    return nullptr;
  }
  jobject value = env->GetStaticObjectField(owner, field);
  if (clearPendingException(env)) return nullptr;
  return value;
}

jobject serverProperties(JNIEnv* env, jclass owner) {
  return staticFieldValue(env, owner, "_props", "Lcom/qel/qs/webcontainer/util/ExProperties;");
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_halden_qs5_pmi_HaldenBeanModule_finishBeanRequest(
    JNIEnv* env, jclass owner, jstring applicationName, jstring requestName, jstring url) {
  guardedEntry("Java_com_halden_qs5_pmi_HaldenBeanModule_finishBeanRequest", [&]() {
    // Exactly the end of an EJB request.
    Java_com_halden_probe_ThreadManager_endNativeEJBRequest(env, owner, applicationName,
                                                            requestName, url);
  });
}

JNIEXPORT jobject JNICALL Java_com_halden_qs5_ProbeService_getSystemProperties(JNIEnv* env, jclass,
                                                                               jclass owner) {
  return guardedEntry<jobject>("Java_com_halden_qs5_ProbeService_getSystemProperties",
                               [&]() -> jobject { return serverProperties(env, owner); });
}

JNIEXPORT jobject JNICALL Java_com_halden_qs6_ProbeService_getSystemProperties(JNIEnv* env, jclass,
                                                                               jclass owner) {
  return guardedEntry<jobject>("Java_com_halden_qs6_ProbeService_getSystemProperties",
                               [&]() -> jobject { return serverProperties(env, owner); });
}

JNIEXPORT jobject JNICALL Java_com_halden_qs5_QASServer_getDataSources(JNIEnv* env, jclass,
                                                                       jclass owner) {
  return guardedEntry<jobject>("Java_com_halden_qs5_QASServer_getDataSources", [&]() -> jobject {
    return staticFieldValue(env, owner, "dataSources", "Ljava/util/Hashtable;");
  });
}

JNIEXPORT jint JNICALL Java_com_halden_probe_ProbePFX_initializeProbe(JNIEnv*, jclass) {
  return guardedEntry<jint>("Java_com_halden_probe_ProbePFX_initializeProbe",
                            [&]() -> jint { return 1; });
}

}  // extern "C"
