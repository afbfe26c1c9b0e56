#include "diag/ThreadStatus.h"

#include "base/Log.h"
#include "platform/jvmpi.h"
#include "threads/ThreadData.h"
#include "threads/ThreadId.h"
#include "threads/ThreadMgr.h"

namespace {

// What the table says of a key: absent, gone (not alive or stopped), or live
// with its suspended mark.
enum class Presence { Absent, Gone, Live };

Presence presenceOf(uint32_t key, bool* suspended) {
  if (key == 0 || !threadMgr) return Presence::Absent;
  Presence presence = Presence::Absent;
  threadMgr->withThreadData(key, [&](ThreadData* data) {
    bool gone = !data->isAlive() || data->isStopped();
    presence = gone ? Presence::Gone : Presence::Live;
    if (suspended) *suspended = data->isSuspended();
  });
  return presence;
}

}  // namespace

int mapThreadStatus(jint interfaceStatus, bool markedSuspended) {
  const jint bits = JVMPI_THREAD_SUSPENDED | JVMPI_THREAD_INTERRUPTED;
  int status = interfaceStatus & bits;
  jint rest = interfaceStatus & ~bits;
  if (rest == JVMPI_THREAD_RUNNABLE || rest == JVMPI_THREAD_MONITOR_WAIT ||
      rest == JVMPI_THREAD_CONDVAR_WAIT)
    status += rest;
  if (markedSuspended) status |= JVMPI_THREAD_SUSPENDED;
  return status;
}

int threadStatusOf(uint32_t key) {
  int status = THREAD_STATUS_UNKNOWN;
  bool suspended = false;
  if (jvmpi) {
    switch (presenceOf(key, &suspended)) {
      case Presence::Absent:
        break;
      case Presence::Gone:
        status = THREAD_STATUS_STOPPED;
        break;
      case Presence::Live: {
        JNIEnv* env = envOfThreadId(key);
        jint raw = env && jvmpi->GetThreadStatus ? jvmpi->GetThreadStatus(env) : 0;
        status = mapThreadStatus(raw, suspended);
        break;
      }
    }
  }
  logCatalogArgs(LOG_DEBUG, "COMMAND_THREAD_STATUS", static_cast<int>(key), status);
  return status;
}

bool liveThreadObject(uint32_t key, uint32_t* objectId) {
  *objectId = 0;
  if (!jvmpi || presenceOf(key, nullptr) != Presence::Live) return false;
  JNIEnv* env = envOfThreadId(key);
  if (env && jvmpi->GetThreadObject) *objectId = jvmpi->GetThreadObject(env);
  return true;
}
