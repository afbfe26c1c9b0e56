#include "platform/JvmtiProvider.h"
#include "platform/JvmtiProviderTestAccess.h"

#include <jvmti.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/EntryGuard.h"
#include "platform/JvmtiClasses.h"
#include "platform/JvmtiClassesTestAccess.h"
#include "platform/JvmtiHeapDump.h"
#include "platform/JvmtiRas.h"
#include "platform/LocalMonitor.h"
#include "platform/ThreadCpuClock.h"
#include "platform/os.h"

// Set once the JVM granted the thread CPU time capability.
std::atomic<bool> providerHasThreadCpuTime{false};

namespace {

// Null until the JVM hands out a JVMTI environment: a library loaded with
// -Xrun is started in a phase of the JVM's start-up in which it does not, so
// the table then starts without one and obtains it at the first call made
// after the JVM has started (see ensureJvmti).
std::atomic<jvmtiEnv*> jvmtiEnvironment{nullptr};
JavaVM* javaVm = nullptr;  // written once before the table is published
JVMPI_Interface table{};
std::atomic<JVMPI_Interface*> publishedTable{nullptr};
std::atomic<bool> jvmtiUnobtainable{false};

// What else the JVM granted of the capabilities we asked for.
std::atomic<bool> haveGcEvents{false};

// The events the user of the table wants, by slot; applied to JVMTI at once,
// or when JVMTI is obtained.
constexpr jint slotEvents[] = {JVMPI_EVENT_THREAD_START,    JVMPI_EVENT_THREAD_END,
                               JVMPI_EVENT_CLASS_LOAD_HOOK, JVMPI_EVENT_JVM_INIT_DONE,
                               JVMPI_EVENT_GC_START,        JVMPI_EVENT_GC_FINISH,
                               JVMPI_EVENT_CLASS_PREPARE};
constexpr int slotCount = sizeof slotEvents / sizeof slotEvents[0];
std::atomic<bool> wanted[slotCount];

int slotOf(jint eventType) {
  for (int i = 0; i < slotCount; i++)
    if (slotEvents[i] == eventType) return i;
  return -1;
}

// JVM-init-done is delivered once, whether it came from the JVM or was made
// up because JVMTI was obtained after the JVM had finished starting.
std::atomic<bool> initDoneDelivered{false};

jvmtiEnv* jvmtiOrNull() {
  return jvmtiEnvironment.load(std::memory_order_acquire);
}
jvmtiEnv* ensureJvmti();

// A raw monitor of the table: a JVMTI raw monitor, or, when made before
// JVMTI was obtained, a monitor of our own with the same behaviour. The
// counter is written and read only by the owner of the JVMTI monitor; it lets
// a waiter tell a notification from an early return of the JVM's wait.
struct ProviderMonitor {
  jrawMonitorID id = nullptr;
  std::unique_ptr<LocalMonitor> local;
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
  jvmtiEnv* jvmti = ensureJvmti();
  if (!jvmti) {
    monitor->local.reset(new (std::nothrow) LocalMonitor());
    if (!monitor->local) {
      delete monitor;
      return nullptr;
    }
  } else if (jvmti->CreateRawMonitor(name ? name : "", &monitor->id) != JVMTI_ERROR_NONE) {
    delete monitor;
    return nullptr;
  }
  return reinterpret_cast<JVMPI_RawMonitor>(monitor);
}

void rawMonitorEnter(JVMPI_RawMonitor monitor) {
  if (!monitor) return;
  ProviderMonitor* m = monitorOf(monitor);
  if (m->local) {
    m->local->enter();
  } else {
    jvmtiOrNull()->RawMonitorEnter(m->id);
  }
}

void rawMonitorExit(JVMPI_RawMonitor monitor) {
  if (!monitor) return;
  ProviderMonitor* m = monitorOf(monitor);
  if (m->local) {
    m->local->exit();
  } else {
    jvmtiOrNull()->RawMonitorExit(m->id);
  }
}

// Waits until notified or until the time is up; 0 waits until notified, as the
// JVM's raw monitor wait does. The JVM's wait may return early (a spurious
// wake-up, or an interrupt of the Java thread, whose interrupt status it
// consumes); the rest of the time is then waited again, because the callers
// rely on a timed wait that nobody notifies lasting its full time.
void rawMonitorWait(JVMPI_RawMonitor monitor, jlong millis) {
  if (!monitor || millis < 0) return;
  ProviderMonitor* m = monitorOf(monitor);
  if (m->local) {
    m->local->wait(millis);
    return;
  }
  jvmtiEnv* jvmti = jvmtiOrNull();
  // Entering again is harmless for the owner and makes reading the counter
  // safe for a caller that forgot to enter.
  if (jvmti->RawMonitorEnter(m->id) != JVMTI_ERROR_NONE) return;
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
    jvmtiError error = jvmti->RawMonitorWait(m->id, slice);
    if (m->notifications != seen) break;
    if (error != JVMTI_ERROR_NONE && error != JVMTI_ERROR_INTERRUPT) break;
  }
  jvmti->RawMonitorExit(m->id);
}

