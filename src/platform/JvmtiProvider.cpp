#include "platform/JvmtiProvider.h"

#include <jvmti.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

jvmtiEnv* jvmtiEnvironment = nullptr;  // written once before the table is published
JavaVM* javaVm = nullptr;
JVMPI_Interface table{};
std::atomic<JVMPI_Interface*> publishedTable{nullptr};

// What the JVM granted of the capabilities we asked for.
bool haveThreadCpuTime = false;
bool haveGcEvents = false;

// The profiler events whose JVMTI counterparts are switched on.
std::atomic<bool> initDoneEnabled{false};
// JVM-init-done is delivered once, whether it came from the JVM or was made
// up because the table was obtained after the JVM had finished starting.
std::atomic<bool> initDoneDelivered{false};

// A raw monitor of the table. The counter is written and read only by the
// monitor's owner; it lets a waiter tell a notification from an early
// return of the JVM's wait.
struct ProviderMonitor {
  jrawMonitorID id = nullptr;
  uint64_t notifications = 0;
};

ProviderMonitor* monitorOf(JVMPI_RawMonitor monitor) {
  return reinterpret_cast<ProviderMonitor*>(monitor);
}

// The handler the user of the table installed, or null to drop the event.
void (*notifyEntry())(JVMPI_Event*) {
  return __atomic_load_n(&table.NotifyEvent, __ATOMIC_ACQUIRE);
}

void deliver(JVMPI_Event* event) {
  if (auto notify = notifyEntry()) notify(event);
}

// --- raw monitors ----------------------------------------------------------

JVMPI_RawMonitor rawMonitorCreate(char* name) {
  auto* monitor = new (std::nothrow) ProviderMonitor();
  if (!monitor) return nullptr;
  if (jvmtiEnvironment->CreateRawMonitor(name ? name : "", &monitor->id) != JVMTI_ERROR_NONE) {
    delete monitor;
    return nullptr;
  }
  return reinterpret_cast<JVMPI_RawMonitor>(monitor);
}

void rawMonitorEnter(JVMPI_RawMonitor monitor) {
  if (monitor) jvmtiEnvironment->RawMonitorEnter(monitorOf(monitor)->id);
}

void rawMonitorExit(JVMPI_RawMonitor monitor) {
  if (monitor) jvmtiEnvironment->RawMonitorExit(monitorOf(monitor)->id);
}

// Waits until notified or until the time is up; 0 waits until notified, as the
// JVM's raw monitor wait does. The JVM's wait may return early (a spurious
// wake-up, or an interrupt of the Java thread, whose interrupt status it
// consumes); the rest of the time is then waited again, because the callers
// rely on a timed wait that nobody notifies lasting its full time.
void rawMonitorWait(JVMPI_RawMonitor monitor, jlong millis) {
  if (!monitor || millis < 0) return;
  ProviderMonitor* m = monitorOf(monitor);
  // Entering again is harmless for the owner and makes reading the counter
  // safe for a caller that forgot to enter.
  if (jvmtiEnvironment->RawMonitorEnter(m->id) != JVMTI_ERROR_NONE) return;
  const uint64_t seen = m->notifications;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
  for (;;) {
    jlong slice = 0;
    if (millis > 0) {
      auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0) break;
      slice = (left + 999) / 1000;
    }
    jvmtiError error = jvmtiEnvironment->RawMonitorWait(m->id, slice);
    if (m->notifications != seen) break;
    if (error != JVMTI_ERROR_NONE && error != JVMTI_ERROR_INTERRUPT) break;
  }
  jvmtiEnvironment->RawMonitorExit(m->id);
}

void rawMonitorNotifyAll(JVMPI_RawMonitor monitor) {
  if (!monitor) return;
  ProviderMonitor* m = monitorOf(monitor);
  // Succeeds only for the owner, who alone may touch the counter.
  if (jvmtiEnvironment->RawMonitorNotifyAll(m->id) == JVMTI_ERROR_NONE) m->notifications++;
}

void rawMonitorDestroy(JVMPI_RawMonitor monitor) {
  if (!monitor) return;
  ProviderMonitor* m = monitorOf(monitor);
  jvmtiEnvironment->DestroyRawMonitor(m->id);
  delete m;
}

