// The natives of com.halden.command.heap.HeapUtil: the heap snapshot and its
// room check.
#include <jni.h>

#include <memory>

#include "base/JniUtil.h"
#include "platform/EntryGuard.h"
#include "profiler/HeapSnapshot.h"

namespace {

constexpr jint kJavaException = 3;

// Appends the text to the StringBuffer; false when a Java exception was
// raised (it is described and cleared).
bool appendToBuffer(JNIEnv* env, jobject buffer, const char* text) {
  jstring string = env->NewStringUTF(text);
  if (clearPendingException(env) || !string) return false;
  jclass type = env->GetObjectClass(buffer);
  jmethodID append =
      type ? env->GetMethodID(type, "append", "(Ljava/lang/String;)Ljava/lang/StringBuffer;")
           : nullptr;
  bool ok = !clearPendingException(env) && append;
  if (ok) {
    jobject same = env->CallObjectMethod(buffer, append, string);
    ok = !clearPendingException(env);
    if (same) env->DeleteLocalRef(same);
  }
  if (type) env->DeleteLocalRef(type);
  env->DeleteLocalRef(string);
  return ok;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_halden_command_heap_HeapUtil_getHeapSnapShotData(JNIEnv* env,
                                                                                 jclass,
                                                                                 jobject buffer) {
  return guardedEntry<jint>("Java_com_halden_command_heap_HeapUtil_getHeapSnapShotData",
                            [&]() -> jint {
                              // Without a buffer the summary has nowhere to
                              // go: answered before the heap is walked.
                              if (!buffer) return 0;
                              std::unique_ptr<char[]> text;
                              int result = takeHeapSnapshot(&text);
                              if (result != HEAP_SNAPSHOT_OK || !text) return result;
                              return appendToBuffer(env, buffer, text.get()) ? 0 : kJavaException;
                            });
}

JNIEXPORT jint JNICALL Java_com_halden_command_heap_HeapUtil_testHeapDumpEnvironmentNative(JNIEnv*,
                                                                                           jclass) {
  return guardedEntry<jint>("Java_com_halden_command_heap_HeapUtil_testHeapDumpEnvironmentNative",
                            [&]() -> jint { return testHeapDumpEnvironment(); });
}

}  // extern "C"
