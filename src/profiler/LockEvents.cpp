#include "profiler/LockEvents.h"

#include <cstring>
#include <memory>
#include <new>

#include "events/AnalysisRecords.h"
#include "profiler/ClassEvents.h"
#include "threads/ThreadData.h"
#include "threads/ThreadId.h"
#include "threads/ThreadMgr.h"

namespace {

size_t lengthOf(const char* text) {
  return text ? std::strlen(text) : 0;
}

void addNominal(EventRecord* record, size_t length) {
  size_t size = static_cast<size_t>(record->nominalSize) + length;
  record->nominalSize = static_cast<int16_t>(size > 32767 ? 32767 : size);
}

// Steps 2 to 7 of every record of this file on the target's record (null
// when the target has none): the depth test and steps, the times, queuing.
// `otherThread`: the record is made for another thread, whose stored lock
// CPU time replaces this thread's.
template <typename Record, typename Fill>
bool queueOnTarget(JNIEnv* env, ThreadData* target, Record* record, Fill fill, bool otherThread) {
  std::unique_ptr<Record> owned(record);
  const bool start = record->subtype == SUBTYPE_BEGIN;
  if (target && target->requestDepth().load() == 0) return false;
  if (start && target) target->requestDepth()++;
  record->threadId = target ? target->getThreadId() : threadIdOf(env);
  record->depth = target ? target->requestDepth().load() : 0;
  fill(*record);
  const bool detail = record->type == EVENT_LOCK_2;
  if (start || detail) {
    stampWall(record);
    stampCpu(record);
  } else {
    stampCpu(record);
    stampWall(record);
  }
  if (detail && target) {
    if (otherThread)
      record->cpuTime = target->getLockCpuTime();
    else
      target->setLockCpuTime(record->cpuTime);
  }
  queueEvent(env, target, owned.release());
  if (!start && target) {
    int32_t depth = target->requestDepth().load();
    while (depth >= 1 && !target->requestDepth().compare_exchange_weak(depth, depth - 1)) {
    }
  }
  return true;
}

}  // namespace

bool appendLockEvent(JNIEnv* env, ThreadData* caller, const LockEventArgs& args) {
  if (args.kind < 1 || args.kind > 6) return false;
  const int type = EVENT_LOCK_1 + (args.kind - 1) / 2;
  const int subtype = (args.kind - 1) % 2;
  auto fillLock = [&](LockRecord& r) {
    r.lockId = args.id;
    r.lockName.assign(args.name ? args.name : "");
  };
  if (type != EVENT_LOCK_2) {
    auto* record = new (std::nothrow) LockRecord(type, subtype);
    if (!record) return false;
    addNominal(record, lengthOf(args.name));
    return queueOnTarget(env, caller, record, fillLock, false);
  }
  auto* record = new (std::nothrow) LockDetailRecord(subtype);
  if (!record) return false;
  addNominal(record, lengthOf(args.text1) + lengthOf(args.text2));
  auto fillDetail = [&](LockDetailRecord& r) {
    fillLock(r);
    r.flag = args.flag;
    r.text1.assign(args.text1 ? args.text1 : "");
    r.text2.assign(args.text2 ? args.text2 : "");
    r.number = args.number1;
  };
  const uint32_t self = caller ? caller->getThreadId() : threadIdOf(env);
  if (args.number2 == 0 || args.number2 == self)
    return queueOnTarget(env, caller, record, fillDetail, false);
  // Another thread's record, held in the table while it is used. Without
  // one there is no record to attach to: the call is made as for the caller.
  bool queued = false;
  bool found = threadMgr && threadMgr->withThreadData(args.number2, [&](ThreadData* target) {
    queued = queueOnTarget(env, target, record, fillDetail, true);
  });
  if (!found) queued = queueOnTarget(env, caller, record, fillDetail, false);
  return queued;
}

bool appendHeapAllocationEvent(JNIEnv* env, ThreadData* caller, int subtype, uint32_t id,
                               uint32_t number2, const char* name) {
  auto* record = new (std::nothrow) HeapAllocationRecord(subtype);
  if (!record) return false;
  addNominal(record, lengthOf(name));
  auto fill = [&](HeapAllocationRecord& r) {
    r.allocationId = id;
    r.name.assign(name ? name : "");
    if (subtype == SUBTYPE_BEGIN) r.number2 = number2;
  };
  return queueOnTarget(env, caller, record, fill, false);
}
