// Natives of com.halden.probe.ProbeSystem: the exchange of static fields at
// start, the process id and argument vector, the sampling rates, and the
// thread id.
#include <jni.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "agent/ProbeMgr.h"
#include "base/JniUtil.h"
#include "base/Log.h"
#include "config/Identity.h"
#include "config/ProbeState.h"
#include "diag/PlatformFigures.h"
#include "platform/EntryGuard.h"
#include "platform/os.h"
#include "profiler/Tables.h"
#include "requests/SamplingRates.h"
#include "threads/ThreadId.h"

namespace {

char* productVersionCopy = nullptr;

// Reads a required static String field into out (at most 1023 characters).
// False when the field is missing or its value is null or unreadable.
bool readRequiredString(JNIEnv* env, jclass cls, const char* name, char* out, int size) {
  jfieldID field = env->GetStaticFieldID(cls, name, "Ljava/lang/String;");
  if (!field) {
    clearPendingException(env);
    return false;
  }
  jstring value = static_cast<jstring>(env->GetStaticObjectField(cls, field));
  if (!value || !copyJavaString(env, value, out, size)) {
    if (env->ExceptionCheck()) env->ExceptionDescribe();
    env->ExceptionClear();
    if (value) env->DeleteLocalRef(value);
    return false;
  }
  env->DeleteLocalRef(value);
  return true;
}

// A static field that only has to exist.
bool fieldExists(JNIEnv* env, jclass cls, const char* name, const char* signature) {
  if (env->GetStaticFieldID(cls, name, signature)) return true;
  clearPendingException(env);
  return false;
}

bool readInt(JNIEnv* env, jclass cls, const char* name, jint* out) {
  jfieldID field = env->GetStaticFieldID(cls, name, "I");
  if (!field) {
    clearPendingException(env);
    return false;
  }
  *out = env->GetStaticIntField(cls, field);
  return true;
}

// Takes global references of the classes held in the fields object, clazz and
// string; false when a field is missing or a Java exception ended the step.
bool takeClassReferences(JNIEnv* env, jclass cls) {
  const char* names[3] = {"object", "clazz", "string"};
  jclass* refs[3] = {&objectClassRef, &classClassRef, &stringClassRef};
  for (int i = 0; i < 3; i++) {
    jfieldID field = env->GetStaticFieldID(cls, names[i], "Ljava/lang/Class;");
    if (!field) {
      clearPendingException(env);
      return false;
    }
    jobject value = env->GetStaticObjectField(cls, field);
    if (clearPendingException(env)) return false;
    if (value && !*refs[i]) *refs[i] = static_cast<jclass>(env->NewGlobalRef(value));
    if (value) env->DeleteLocalRef(value);
  }
  return true;
}

void readProductVersion(JNIEnv* env) {
  jclass system = env->FindClass("com/halden/probe/ProbeSystem");
  if (clearPendingException(env) || !system) return;
  jmethodID method =
      env->GetStaticMethodID(system, "getAppServerProductVersion", "()Ljava/lang/String;");
  if (clearPendingException(env) || !method) {
    env->DeleteLocalRef(system);
    return;
  }
  jstring version = static_cast<jstring>(env->CallStaticObjectMethod(system, method));
  env->DeleteLocalRef(system);
  if (clearPendingException(env) || !version) return;
  const char* chars = env->GetStringUTFChars(version, nullptr);
  if (chars) {
    delete[] productVersionCopy;
    size_t len = std::strlen(chars);
    productVersionCopy = new char[len + 1];
    std::memcpy(productVersionCopy, chars, len + 1);
    env->ReleaseStringUTFChars(version, chars);
    if (probeMgr && productVersionCopy[0])
      std::snprintf(probeMgr->productVersion, sizeof probeMgr->productVersion, "%s",
                    productVersionCopy);
  }
  clearPendingException(env);
  env->DeleteLocalRef(version);
}

// Writes the machine facts and the level; stops quietly at a missing field.
void writeFacts(JNIEnv* env, jclass cls) {
  auto setInt = [&](const char* name, jint value) {
    jfieldID field = env->GetStaticFieldID(cls, name, "I");
    if (!field) {
      clearPendingException(env);
      return false;
    }
    env->SetStaticIntField(cls, field, value);
    return true;
  };
  if (!setInt("processId", cachedProcessId())) return;
  if (!setInt("numberOfCPUs", static_cast<jint>(processorCount()))) return;
  if (!setInt("numberOnline", static_cast<jint>(onlineProcessorCount()))) return;
  if (!setInt("cpuSpeed", static_cast<jint>(processorClockMHz()))) return;
  jfieldID memory = env->GetStaticFieldID(cls, "totalMemory", "J");
  if (!memory) {
    clearPendingException(env);
    return;
  }
  env->SetStaticLongField(cls, memory, static_cast<jlong>(totalPhysicalMemory()));
  if (jfieldID cpuType = env->GetStaticFieldID(cls, "cpuType", "Ljava/lang/String;")) {
    jstring text = env->NewStringUTF("i686");
    if (text) {
      env->SetStaticObjectField(cls, cpuType, text);
      env->DeleteLocalRef(text);
    }
  } else {
    clearPendingException(env);
  }
  if (!setInt("platform", kPlatformNumber)) return;
  if (!setInt("probeLevel", reportedModLevel.load())) return;
  std::unique_ptr<char[]> modFile(modFileName());
  if (os::fileExists(modFile.get())) {
    jfieldID field = env->GetStaticFieldID(cls, "MOD_FILE", "Ljava/lang/String;");
    if (!field) {
      clearPendingException(env);
      return;
    }
    jstring text = env->NewStringUTF(modFile.get());
    if (text) {
      env->SetStaticObjectField(cls, field, text);
      env->DeleteLocalRef(text);
    }
  }
}

}  // namespace

