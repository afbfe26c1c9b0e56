#include "threads/ThreadMgr.h"

#include <cstring>
#include <memory>
#include <new>

#include "base/Log.h"
#include "platform/jvmpi.h"
#include "threads/ThreadData.h"
#include "threads/ThreadDrain.h"
#include "threads/ThreadId.h"

ThreadMgr* threadMgr = nullptr;

namespace {
constexpr const char* kUnit = "ThreadMgr";

std::atomic<ThreadDrain*> installedDrain{nullptr};

uintptr_t keyOf(uint32_t threadId) {
  return static_cast<uintptr_t>(threadId);
}

// Process-wide rather than per table, so that a table made at the address
// of a destroyed one never matches a slot filled from the old one. Starts at
// 1 so that an empty slot (generation 0) never matches.
std::atomic<uint64_t> tableGeneration{1};

// The calling thread's last lookup through getThreadData. Plain data, so
// reading it costs no initialisation guard. It is keyed by the JNIEnv as well
// as the id: a thread's JNIEnv and its id's pairing last as long as the
// thread (the pairing is released at its end, after its record left the
// table, which moves the generation), so a hit needs no look at the id
// pairings and their thread-local cache.
struct CachedLookup {
  const ThreadMgr* table;
  uint64_t generation;
  JNIEnv* env;
  ThreadData* data;
};
thread_local CachedLookup cachedLookup = {nullptr, 0, nullptr, nullptr};

// Deletes a record; one whose thread has not ended is reported while the
// process-wide table is started.
void deleteRecord(ThreadData* data) {
  if (data->isAlive() && threadMgr && threadMgr->isStarted())
    data->logf(LOG_ERROR, "ThreadData", __LINE__,
               "Thread being deleted even before it died TID: %d",
               static_cast<int>(data->getThreadId()));
  delete data;
}
}  // namespace

void ThreadMgr::advanceGeneration() {
  tableGeneration.fetch_add(1, std::memory_order_acq_rel);
}

void installThreadDrain(ThreadDrain* drain) {
  installedDrain.store(drain);
}

ThreadDrain* threadDrain() {
  return installedDrain.load();
}

ThreadMgr::ThreadMgr(const ThreadSettings& settings)
    : NamedObject("ThreadMgr"), table(64, false, true), queueLimit(settings.eventQueueLimit) {
  advanceGeneration();
}

ThreadData* ThreadMgr::newRecord(uint32_t threadId) {
  std::unique_ptr<EventQueue> queue(new (std::nothrow) EventQueue(queueLimit));
  return new (std::nothrow) ThreadData(threadId, std::move(queue));
}

ThreadMgr::~ThreadMgr() {
  started.store(false, std::memory_order_relaxed);
  deleteAll();
  if (threadMgr == this) threadMgr = nullptr;
}

void ThreadMgr::start() {
  // Touch every bucket lock so that its raw monitor exists before the first
  // profiler event can arrive.
  for (int i = 0; i < table.bucketCount(); i++) {
    table.lockBucket(i);
    table.unlockBucket(i);
  }
  started.store(true, std::memory_order_relaxed);
  logInfo(kUnit, __LINE__, "Thread Manager started..");
}

void ThreadMgr::stop() {
  started.store(false, std::memory_order_relaxed);
  deleteAll();
  logInfo(kUnit, __LINE__, "Thread Manager stopped..");
}

void ThreadMgr::deleteAll() {
  // Snapshot the records bucket by bucket, empty the table, then delete the
  // records. tableLock keeps removals and deletions by others out meanwhile.
  HalLockGuard guard(tableLock);
  std::unique_ptr<uintptr_t[]> keys(table.keys());
  std::unique_ptr<ThreadData*[]> values(table.values());
  for (int i = 0; keys[i] != 0; i++) table.remove(keys[i]);
  advanceGeneration();
  for (int i = 0; values[i] != nullptr; i++) deleteRecord(values[i]);
}

ThreadData* ThreadMgr::find(uint32_t threadId) {
  if (threadId == 0) return nullptr;
  return table.get(keyOf(threadId));
}

ThreadData* ThreadMgr::lookupThreadData(uint32_t threadId) {
  return find(threadId);
}

ThreadData* ThreadMgr::getThreadData(JNIEnv* env) {
  if (!isStarted()) {
    logWarning(kUnit, __LINE__, "ThreadMgr not started, returning null");
    return nullptr;
  }
  if (!env) {
    logWarning(kUnit, __LINE__, "NULL Env id during getThreadData");
    return nullptr;
  }
  CachedLookup& cached = cachedLookup;
  uint64_t generation = tableGeneration.load(std::memory_order_acquire);
  if (cached.generation == generation && cached.table == this && cached.env == env)
    return cached.data;
  uint32_t id = threadIdOf(env);
  ThreadData* data = find(id);
  if (!data) return createThreadData(env, id);
  if (data->getThreadId() == id) {
    cached = CachedLookup{this, generation, env, data};
    return data;
  }
  logWarning(kUnit, __LINE__,
             "thr->getThreadId() != env, there is a problem with the internal hashtable "
             "implementation. Try it again");
  data = find(id);
  if (data && data->getThreadId() == id) return data;
  logWarning(kUnit, __LINE__, "Second try also failed, getThreadData will return NULL");
  return nullptr;
}