void rawMonitorNotifyAll(JVMPI_RawMonitor monitor) {
  if (!monitor) return;
  ProviderMonitor* m = monitorOf(monitor);
  if (m->local) {
    m->local->notifyAll();
    return;
  }
  // Succeeds only for the owner, who alone may touch the counter.
  if (jvmtiOrNull()->RawMonitorNotifyAll(m->id) == JVMTI_ERROR_NONE) m->notifications++;
}

void rawMonitorDestroy(JVMPI_RawMonitor monitor) {
  if (!monitor) return;
  ProviderMonitor* m = monitorOf(monitor);
  if (!m->local) jvmtiOrNull()->DestroyRawMonitor(m->id);
  delete m;
}

// --- events ----------------------------------------------------------------

jvmtiEvent jvmtiEventOf(jint eventType) {
  switch (eventType) {
    case JVMPI_EVENT_THREAD_START:
      return JVMTI_EVENT_THREAD_START;
    case JVMPI_EVENT_THREAD_END:
      return JVMTI_EVENT_THREAD_END;
    case JVMPI_EVENT_CLASS_LOAD_HOOK:
      return JVMTI_EVENT_CLASS_FILE_LOAD_HOOK;
    case JVMPI_EVENT_JVM_INIT_DONE:
      return JVMTI_EVENT_VM_INIT;
    case JVMPI_EVENT_GC_START:
      return JVMTI_EVENT_GARBAGE_COLLECTION_START;
    case JVMPI_EVENT_CLASS_PREPARE:
      return JVMTI_EVENT_CLASS_PREPARE;
    default:
      return JVMTI_EVENT_GARBAGE_COLLECTION_FINISH;
  }
}

void deliverInitDone(JNIEnv* jni) {
  if (!wanted[slotOf(JVMPI_EVENT_JVM_INIT_DONE)].load()) return;
  if (initDoneDelivered.exchange(true)) return;
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_JVM_INIT_DONE;
  event.env_id = jni;
  deliver(&event);
}

// Switches the JVMTI event of a slot as the user of the table wants it.
jint applyEvent(jvmtiEnv* jvmti, jint eventType, bool on) {
  bool gc = eventType == JVMPI_EVENT_GC_START || eventType == JVMPI_EVENT_GC_FINISH;
  if (gc && !haveGcEvents.load(std::memory_order_relaxed)) return JVMPI_NOT_AVAILABLE;
  if (jvmti->SetEventNotificationMode(on ? JVMTI_ENABLE : JVMTI_DISABLE, jvmtiEventOf(eventType),
                                      nullptr) != JVMTI_ERROR_NONE)
    return JVMPI_FAIL;
  if (eventType == JVMPI_EVENT_JVM_INIT_DONE && on) {
    // Obtained after the JVM finished starting: the JVM's own VM init has
    // passed, so it is delivered now, on this thread.
    jvmtiPhase phase = JVMTI_PHASE_ONLOAD;
    JNIEnv* jni = nullptr;
    if (jvmti->GetPhase(&phase) == JVMTI_ERROR_NONE && phase == JVMTI_PHASE_LIVE &&
        javaVm->GetEnv(reinterpret_cast<void**>(&jni), JNI_VERSION_1_2) == JNI_OK) {
      deliverInitDone(jni);
    }
  }
  return JVMPI_SUCCESS;
}

jint setEvent(jint eventType, bool on) {
  // Asked for once when the interface is obtained; nothing to switch.
  if (eventType == JVMPI_EVENT_INTERFACE_READY) return JVMPI_SUCCESS;
  int slot = slotOf(eventType);
  if (slot < 0) return JVMPI_NOT_AVAILABLE;
  wanted[slot].store(on);
  jvmtiEnv* jvmti = ensureJvmti();
  // Without JVMTI yet, the wish is kept and applied when JVMTI is obtained.
  if (!jvmti) return jvmtiUnobtainable.load() ? JVMPI_NOT_AVAILABLE : JVMPI_SUCCESS;
  return applyEvent(jvmti, eventType, on);
}

jint enableEvent(jint eventType, void*) {
  return setEvent(eventType, true);
}
jint disableEvent(jint eventType, void*) {
  return setEvent(eventType, false);
}

// --- classes and methods (JvmtiClasses.cpp) ------------------------------------

JNIEnv* currentJni() {
  JNIEnv* jni = nullptr;
  if (!javaVm || javaVm->GetEnv(reinterpret_cast<void**>(&jni), JNI_VERSION_1_2) != JNI_OK)
    return nullptr;
  return jni;
}