// --- time ------------------------------------------------------------------

jlong currentThreadCpuTime() {
  jlong nanos = 0;
  if (!haveThreadCpuTime) return 0;
  if (jvmtiEnvironment->GetCurrentThreadCpuTime(&nanos) != JVMTI_ERROR_NONE) return 0;
  return nanos;
}

// --- events ----------------------------------------------------------------

bool jvmtiEventOf(jint eventType, jvmtiEvent* out) {
  switch (eventType) {
    case JVMPI_EVENT_THREAD_START:
      *out = JVMTI_EVENT_THREAD_START;
      return true;
    case JVMPI_EVENT_THREAD_END:
      *out = JVMTI_EVENT_THREAD_END;
      return true;
    case JVMPI_EVENT_CLASS_LOAD_HOOK:
      *out = JVMTI_EVENT_CLASS_FILE_LOAD_HOOK;
      return true;
    case JVMPI_EVENT_JVM_INIT_DONE:
      *out = JVMTI_EVENT_VM_INIT;
      return true;
    case JVMPI_EVENT_GC_START:
      *out = JVMTI_EVENT_GARBAGE_COLLECTION_START;
      return haveGcEvents;
    case JVMPI_EVENT_GC_FINISH:
      *out = JVMTI_EVENT_GARBAGE_COLLECTION_FINISH;
      return haveGcEvents;
    default:
      return false;
  }
}

void deliverInitDone(JNIEnv* jni) {
  if (!initDoneEnabled.load(std::memory_order_relaxed)) return;
  if (initDoneDelivered.exchange(true)) return;
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_JVM_INIT_DONE;
  event.env_id = jni;
  deliver(&event);
}

jint setEvent(jint eventType, bool on) {
  // Asked for once when the interface is obtained; nothing to switch.
  if (eventType == JVMPI_EVENT_INTERFACE_READY) return JVMPI_SUCCESS;
  jvmtiEvent jvmtiEvent;
  if (!jvmtiEventOf(eventType, &jvmtiEvent)) return JVMPI_NOT_AVAILABLE;
  jvmtiError error = jvmtiEnvironment->SetEventNotificationMode(on ? JVMTI_ENABLE : JVMTI_DISABLE,
                                                                jvmtiEvent, nullptr);
  if (error != JVMTI_ERROR_NONE) return JVMPI_FAIL;
  if (eventType == JVMPI_EVENT_JVM_INIT_DONE) {
    initDoneEnabled.store(on);
    // Obtained after the JVM finished starting (a library loaded with -Xrun):
    // the JVM's own VM init has passed, so it is delivered now, on this thread.
    jvmtiPhase phase = JVMTI_PHASE_ONLOAD;
    if (on && jvmtiEnvironment->GetPhase(&phase) == JVMTI_ERROR_NONE && phase == JVMTI_PHASE_LIVE) {
      JNIEnv* jni = nullptr;
      if (javaVm->GetEnv(reinterpret_cast<void**>(&jni), JNI_VERSION_1_2) == JNI_OK) {
        deliverInitDone(jni);
      }
    }
  }
  return JVMPI_SUCCESS;
}

jint enableEvent(jint eventType, void*) {
  return setEvent(eventType, true);
}
jint disableEvent(jint eventType, void*) {
  return setEvent(eventType, false);
}

// --- entries that later work fills -------------------------------------------

jint requestEvent(jint, void*) {
  return JVMPI_NOT_AVAILABLE;
}
jobjectID getMethodClass(jmethodIDp) {
  return 0;
}
void disableGC() {}
void enableGC() {}
jobjectID getThreadObject(JNIEnv*) {
  return 0;
}
jint getThreadStatus(JNIEnv*) {
  return 0;
}

// --- JVMTI callbacks -----------------------------------------------------------

void JNICALL onVmInit(jvmtiEnv*, JNIEnv* jni, jthread) {
  deliverInitDone(jni);
}

// Deallocates JVMTI memory and deletes local references when the thread
// start event is done with them.
struct ThreadNames {
  jvmtiEnv* jvmti;
  JNIEnv* jni;
  jvmtiThreadInfo thread{};
  jvmtiThreadGroupInfo group{};
  jvmtiThreadGroupInfo parent{};

