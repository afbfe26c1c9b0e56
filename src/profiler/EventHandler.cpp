#include "profiler/EventHandler.h"

#include <atomic>

#include "base/JniUtil.h"
#include "config/ProbeState.h"
#include "profiler/BootstrapNatives.h"
#include "profiler/ClassEvents.h"
#include "threads/EntryGate.h"
#include "threads/ThreadEvents.h"
#include "threads/ThreadMgr.h"

namespace {

std::atomic<void (*)(JVMPI_Event*)> classLoadHook{nullptr};
std::atomic<void (*)(JVMPI_Event*)> classPrepared{nullptr};
std::atomic<void (*)(char*, char*)> heapDumpParser{nullptr};
std::atomic<void (*)(JVMPI_Event*)> heapDumpClassInfo{nullptr};
// Set on the thread that receives a heap dump while it hands the dump on: the
// class loads that the dump's reader requests arrive on that thread, while
// class loads on other threads still go to the class table.
thread_local bool heapDumpInProgress = false;
std::atomic<bool> initDone{false};
std::atomic<jclass> bootstrapClass{nullptr};
std::atomic<jmethodID> instrumentMethod{nullptr};

// The data-gate step for the calling thread; the ready test was made by the
// dispatch. The thread's record, or null when the event must be dropped.
ThreadData* gatedThread(JNIEnv* env) {
  ThreadData* data = threadMgr ? threadMgr->getThreadData(env) : nullptr;
  return passDataGate(data) ? data : nullptr;
}

void classLoad(JVMPI_Event* event) {
  if (heapDumpInProgress) {
    if (auto copy = heapDumpClassInfo.load()) copy(event);
    return;
  }
  if (!passDataGate(threadMgr ? threadMgr->getThreadData(event->env_id) : nullptr)) return;
  classLoadEvent(event);
}

void heapDump(JVMPI_Event* event) {
  heapDumpInProgress = true;
  if (auto parse = heapDumpParser.load()) parse(event->u.heap_dump.begin, event->u.heap_dump.end);
  heapDumpInProgress = false;
}

// Resolves the class-rewriting entry of the Java side for the class-load hook.
void resolveInstrumentEntry(JNIEnv* env) {
  if (!env || bootstrapClass.load()) return;
  jclass found = env->FindClass("com/halden/bcm/bootstrap/BcmBootstrap");
  if (clearPendingException(env) || !found) return;
  jmethodID method =
      env->GetStaticMethodID(found, "instrumentClassFromJVMPI", "([BLjava/lang/String;)[B");
  clearPendingException(env);
  auto global = static_cast<jclass>(env->NewGlobalRef(found));
  clearPendingException(env);
  env->DeleteLocalRef(found);
  instrumentMethod.store(method);
  bootstrapClass.store(global);
}

void jvmInitDoneEvent(JVMPI_Event* event) {
  initDone.store(true);
  registerBootstrapNative(event->env_id);
  resolveInstrumentEntry(event->env_id);
}

}  // namespace

void notifyEvent(JVMPI_Event* event) {
  if (!event) return;
  jint type = event->event_type & ~JVMPI_REQUESTED_EVENT;
  // While the probe is disabled only the class-load hook (with the prepare
  // events that confirm its rewrites) and init-done pass.
  if (probeDisabled.load(std::memory_order_relaxed) && type != JVMPI_EVENT_CLASS_LOAD_HOOK &&
      type != JVMPI_EVENT_CLASS_PREPARE && type != JVMPI_EVENT_JVM_INIT_DONE)
    return;
  switch (type) {
    case JVMPI_EVENT_METHOD_ENTRY:
      if (ThreadData* data = gatedThread(event->env_id)) methodEntryEvent(event, data);
      break;
    case JVMPI_EVENT_METHOD_EXIT:
      if (ThreadData* data = gatedThread(event->env_id)) methodExitEvent(event, data);
      break;
    case JVMPI_EVENT_THREAD_START:
      threadStartEvent(event);
      break;
    case JVMPI_EVENT_THREAD_END:
      threadEndEvent(event);
      break;
    case JVMPI_EVENT_CLASS_LOAD_HOOK:
      if (auto hook = classLoadHook.load()) hook(event);
      break;
    case JVMPI_EVENT_CLASS_PREPARE:
      if (auto prepared = classPrepared.load()) prepared(event);
      break;
    case JVMPI_EVENT_CLASS_LOAD:
      classLoad(event);
      break;
    case JVMPI_EVENT_CLASS_UNLOAD:
      classUnloadEvent(event);
      break;
    case JVMPI_EVENT_JVM_INIT_DONE:
      jvmInitDoneEvent(event);
      break;
    case JVMPI_EVENT_GC_START:
      gcStartEvent(event);
      break;
    case JVMPI_EVENT_GC_FINISH:
      gcFinishEvent(event);
      break;
    case JVMPI_EVENT_HEAP_DUMP:
      heapDump(event);
      break;
    default:  // JVM shut-down and anything else
      break;
  }
}

void installEventHandler() {
  if (jvmpi && !jvmpi->NotifyEvent) jvmpi->NotifyEvent = notifyEvent;
}

void setClassLoadHookHandler(void (*handler)(JVMPI_Event*), void (*prepared)(JVMPI_Event*)) {
  classPrepared.store(prepared);
  classLoadHook.store(handler);
}

void setHeapDumpHandlers(void (*dump)(char*, char*), void (*classInfo)(JVMPI_Event*)) {
  heapDumpParser.store(dump);
  heapDumpClassInfo.store(classInfo);
}

jclass bootstrapClassRef() {
  return bootstrapClass.load();
}
jmethodID instrumentClassMethod() {
  return instrumentMethod.load();
}
bool jvmInitDone() {
  return initDone.load();
}