// Served on request: class loads (the argument is the class id) and level-2
// heap dumps (the argument is a JVMPI_HeapDumpArg, or null for level 2).
jint requestEvent(jint eventType, void* arg) {
  if (eventType == JVMPI_EVENT_HEAP_DUMP) {
    auto* level = static_cast<JVMPI_HeapDumpArg*>(arg);
    if (level && level->heap_dump_level != JVMPI_DUMP_LEVEL_2) return JVMPI_NOT_AVAILABLE;
    return jvmtiRequestHeapDump(ensureJvmti(), currentJni(), &deliver);
  }
  if (eventType != JVMPI_EVENT_CLASS_LOAD) return JVMPI_NOT_AVAILABLE;
  auto classId = static_cast<jobjectID>(reinterpret_cast<uintptr_t>(arg));
  return jvmtiRequestClassLoad(ensureJvmti(), currentJni(), classId, &deliver);
}

jobjectID getMethodClass(jmethodIDp methodId) {
  return jvmtiMethodClass(ensureJvmti(), currentJni(), methodId);
}

// JVMTI has no way to hold the collector off; the ids above never move, so
// nothing needs it.
void disableGC() {}
void enableGC() {}

// The thread facts come from the reliability layer's own JVMTI environment,
// which follows every thread from its start (JvmtiRas.h).
jobjectID getThreadObject(JNIEnv* env) {
  return jvmtiRasThreadObject(env);
}
jint getThreadStatus(JNIEnv* env) {
  return jvmtiRasThreadStatus(env);
}

// --- JVMTI callbacks -----------------------------------------------------------

void JNICALL onVmInit(jvmtiEnv*, JNIEnv* jni, jthread) {
  guardedEntry("onVmInit", [&]() { deliverInitDone(jni); });
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
  guardedEntry("onThreadStart", [&]() {
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
  });
}

void JNICALL onThreadEnd(jvmtiEnv*, JNIEnv* jni, jthread) {
  guardedEntry("onThreadEnd", [&]() {
    JVMPI_Event event{};
    event.event_type = JVMPI_EVENT_THREAD_END;
    event.env_id = jni;
    deliver(&event);
  });
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
  if (jvmtiOrNull()->Allocate(size, &bytes) != JVMTI_ERROR_NONE || !bytes) return nullptr;
  hookAllocations->push_back({bytes, size});
  return bytes;
}

void JNICALL onClassFileLoadHook(jvmtiEnv* jvmti, JNIEnv* jni, jclass, jobject, const char* name,
                                 jobject, jint classDataLen, const unsigned char* classData,
                                 jint* newClassDataLen, unsigned char** newClassData) {
  guardedEntry("onClassFileLoadHook", [&]() {
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
  });
}

void JNICALL onClassPrepare(jvmtiEnv* jvmti, JNIEnv* jni, jthread, jclass cls) {
  guardedEntry("onClassPrepare", [&]() {
    if (!notifyEntry()) return;
    char* signature = nullptr;
    if (jvmti->GetClassSignature(cls, &signature, nullptr) != JVMTI_ERROR_NONE || !signature)
      return;
    // "Lpkg/Name;" for a class; arrays and primitives are never prepared.
    size_t length = std::strlen(signature);
    if (length > 2 && signature[0] == 'L' && signature[length - 1] == ';') {
      std::string name(signature + 1, length - 2);
      JVMPI_Event event{};
      event.event_type = JVMPI_EVENT_CLASS_PREPARE;
      event.env_id = jni;
      event.u.class_prepare.class_name = name.c_str();
      deliver(&event);
    }
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
  });
}

// Garbage collection events run where no JNI may be called; the counters the
// JVM does not report are 0.
void JNICALL onGcStart(jvmtiEnv*) {
  guardedEntry("onGcStart", [&]() {
    JVMPI_Event event{};
    event.event_type = JVMPI_EVENT_GC_START;
    deliver(&event);
  });
}

void JNICALL onGcFinish(jvmtiEnv*) {
  guardedEntry("onGcFinish", [&]() {
    JVMPI_Event event{};
    event.event_type = JVMPI_EVENT_GC_FINISH;
    deliver(&event);
  });
}

