#include "threads/EntryGate.h"

#include <new>

#include "config/ProbeState.h"
#include "events/AgentRecords.h"
#include "threads/MemoryMonitor.h"
#include "threads/ThreadData.h"
#include "threads/ThreadMgr.h"

bool passDataGate(ThreadData* data) {
  bool closed = isMemoryGateClosed();
  if (data) {
    if (!data->own().gateMarkerSent && closed) {
      data->own().gateMarkerSent = true;
      // The marker is a drop notice whose only field set is the thread id.
      DropNoticeRecord* marker = new (std::nothrow) DropNoticeRecord(SUBTYPE_SINGLE);
      if (marker) {
        marker->threadId = data->getThreadId();
        data->appendEvent(marker);
      }
    } else if (data->own().gateMarkerSent && !closed) {
      data->own().gateMarkerSent = false;
    }
  }
  return !closed;
}

bool passEntryGate(JNIEnv* env, ThreadData** data) {
  if (data) *data = nullptr;
  if (probeDisabled.load(std::memory_order_relaxed)) return false;
  ThreadData* found = threadMgr ? threadMgr->getThreadData(env) : nullptr;
  if (data) *data = found;
  return passDataGate(found);
}
