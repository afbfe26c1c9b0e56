#include "profiler/MethodLevelNatives.h"

#include <string>
#include <vector>

#include "base/JniUtil.h"
#include "events/EventRecord.h"
#include "platform/EntryGuard.h"
#include "profiler/ClassEvents.h"
#include "profiler/MethodLevel.h"
#include "threads/EntryGate.h"
#include "threads/ThreadMgr.h"

namespace {

// The elements of a Java int array, copied.
struct JavaInts {
  std::vector<jint> values;
  bool ok = false;
  JavaInts(JNIEnv* env, jintArray array) {
    if (!array) return;
    jsize length = env->GetArrayLength(array);
    values.resize(static_cast<size_t>(length));
    if (length > 0) env->GetIntArrayRegion(array, 0, length, values.data());
    ok = !clearPendingException(env);
  }
};

// The elements of a Java String array as UTF-8 copies; a null element stays
// null.
struct JavaStrings {
  std::vector<std::string> texts;
  std::vector<const char*> pointers;
  bool ok = false;
  JavaStrings(JNIEnv* env, jobjectArray array) {
    if (!array) return;
    jsize length = env->GetArrayLength(array);
    texts.resize(static_cast<size_t>(length));
    pointers.assign(static_cast<size_t>(length), nullptr);
    for (jsize i = 0; i < length; i++) {
      auto element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
      if (clearPendingException(env)) return;
      if (!element) continue;
      {
        JavaChars chars(env, element);
        texts[static_cast<size_t>(i)] = chars.get() ? chars.get() : "";
      }
      pointers[static_cast<size_t>(i)] = texts[static_cast<size_t>(i)].c_str();
      env->DeleteLocalRef(element);
    }
    ok = true;
  }
};

// The methods of a class from Java, when all three arrays are there and
// equally long.
struct JavaClassMethods {
  JavaInts ids;
  JavaStrings names;
  JavaStrings signatures;
  JavaMethods methods;
  bool ok;
  JavaClassMethods(JNIEnv* env, jintArray i, jobjectArray n, jobjectArray s)
      : ids(env, i), names(env, n), signatures(env, s) {
    ok = ids.ok && names.ok && signatures.ok && ids.values.size() == names.texts.size() &&
         ids.values.size() == signatures.texts.size();
    methods.count = static_cast<int32_t>(ids.values.size());
    methods.ids = ids.values.data();
    methods.names = names.pointers.data();
    methods.signatures = signatures.pointers.data();
  }
};

ThreadData* callingThread(JNIEnv* env) {
  return threadMgr ? threadMgr->getThreadData(env) : nullptr;
}

bool gatedMethodRecord(JNIEnv* env, int subtype, jint methodId) {
  ThreadData* data = nullptr;
  if (!passEntryGate(env, &data)) return false;
  return queueMethodRecord(data, subtype, static_cast<uint32_t>(methodId));
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_halden_command_MethodLevelModule_initializeClass(
    JNIEnv* env, jclass, jstring name, jintArray ids, jobjectArray names, jobjectArray signatures) {
  guardedEntry("Java_com_halden_command_MethodLevelModule_initializeClass", [&]() {
    ThreadData* data = nullptr;
    if (!passEntryGate(env, &data) || !name) return;
    JavaClassMethods methods(env, ids, names, signatures);
    JavaChars className(env, name);
    if (!methods.ok || !className.get()) return;
    registerJavaClass(data, className.get(), methods.methods);
  });
}

JNIEXPORT void JNICALL Java_com_halden_command_MethodLevelModule_unloadClass(JNIEnv* env, jclass,
                                                                             jstring name) {
  guardedEntry("Java_com_halden_command_MethodLevelModule_unloadClass", [&]() {
    JavaChars className(env, name);
    if (className.get()) unloadJavaClass(callingThread(env), className.get());
  });
}

JNIEXPORT void JNICALL Java_com_halden_command_MethodLevelModule_beforeMethod(JNIEnv* env, jclass,
                                                                              jint methodId) {
  guardedEntry("Java_com_halden_command_MethodLevelModule_beforeMethod",
               [&]() { gatedMethodRecord(env, SUBTYPE_BEGIN, methodId); });
}

JNIEXPORT void JNICALL Java_com_halden_command_MethodLevelModule_afterMethod(JNIEnv* env, jclass,
                                                                             jint methodId) {
  guardedEntry("Java_com_halden_command_MethodLevelModule_afterMethod",
               [&]() { gatedMethodRecord(env, SUBTYPE_END, methodId); });
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_l3trace_BcmRuntime_appendL3Event(JNIEnv* env,
                                                                                  jclass,
                                                                                  jbyte exitFlag,
                                                                                  jint methodId) {
  return guardedEntry<jboolean>(
      "Java_com_halden_probe_l3trace_BcmRuntime_appendL3Event", [&]() -> jboolean {
        return gatedMethodRecord(env, exitFlag == 0 ? SUBTYPE_BEGIN : SUBTYPE_END, methodId)
                   ? JNI_TRUE
                   : JNI_FALSE;
      });
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_l3trace_BcmRuntime_sendClassEventNative(
    JNIEnv* env, jclass, jint number, jstring name, jintArray ids, jobjectArray names,
    jobjectArray signatures) {
  return guardedEntry<jboolean>(
      "Java_com_halden_probe_l3trace_BcmRuntime_sendClassEventNative", [&]() -> jboolean {
        if (!name) return JNI_FALSE;
        JavaClassMethods methods(env, ids, names, signatures);
        JavaChars className(env, name);
        if (!methods.ok || !className.get()) return JNI_FALSE;
        return queueJavaClassEvent(callingThread(env), static_cast<uint32_t>(number),
                                   className.get(), methods.methods)
                   ? JNI_TRUE
                   : JNI_FALSE;
      });
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_l3trace_BcmRuntime_sendClassUnloadEventNative(
    JNIEnv* env, jclass, jint number, jstring name, jintArray ids) {
  return guardedEntry<jboolean>(
      "Java_com_halden_probe_l3trace_BcmRuntime_sendClassUnloadEventNative", [&]() -> jboolean {
        if (!name || !ids) return JNI_FALSE;
        JavaInts methodIds(env, ids);
        JavaChars className(env, name);
        if (!methodIds.ok || !className.get()) return JNI_FALSE;
        return queueJavaClassUnload(callingThread(env), static_cast<uint32_t>(number),
                                    className.get(), static_cast<int32_t>(methodIds.values.size()),
                                    methodIds.values.data())
                   ? JNI_TRUE
                   : JNI_FALSE;
      });
}

}  // extern "C"