  ThreadNames(jvmtiEnv* j, JNIEnv* e, jthread t) : jvmti(j), jni(e) {
    if (jvmti->GetThreadInfo(t, &thread) != JVMTI_ERROR_NONE) {
      thread = jvmtiThreadInfo{};
      return;
    }
    if (!thread.thread_group ||
        jvmti->GetThreadGroupInfo(thread.thread_group, &group) != JVMTI_ERROR_NONE) {
      group = jvmtiThreadGroupInfo{};
      return;
    }
    if (group.parent && jvmti->GetThreadGroupInfo(group.parent, &parent) != JVMTI_ERROR_NONE) {
      parent = jvmtiThreadGroupInfo{};
    }
  }
  ~ThreadNames() {
    for (char* name : {thread.name, group.name, parent.name}) {
      if (name) jvmti->Deallocate(reinterpret_cast<unsigned char*>(name));
    }
    if (jni) {
      for (jobject ref :
           {static_cast<jobject>(thread.thread_group), thread.context_class_loader,
            static_cast<jobject>(group.parent), static_cast<jobject>(parent.parent)}) {
        if (ref) jni->DeleteLocalRef(ref);
      }
    }
  }
  ThreadNames(const ThreadNames&) = delete;
  ThreadNames& operator=(const ThreadNames&) = delete;
};

void JNICALL onThreadStart(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread) {
  if (!notifyEntry()) return;
  ThreadNames names(jvmti, jni, thread);
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_THREAD_START;
  event.env_id = jni;
  event.u.thread_start.thread_name = names.thread.name;
  event.u.thread_start.group_name = names.group.name;
  event.u.thread_start.parent_name = names.parent.name;
  event.u.thread_start.thread_id = 0;
  event.u.thread_start.thread_env_id = jni;
  deliver(&event);
}

void JNICALL onThreadEnd(jvmtiEnv*, JNIEnv* jni, jthread) {
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_THREAD_END;
  event.env_id = jni;
  deliver(&event);
}

// Buffers handed out by the class-load hook's allocation function while a
// hook runs on this thread. A hook can run inside another on the same thread
// (a class loaded by Java code that the outer hook calls), so each hook keeps
// its own list and puts the outer one back when it ends.
struct HookAllocation {
  unsigned char* bytes;
  unsigned int size;
};
thread_local std::vector<HookAllocation>* hookAllocations = nullptr;

void* hookMalloc(unsigned int size) {
  // Only valid inside a hook: nobody would release the memory otherwise.
  if (!hookAllocations) return nullptr;
  unsigned char* bytes = nullptr;
  if (jvmtiEnvironment->Allocate(size, &bytes) != JVMTI_ERROR_NONE || !bytes) return nullptr;
  hookAllocations->push_back({bytes, size});
  return bytes;
}

void JNICALL onClassFileLoadHook(jvmtiEnv* jvmti, JNIEnv* jni, jclass, jobject, const char* name,
                                 jobject, jint classDataLen, const unsigned char* classData,
                                 jint* newClassDataLen, unsigned char** newClassData) {
  if (!notifyEntry()) return;
  std::vector<HookAllocation> allocations;
  std::vector<HookAllocation>* outer = hookAllocations;
  hookAllocations = &allocations;

  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_CLASS_LOAD_HOOK;
  event.env_id = jni;
  auto& hook = event.u.class_load_hook;
  hook.class_data = const_cast<unsigned char*>(classData);
  hook.class_data_len = classDataLen;
  hook.new_class_data = nullptr;
  hook.new_class_data_len = 0;
  hook.malloc_f = &hookMalloc;
  hook.class_name = name;
  deliver(&event);
  hookAllocations = outer;

  // Only a buffer from the allocation function, large enough for the length
  // given, can be handed to the JVM, which releases it; any other answer
  // (the JVM's own bytes, nothing, a foreign pointer) leaves the class as it is.
  unsigned char* handed = nullptr;
  if (hook.new_class_data && hook.new_class_data_len > 0) {
    for (const HookAllocation& a : allocations) {
      if (a.bytes == hook.new_class_data &&
          static_cast<unsigned int>(hook.new_class_data_len) <= a.size) {
        bool same = hook.new_class_data_len == classDataLen &&
                    std::memcmp(a.bytes, classData, static_cast<size_t>(classDataLen)) == 0;
        if (!same) handed = a.bytes;
        break;
      }
    }
  }
  if (handed) {
    *newClassData = handed;
    *newClassDataLen = hook.new_class_data_len;
  }
  for (const HookAllocation& a : allocations) {
    if (a.bytes != handed) jvmti->Deallocate(a.bytes);
  }
}

