// Natives of the thread table: the ids of ended threads and the probe status
// (com.halden.probe.ThreadManager), and the id of a thread found by its names
// (com.halden.command.CommandAgent). ThreadManager.getEnv and
// ProbeSystem.nativeGetCurrentThreadID answer threadIdOf (ThreadId.h).
#include <jni.h>

#include <cstdint>

#include "base/JniUtil.h"
#include "base/Log.h"
#include "platform/EntryGuard.h"
#include "threads/MemoryMonitor.h"
#include "threads/ThreadMgr.h"
#include "threads/ThreadNatives.h"

int formatStoppedThreadIds(const uint32_t* ids, int count, char* out, int size) {
  if (!out || size <= 0) return 0;
  out[0] = '\0';
  int used = 0;
  for (int i = 0; i < count; i++) {
    char item[16];
    int length = std::snprintf(item, sizeof item, "%10d;", static_cast<int>(ids[i]));
    if (length < 0 || used + length >= size) break;
    std::memcpy(out + used, item, static_cast<size_t>(length) + 1);
    used += length;
  }
  return used;
}

void formatProbeStatus(long bytes, char* out, int size) {
  formatText(out, size, "Approximate Halden Native Memory consumed(bytes): %ld \n", bytes);
}

uint32_t threadIdByNames(const char* threadName, const char* groupName) {
  if (!threadMgr) return 0;
  // The id is read under the table's lock: once it is released the thread
  // may end and its event agent delete the record.
  uint32_t id = 0;
  threadMgr->findThreadData(groupName ? groupName : "", threadName ? threadName : "", &id);
  return id;
}

namespace {
jstring newString(JNIEnv* env, const char* text) {
  jstring result = env->NewStringUTF(text);
  if (clearPendingException(env)) return nullptr;
  return result;
}
}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_com_halden_probe_ThreadManager_getNativeStoppedThreadIDs(JNIEnv* env,
                                                                                        jclass) {
  return guardedEntry<jstring>("Java_com_halden_probe_ThreadManager_getNativeStoppedThreadIDs",
                               [&]() -> jstring {
                                 if (!threadMgr) return nullptr;
                                 uint32_t ids[ThreadMgr::kStoppedSlots];
                                 int count = threadMgr->takeStoppedThreads(ids);
                                 if (count == 0) return nullptr;
                                 char text[6000];
                                 formatStoppedThreadIds(ids, count, text, sizeof text);
                                 return newString(env, text);
                               });
}

JNIEXPORT jstring JNICALL Java_com_halden_probe_ThreadManager_getNativeProbeStatus(JNIEnv* env,
                                                                                   jclass) {
  return guardedEntry<jstring>("Java_com_halden_probe_ThreadManager_getNativeProbeStatus",
                               [&]() -> jstring {
                                 if (!memoryMonitor) return nullptr;
                                 char text[200];
                                 formatProbeStatus(memoryInUse(), text, sizeof text);
                                 return newString(env, text);
                               });
}

JNIEXPORT jint JNICALL Java_com_halden_command_CommandAgent_getThreadId(JNIEnv* env, jobject,
                                                                        jstring threadName,
                                                                        jstring groupName) {
  return guardedEntry<jint>("Java_com_halden_command_CommandAgent_getThreadId", [&]() -> jint {
    JavaChars name(env, threadName);
    JavaChars group(env, groupName);
    return static_cast<jint>(threadIdByNames(name.get(), group.get()));
  });
}

}  // extern "C"