// Asks for the capabilities the table needs, as far as the JVM offers them
// in its current phase (some are offered only while the JVM loads agents),
// and installs the callbacks.
bool setUpJvmti(jvmtiEnv* jvmti) {
  jvmtiCapabilities potential{};
  if (jvmti->GetPotentialCapabilities(&potential) == JVMTI_ERROR_NONE) {
    jvmtiCapabilities wanted{};
    wanted.can_generate_all_class_hook_events = potential.can_generate_all_class_hook_events;
    wanted.can_get_current_thread_cpu_time = potential.can_get_current_thread_cpu_time;
    wanted.can_generate_garbage_collection_events =
        potential.can_generate_garbage_collection_events;
    wanted.can_tag_objects = potential.can_tag_objects;  // heap dumps
    jvmti->AddCapabilities(&wanted);
  }
  jvmtiCapabilities held{};
  if (jvmti->GetCapabilities(&held) == JVMTI_ERROR_NONE) {
    providerHasThreadCpuTime.store(held.can_get_current_thread_cpu_time);
    haveGcEvents.store(held.can_generate_garbage_collection_events);
  }

  jvmtiEventCallbacks callbacks{};
  callbacks.VMInit = &onVmInit;
  callbacks.ThreadStart = &onThreadStart;
  callbacks.ThreadEnd = &onThreadEnd;
  callbacks.ClassFileLoadHook = &onClassFileLoadHook;
  callbacks.ClassPrepare = &onClassPrepare;
  callbacks.GarbageCollectionStart = &onGcStart;
  callbacks.GarbageCollectionFinish = &onGcFinish;
  return jvmti->SetEventCallbacks(&callbacks, sizeof(callbacks)) == JVMTI_ERROR_NONE;
}

std::mutex& setUpLock() {
  static std::mutex lock;
  return lock;
}

// The JVMTI environment, obtained now if the table started without one and
// the JVM hands one out by now. The thread that obtains it switches on the
// events wanted so far, outside the lock: that may deliver JVM-init-done,
// whose handler calls the table again.
jvmtiEnv* ensureJvmti() {
  if (jvmtiEnv* jvmti = jvmtiOrNull()) return jvmti;
  if (jvmtiUnobtainable.load(std::memory_order_relaxed)) return nullptr;
  jvmtiEnv* obtained = nullptr;
  {
    std::lock_guard<std::mutex> guard(setUpLock());
    if (jvmtiEnv* jvmti = jvmtiOrNull()) return jvmti;
    jvmtiEnv* jvmti = nullptr;
    jint answer = javaVm->GetEnv(reinterpret_cast<void**>(&jvmti), JVMTI_VERSION_1_2);
    if (answer == JNI_EDETACHED) return nullptr;  // not yet, or a thread the JVM does not know
    if (answer != JNI_OK || !jvmti || !setUpJvmti(jvmti)) {
      if (answer == JNI_OK && jvmti) jvmti->DisposeEnvironment();
      jvmtiUnobtainable.store(true);
      return nullptr;
    }
    jvmtiEnvironment.store(jvmti, std::memory_order_release);
    obtained = jvmti;
  }
  for (int slot = 0; slot < slotCount; slot++) {
    if (wanted[slot].load()) applyEvent(obtained, slotEvents[slot], true);
  }
  return obtained;
}

}  // namespace

jlong providerThreadCpuTimeBeforeGrant() {
  if (!ensureJvmti() || !providerHasThreadCpuTime.load(std::memory_order_relaxed)) return 0;
  return static_cast<jlong>(os::threadCpuNanosInPlace());
}

JVMPI_Interface* jvmtiProviderInstall(JavaVM* vm) {
  std::lock_guard<std::mutex> guard(setUpLock());
  if (JVMPI_Interface* done = publishedTable.load(std::memory_order_acquire)) return done;
  if (!vm) return nullptr;

  jvmtiEnv* jvmti = nullptr;
  jint answer = vm->GetEnv(reinterpret_cast<void**>(&jvmti), JVMTI_VERSION_1_2);
  if (answer == JNI_OK && jvmti) {
    if (!setUpJvmti(jvmti)) {
      jvmti->DisposeEnvironment();
      return nullptr;
    }
    jvmtiEnvironment.store(jvmti, std::memory_order_release);
  } else {
    // JNI_EDETACHED on a thread the JVM knows: JVMTI exists but is not handed
    // out in this phase of the JVM's start-up; the table obtains it later.
    // Anything else: no JVMTI in this JVM.
    JNIEnv* jni = nullptr;
    if (answer != JNI_EDETACHED ||
        vm->GetEnv(reinterpret_cast<void**>(&jni), JNI_VERSION_1_2) != JNI_OK)
      return nullptr;
  }

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
  table.GetCurrentThreadCpuTime = &providerCurrentThreadCpuTime;
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

void jvmtiProviderReset() {
  std::lock_guard<std::mutex> guard(setUpLock());
  publishedTable.store(nullptr);
  jvmtiEnvironment.store(nullptr);
  jvmtiUnobtainable.store(false);
  providerHasThreadCpuTime.store(false);
  haveGcEvents.store(false);
  for (auto& slot : wanted) slot.store(false);
  initDoneDelivered.store(false);
  javaVm = nullptr;
  table = JVMPI_Interface{};
  jvmtiClassesReset();
}