bool ThreadMgr::insert(uint32_t threadId, ThreadData* data) {
  HalLockGuard guard(tableLock);
  bool inserted = table.put(keyOf(threadId), data);
  advanceGeneration();
  return inserted;
}

ThreadData* ThreadMgr::createThreadData(JNIEnv*, uint32_t threadId) {
  ThreadDrain* drain = threadDrain();
  if (!drain || !drain->acceptsThreads()) {
    logWarning(kUnit, __LINE__, "EventMgr not ready, returning null");
    return nullptr;
  }
  if (!jvmpi) return nullptr;
  ThreadData* data = newRecord(threadId);
  if (!data) return nullptr;
  if (!insert(threadId, data)) {
    logf(LOG_WARNING, kUnit, __LINE__,
         "Insertion into Hashtable failed (JNI based) for Thread with ID: %d",
         static_cast<int>(data->getThreadId()));
    destroyRecord(data);
    return nullptr;
  }
  // The hand-over runs outside tableLock: the manager takes its own locks.
  if (!drain->manageThreadData(data)) {
    logError(kUnit, __LINE__, "Internal Error: EventManager could not manage Thread");
    {
      HalLockGuard guard(tableLock);
      table.remove(keyOf(threadId));
      advanceGeneration();
    }
    destroyRecord(data);
    return nullptr;
  }
  return data;
}

ThreadData* ThreadMgr::getSpecialThreadData(uint32_t key) {
  ThreadData* data = find(key);
  if (data) return data;
  data = newRecord(key);
  if (!data) return nullptr;
  if (!insert(key, data)) {
    logf(LOG_WARNING, kUnit, __LINE__,
         "Insertion into Hashtable failed (JNI based) for Thread with ID: %d",
         static_cast<int>(key));
    destroyRecord(data);
    return nullptr;
  }
  return data;
}

ThreadData* ThreadMgr::findThreadData(const char* groupName, const char* threadName,
                                      uint32_t* threadId) {
  if (threadId) *threadId = 0;
  if (!isStarted()) {
    logWarning(kUnit, __LINE__, "ThreadMgr not started, returning null");
    return nullptr;
  }
  if (!groupName || !threadName) return nullptr;
  // tableLock is held over the comparison as well as the snapshot, so that no
  // record of the snapshot can be deleted while its names are read.
  HalLockGuard guard(tableLock);
  std::unique_ptr<ThreadData*[]> values(table.values());
  for (int i = 0; values[i] != nullptr; i++) {
    const char* group = values[i]->getGroupName();
    const char* name = values[i]->getThreadName();
    if (!group || !name) continue;
    if (std::strcmp(group, groupName) == 0 && std::strcmp(name, threadName) == 0) {
      if (threadId) *threadId = values[i]->getThreadId();
      return values[i];
    }
  }
  return nullptr;
}

void ThreadMgr::destroyRecord(ThreadData* data) {
  HalLockGuard guard(tableLock);
  deleteRecord(data);
  advanceGeneration();
}

bool ThreadMgr::deleteThreadData(ThreadData* data) {
  if (!isStarted()) {
    logWarning(kUnit, __LINE__, "ThreadMgr not started, returning false");
    return false;
  }
  if (!data) return false;
  destroyRecord(data);
  return true;
}

bool ThreadMgr::removeThreadData(uint32_t threadId) {
  bool removed;
  {
    HalLockGuard guard(tableLock);
    removed = threadId != 0 && table.remove(keyOf(threadId));
    advanceGeneration();
  }
  if (!removed)
    logf(LOG_WARNING, kUnit, __LINE__, "ThreadData was not there in table, TID: %d",
         static_cast<int>(threadId));
  return removed;
}

void ThreadMgr::threadEnded(ThreadData* data) {
  if (!data) return;
  uint32_t id = data->getThreadId();
  addStoppedThread(id);
  data->markEnded(removeThreadData(id));
}

uint32_t ThreadMgr::getThreadCount() {
  if (!isStarted()) {
    logWarning(kUnit, __LINE__, "ThreadMgr not started, returning null");
    return 0;
  }
  return static_cast<uint32_t>(table.count());
}

void ThreadMgr::addStoppedThread(uint32_t threadId) {
  if (threadId == 0) return;
  HalLockGuard guard(stoppedListLock);
  if (stoppedIndex >= kStoppedSlots - 1) stoppedIndex = -1;
  stoppedIndex++;
  stoppedIds[stoppedIndex] = threadId;
}

int ThreadMgr::takeStoppedThreads(uint32_t* out) {
  HalLockGuard guard(stoppedListLock);
  int count = stoppedIndex + 1;
  if (count > kStoppedSlots) count = kStoppedSlots;
  if (count < 0) count = 0;
  std::memcpy(stoppedSnapshot, stoppedIds, sizeof(uint32_t) * static_cast<size_t>(count));
  stoppedSnapshotCount = count;
  stoppedIndex = -1;
  if (out) std::memcpy(out, stoppedSnapshot, sizeof(uint32_t) * static_cast<size_t>(count));
  return count;
}

bool queueEvent(JNIEnv* env, ThreadData* data, EventRecord* event) {
  if (!data && threadMgr) data = threadMgr->getThreadData(env);
  if (!data) {
    logMessage(LOG_WARNING, "ThreadData creation failed, check memory..");
    delete event;
    return false;
  }
  return data->appendEvent(event);
}