const char* appServerProductVersion() {
  return productVersionCopy;
}

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_halden_probe_ProbeSystem_initializeProbe(JNIEnv* env,
                                                                             jclass cls) {
  return guardedEntry<jboolean>(
      "Java_com_halden_probe_ProbeSystem_initializeProbe", [&]() -> jboolean {
        char text[1024];
        for (const char* name : {"haldenHome", "adminServerName", "appServerName"})
          if (!readRequiredString(env, cls, name, text, sizeof text)) return JNI_FALSE;

        jint methodHashSize = 0;
        if (!readInt(env, cls, "methodHashSize", &methodHashSize)) return JNI_FALSE;
        setMethodTableSize(methodHashSize);

        if (!fieldExists(env, cls, "publishFrequency", "I") ||
            !fieldExists(env, cls, "eventPacketSize", "I") ||
            !fieldExists(env, cls, "eventQueueSizeLimit", "I") ||
            !fieldExists(env, cls, "psRetryFrequency", "J") ||
            !fieldExists(env, cls, "wakeupQueueLength", "I") ||
            !fieldExists(env, cls, "probeStdout", "Ljava/lang/String;"))
          return JNI_FALSE;

        if (!readRequiredString(env, cls, "commandAgentID", text, sizeof text)) return JNI_FALSE;
        if (probeMgr && text[0])
          std::snprintf(probeMgr->commandAgentID, sizeof probeMgr->commandAgentID, "%s", text);

        jint adminServerPort = 0;
        if (!readInt(env, cls, "adminServerPort", &adminServerPort)) return JNI_FALSE;
        if (probeMgr) probeMgr->adminServerPort = adminServerPort;

        if (!fieldExists(env, cls, "jvmVersion", "Ljava/lang/String;")) return JNI_FALSE;

        // A failure of the class references ends this step only: the product
        // version is then not read.
        if (takeClassReferences(env, cls)) readProductVersion(env);
        writeFacts(env, cls);
        return env->ExceptionCheck() ? JNI_FALSE : JNI_TRUE;
      });
}

JNIEXPORT jint JNICALL Java_com_halden_probe_ProbeSystem_getProcessId(JNIEnv*, jclass) {
  return guardedEntry<jint>("Java_com_halden_probe_ProbeSystem_getProcessId",
                            [&]() -> jint { return cachedProcessId(); });
}

JNIEXPORT jobjectArray JNICALL Java_com_halden_probe_ProbeSystem_getArgumentVector(JNIEnv* env,
                                                                                   jclass) {
  return guardedEntry<jobjectArray>(
      "Java_com_halden_probe_ProbeSystem_getArgumentVector", [&]() -> jobjectArray {
        int count = argumentCount();
        if (count == 0) return nullptr;
        jclass string = env->FindClass("java/lang/String");
        if (!string) {
          clearPendingException(env);
          return nullptr;
        }
        jobjectArray array = env->NewObjectArray(count, string, nullptr);
        env->DeleteLocalRef(string);
        if (!array) {
          clearPendingException(env);
          return nullptr;
        }
        for (int i = 0; i < count; i++) {
          jstring arg = env->NewStringUTF(argumentAt(i));
          if (!arg) {
            clearPendingException(env);
            continue;
          }
          env->SetObjectArrayElement(array, i, arg);
          env->DeleteLocalRef(arg);
        }
        return array;
      });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeSystem_stopNative(JNIEnv*, jclass) {
  guardedEntry("Java_com_halden_probe_ProbeSystem_stopNative", [&]() { os::exitProcess(12); });
}

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeSystem_setNativeSamplingRates(JNIEnv* env, jclass,
                                                                                jintArray rates,
                                                                                jint extra) {
  guardedEntry("Java_com_halden_probe_ProbeSystem_setNativeSamplingRates", [&]() {
    if (probeDisabled.load()) return;
    jint copy[4];
    int count = 0;
    if (rates) {
      jsize length = env->GetArrayLength(rates);
      // Only the first four are kept; a shorter array keeps the old values of
      // the rest.
      count = length < 4 ? length : 4;
      if (count > 0) env->GetIntArrayRegion(rates, 0, count, copy);
      if (clearPendingException(env)) count = 0;
    }
    setSamplingRates(env, copy, count, extra);
  });
}

JNIEXPORT jint JNICALL Java_com_halden_probe_ProbeSystem_nativeGetCurrentThreadID(JNIEnv* env,
                                                                                  jclass) {
  return guardedEntry<jint>("Java_com_halden_probe_ProbeSystem_nativeGetCurrentThreadID",
                            [&]() -> jint { return static_cast<jint>(threadIdOf(env)); });
}

JNIEXPORT jint JNICALL Java_com_halden_probe_ThreadManager_getEnv(JNIEnv* env, jclass) {
  return guardedEntry<jint>("Java_com_halden_probe_ThreadManager_getEnv",
                            [&]() -> jint { return static_cast<jint>(threadIdOf(env)); });
}

}  // extern "C"
