#include "profiler/AnalysisNatives.h"

#include "base/JniUtil.h"
#include "events/EventRecord.h"
#include "platform/EntryGuard.h"
#include "profiler/LockEvents.h"
#include "threads/EntryGate.h"

namespace {

void heapAllocation(JNIEnv* env, int subtype, jint id, jint number2, jstring name) {
  ThreadData* data = nullptr;
  if (!passEntryGate(env, &data)) return;
  JavaChars text(env, name);
  appendHeapAllocationEvent(env, data, subtype, static_cast<uint32_t>(id),
                            static_cast<uint32_t>(number2), text.get());
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_halden_probe_heap_HeapAnalysisRuntime_nativeHeapAllocationStart(
    JNIEnv* env, jclass, jint id, jint number2, jstring name) {
  guardedEntry("Java_com_halden_probe_heap_HeapAnalysisRuntime_nativeHeapAllocationStart",
               [&]() { heapAllocation(env, SUBTYPE_BEGIN, id, number2, name); });
}

JNIEXPORT void JNICALL Java_com_halden_probe_heap_HeapAnalysisRuntime_nativeHeapAllocationEnd(
    JNIEnv* env, jclass, jint id, jint number2, jstring name) {
  guardedEntry("Java_com_halden_probe_heap_HeapAnalysisRuntime_nativeHeapAllocationEnd",
               [&]() { heapAllocation(env, SUBTYPE_END, id, number2, name); });
}

JNIEXPORT jboolean JNICALL Java_com_halden_probe_lock_LockAnalysisRuntime_appendEvent(
    JNIEnv* env, jclass, jbyte kind, jstring name, jint id, jbyte flag, jstring text1,
    jstring text2, jint number1, jint number2) {
  return guardedEntry<jboolean>("Java_com_halden_probe_lock_LockAnalysisRuntime_appendEvent",
                                [&]() -> jboolean {
                                  ThreadData* data = nullptr;
                                  if (!passEntryGate(env, &data)) return JNI_FALSE;
                                  if (kind < 1 || kind > 6) return JNI_FALSE;
                                  JavaChars nameChars(env, name);
                                  JavaChars text1Chars(env, text1);
                                  JavaChars text2Chars(env, text2);
                                  LockEventArgs args;
                                  args.kind = kind;
                                  args.name = nameChars.get();
                                  args.id = static_cast<uint32_t>(id);
                                  args.flag = static_cast<uint8_t>(flag);
                                  args.text1 = text1Chars.get();
                                  args.text2 = text2Chars.get();
                                  args.number1 = static_cast<uint32_t>(number1);
                                  args.number2 = static_cast<uint32_t>(number2);
                                  return appendLockEvent(env, data, args) ? JNI_TRUE : JNI_FALSE;
                                });
}

}  // extern "C"