// Garbage collection events run where no JNI may be called; the counters the
// JVM does not report are 0.
void JNICALL onGcStart(jvmtiEnv*) {
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_GC_START;
  deliver(&event);
}

void JNICALL onGcFinish(jvmtiEnv*) {
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_GC_FINISH;
  deliver(&event);
}

// Asks for the capabilities the table needs, as far as the JVM offers them
// in its current phase (some are offered only while the JVM loads agents).
void addCapabilities(jvmtiEnv* jvmti) {
  jvmtiCapabilities potential{};
  if (jvmti->GetPotentialCapabilities(&potential) != JVMTI_ERROR_NONE) return;
  jvmtiCapabilities wanted{};
  wanted.can_generate_all_class_hook_events = potential.can_generate_all_class_hook_events;
  wanted.can_get_current_thread_cpu_time = potential.can_get_current_thread_cpu_time;
  wanted.can_generate_garbage_collection_events = potential.can_generate_garbage_collection_events;
  jvmti->AddCapabilities(&wanted);
  jvmtiCapabilities held{};
  if (jvmti->GetCapabilities(&held) != JVMTI_ERROR_NONE) return;
  haveThreadCpuTime = held.can_get_current_thread_cpu_time;
  haveGcEvents = held.can_generate_garbage_collection_events;
}

}  // namespace

JVMPI_Interface* jvmtiProviderInstall(JavaVM* vm) {
  static std::mutex installing;
  std::lock_guard<std::mutex> guard(installing);
  if (JVMPI_Interface* done = publishedTable.load(std::memory_order_acquire)) return done;
  if (!vm) return nullptr;

  jvmtiEnv* jvmti = nullptr;
  if (vm->GetEnv(reinterpret_cast<void**>(&jvmti), JVMTI_VERSION_1_2) != JNI_OK || !jvmti) {
    return nullptr;
  }
  addCapabilities(jvmti);

  jvmtiEventCallbacks callbacks{};
  callbacks.VMInit = &onVmInit;
  callbacks.ThreadStart = &onThreadStart;
  callbacks.ThreadEnd = &onThreadEnd;
  callbacks.ClassFileLoadHook = &onClassFileLoadHook;
  callbacks.GarbageCollectionStart = &onGcStart;
  callbacks.GarbageCollectionFinish = &onGcFinish;
  if (jvmti->SetEventCallbacks(&callbacks, sizeof(callbacks)) != JVMTI_ERROR_NONE) {
    jvmti->DisposeEnvironment();
    return nullptr;
  }

  jvmtiEnvironment = jvmti;
  javaVm = vm;
  table.version = JVMPI_VERSION_1_1;
  table.NotifyEvent = nullptr;
  table.EnableEvent = &enableEvent;
  table.DisableEvent = &disableEvent;
  table.RequestEvent = &requestEvent;
  table.RawMonitorCreate = &rawMonitorCreate;
  table.RawMonitorEnter = &rawMonitorEnter;
  table.RawMonitorExit = &rawMonitorExit;
  table.RawMonitorWait = &rawMonitorWait;
  table.RawMonitorNotifyAll = &rawMonitorNotifyAll;
  table.RawMonitorDestroy = &rawMonitorDestroy;
  table.GetCurrentThreadCpuTime = &currentThreadCpuTime;
  table.GetMethodClass = &getMethodClass;
  table.DisableGC = &disableGC;
  table.EnableGC = &enableGC;
  table.GetThreadObject = &getThreadObject;
  table.GetThreadStatus = &getThreadStatus;
  publishedTable.store(&table, std::memory_order_release);
  return &table;
}

JVMPI_Interface* jvmtiProviderTable() {
  return publishedTable.load(std::memory_order_acquire);
}
