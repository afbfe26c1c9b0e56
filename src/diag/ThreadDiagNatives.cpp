// Natives of the thread diagnostics: CommandAgent.generateThreadDump,
// ThreadManager.getStackTrace and ThreadManager.getNativeThreadStatus. They
// unpack the Java arguments and hand the results back; the work is done by
// ThreadDump and ThreadStatus.
#include <jni.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/JniUtil.h"
#include "base/Log.h"
#include "config/ProbeState.h"
#include "diag/ThreadDump.h"
#include "diag/ThreadStatus.h"
#include "platform/EntryGuard.h"
#include "platform/jvmpi.h"

namespace {

void dumpError(const char* text) {
  logCatalogArgs(LOG_ERROR, "NATIVE_THREADDUMP_ERROR", text);
}

// Hands the file name and offset to the info object; false after logging.
bool deliverDump(JNIEnv* env, jobject info, const std::string& name) {
  jclass cls = env->GetObjectClass(info);
  if (clearPendingException(env) || !cls) {
    dumpError("Can't get ThreadDumpInfo class");
    return false;
  }
  jmethodID setFileName = env->GetMethodID(cls, "setFileName", "(Ljava/lang/String;)V");
  if (clearPendingException(env) || !setFileName) {
    env->DeleteLocalRef(cls);
    dumpError("Can't find method setFileName(String)");
    return false;
  }
  jmethodID setOffSet = env->GetMethodID(cls, "setOffSet", "(J)V");
  if (clearPendingException(env) || !setOffSet) {
    env->DeleteLocalRef(cls);
    dumpError("Can't find method setOffSet(long)");
    return false;
  }
  jstring text = env->NewStringUTF(name.c_str());
  if (clearPendingException(env) || !text) {
    env->DeleteLocalRef(cls);
    dumpError("Can't construct a String object");
    return false;
  }
  const int offset = 0;
  char line[400];
  formatText(line, sizeof line, "offset of %s is %d\n", name.c_str(), offset);
  logCatalogArgs(LOG_DEBUG, "NATIVE_THREADDUMP_INFO", static_cast<const char*>(line));
  env->CallVoidMethod(info, setFileName, text);
  clearPendingException(env);
  env->CallVoidMethod(info, setOffSet, static_cast<jlong>(offset));
  clearPendingException(env);
  env->DeleteLocalRef(text);
  env->DeleteLocalRef(cls);
  return true;
}

// java/lang/String, resolved on first use and kept.
std::atomic<jclass> stringClass{nullptr};

jclass javaString(JNIEnv* env) {
  if (jclass held = stringClass.load(std::memory_order_acquire)) return held;
  logMessage(LOG_INFO, "javastring is null");
  jclass local = env->FindClass("java/lang/String");
  if (clearPendingException(env) || !local) return nullptr;
  jclass global = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  if (!global) return nullptr;
  jclass expected = nullptr;
  if (!stringClass.compare_exchange_strong(expected, global)) {
    env->DeleteGlobalRef(global);
    return expected;
  }
  return global;
}

// Stores text at index; false when the string cannot be made.
bool setElement(JNIEnv* env, jobjectArray array, jsize index, const char* text) {
  jstring value = env->NewStringUTF(text);
  if (clearPendingException(env) || !value) return false;
  env->SetObjectArrayElement(array, index, value);
  env->DeleteLocalRef(value);
  return !clearPendingException(env);
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_halden_command_CommandAgent_generateThreadDump(JNIEnv* env, jclass,
                                                                               jobject info) {
  return guardedEntry<jint>("Java_com_halden_command_CommandAgent_generateThreadDump",
                            [&]() -> jint {
                              if (!info) {
                                dumpError("threadDumpInfo is null");
                                return -1;
                              }
                              std::string name;
                              if (!generateThreadDumpFile(env, &name)) return -1;
                              return deliverDump(env, info, name) ? 0 : -1;
                            });
}

JNIEXPORT jobjectArray JNICALL Java_com_halden_probe_ThreadManager_getStackTrace(
    JNIEnv* env, jclass, jint threadKey, jint maxFrames, jint) {
  return guardedEntry<jobjectArray>(
      "Java_com_halden_probe_ThreadManager_getStackTrace", [&]() -> jobjectArray {
        if (probeDisabled.load()) {
          logMessage(LOG_ERROR, "Probe is Disabled, cannot return stack trace");
          return nullptr;
        }
        // Three elements per frame must fit a Java array's length.
        if (maxFrames <= 0 || maxFrames > 0x7fffffff / 3) return nullptr;
        jclass string = javaString(env);
        if (!string) return nullptr;
        jobjectArray array = env->NewObjectArray(3 * maxFrames, string, nullptr);
        if (clearPendingException(env) || !array) return nullptr;
        if (!jvmpi) {
          env->DeleteLocalRef(array);
          return nullptr;
        }
        uint32_t objectId = 0;
        if (!liveThreadObject(static_cast<uint32_t>(threadKey), &objectId)) {
          env->DeleteLocalRef(array);
          return nullptr;
        }
        if (objectId == 0) return array;
        std::vector<JavacoreFrame> frames;
        stackTraceFromJavacore(env, objectId, maxFrames, &frames);
        jsize index = 0;
        for (const JavacoreFrame& frame : frames) {
          if (index + 3 > 3 * maxFrames) break;
          if (!setElement(env, array, index, frame.className.c_str()) ||
              !setElement(env, array, index + 1, frame.methodName.c_str()) ||
              !setElement(env, array, index + 2, ""))
            break;
          index += 3;
        }
        return array;
      });
}

JNIEXPORT jint JNICALL Java_com_halden_probe_ThreadManager_getNativeThreadStatus(JNIEnv*, jclass,
                                                                                 jint threadKey) {
  return guardedEntry<jint>(
      "Java_com_halden_probe_ThreadManager_getNativeThreadStatus",
      [&]() -> jint { return threadStatusOf(static_cast<uint32_t>(threadKey)); });
}

}  // extern "C"
