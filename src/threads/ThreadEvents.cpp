#include "threads/ThreadEvents.h"

#include "base/Log.h"
#include "threads/ThreadData.h"
#include "threads/ThreadId.h"
#include "threads/ThreadMgr.h"

void threadStartEvent(JVMPI_Event* event) {
  if (!event || !threadMgr) return;
  JNIEnv* env =
      event->u.thread_start.thread_env_id ? event->u.thread_start.thread_env_id : event->env_id;
  ThreadData* data = threadMgr->getThreadData(env);
  if (!data) return;
  if (!data->setThreadNames(event->u.thread_start.thread_name, event->u.thread_start.group_name))
    logCatalogArgs(LOG_ERROR, "NATIVE_THREADDUMP_ERROR", "Failed to allocate memory");
}

void threadEndEvent(JVMPI_Event* event) {
  if (!event) return;
  JNIEnv* env = event->env_id;
  uint32_t id = lookupThreadId(env);
  if (threadMgr && id != 0) {
    // The ending thread's own record: an event agent deletes a record only
    // once it is dead, so the pointer stays valid until threadEnded.
    ThreadData* data = threadMgr->lookupThreadData(id);
    if (data) threadMgr->threadEnded(data);
  }
  releaseThreadId(env);
}
