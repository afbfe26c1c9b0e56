// The thread table: the one table of monitored Java threads, from thread id
// (threads/ThreadId.h) to the thread's ThreadData. Natives and profiler event
// handlers ask it for the calling thread's record, created on first use; the
// thread-end handler retires records; the event agents own retired records
// until their queues are drained and then delete them through the table. It
// also keeps a ring of the ids of threads that have ended.
//
// Locks: one HalLock per bucket guards each chain; tableLock guards every
// insertion and removal and the deletion of records, and is always taken
// before a bucket lock, never while one is held. stoppedListLock guards the
// ring only.
//
// Each thread keeps the record of its last lookup in a thread-local slot,
// stamped with the table generation read before that lookup. Every change
// of the table's contents (insertion, removal, deletion of a record, stop,
// destruction) advances the generation, so a slot whose stamp still equals
// it holds exactly what the locked lookup would return, and the calling
// thread finds its own record without the bucket lock.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>

#include "base/HalHashTable.h"
#include "base/HalLock.h"
#include "base/NamedObject.h"
#include "config/ThreadSettings.h"

class ThreadData;
class EventRecord;

class ThreadMgr : public NamedObject {
 public:
  static constexpr int kStoppedSlots = 300;

  // Every record's queue gets the settings' queue limit, read by default
  // when the table is made.
  explicit ThreadMgr(const ThreadSettings& settings = readThreadSettings());
  // Deletes every record still in the table.
  ~ThreadMgr() override;

  // Makes sure every bucket lock exists and opens the table.
  void start();
  // Closes the table, empties it and deletes every record it held.
  void stop();
  bool isStarted() const { return started.load(std::memory_order_relaxed); }

  // The calling thread's record, created (and handed to an event agent) when
  // missing; null when the table is not started, the env is null, or the
  // record cannot be made.
  ThreadData* getThreadData(JNIEnv* env);
  // The record of an event agent's own thread, its special queue: created
  // when missing but not handed to the event agent manager. Works whether or
  // not the table is started.
  ThreadData* getSpecialThreadData(uint32_t key);
  // The record of the given id if it is in the table; nothing is created.
  // Only the thread itself may go on using the pointer: for another thread's
  // record use withThreadData.
  ThreadData* lookupThreadData(uint32_t threadId);
  // Runs f(ThreadData*) on the id's record while holding its bucket lock, so
  // that the record cannot leave the table and be deleted meanwhile; f must
  // not call back into the table. False when the id is not in the table.
  template <typename F>
  bool withThreadData(uint32_t threadId, F f) {
    if (threadId == 0) return false;
    uintptr_t key = threadId;
    int index = table.bucketIndex(key);
    table.lockBucket(index);
    Table::Node* node = table.findInBucket(key, index);
    if (node && node->value) f(node->value);
    table.unlockBucket(index);
    return node && node->value;
  }
  // The first record (in bucket order) whose group and thread names equal
  // the given ones byte for byte; null if none or not started. Its id is
  // stored in `threadId` (0 if none) while the record cannot be deleted; only
  // the thread itself may use the pointer afterwards.
  ThreadData* findThreadData(const char* groupName, const char* threadName,
                             uint32_t* threadId = nullptr);
  // Destroys a record under tableLock; false if not started or null. A
  // record whose thread has not ended is reported while the process-wide
  // table is started.
  bool deleteThreadData(ThreadData* data);
  // Takes the id's entry out of the table without destroying the record.
  bool removeThreadData(uint32_t threadId);
  // The record's thread has ended: its id joins the stopped-thread ring, its
  // entry leaves the table (its request state is cleared if it was there)
  // and it is marked dead. It stays until its event agent has sent what is
  // queued and deletes it.
  void threadEnded(ThreadData* data);
  // Entries in the table; 0 when not started.
  uint32_t getThreadCount();

  // Appends to the ring of ended thread ids (0 is ignored).
  void addStoppedThread(uint32_t threadId);
  // Moves the ring into the snapshot; returns the number of ids taken. With
  // `out` (room for kStoppedSlots ids) the ids taken are also copied there
  // under the list's lock, safe against a concurrent take.
  int takeStoppedThreads(uint32_t* out = nullptr);
  // The snapshot of the last takeStoppedThreads.
  const uint32_t* stoppedSnapshotIds() const { return stoppedSnapshot; }
  int stoppedSnapshotSize() const { return stoppedSnapshotCount; }

 private:
  using Table = HalHashTable<uintptr_t, ThreadData*>;

  ThreadData* createThreadData(JNIEnv* env, uint32_t threadId);
  // A new record with its queue.
  ThreadData* newRecord(uint32_t threadId);
  // Inserts under tableLock; false when the table refuses the key.
  bool insert(uint32_t threadId, ThreadData* data);
  // Empties the table and deletes every record it held.
  void deleteAll();
  // The table's value for an id, under its bucket lock.
  ThreadData* find(uint32_t threadId);
  // Destroys a record under tableLock whether started or not.
  void destroyRecord(ThreadData* data);
  // Makes every thread's cached lookup stale; called under tableLock after
  // the table's contents changed, so that a lookup stamped with the new
  // generation saw the change.
  static void advanceGeneration();

  Table table;
  std::atomic<bool> started{false};
  HalLock stoppedListLock;
  HalLock tableLock;
  const int queueLimit;

  uint32_t stoppedIds[kStoppedSlots] = {};
  int stoppedIndex = -1;
  uint32_t stoppedSnapshot[kStoppedSlots] = {};
  int stoppedSnapshotCount = 0;
};

// The process-wide table; null before creation and after destruction.
extern ThreadMgr* threadMgr;

// Appends a record to the given ThreadData, or, when none is given, to the
// calling thread's own (created if needed). Ownership passes in; a record that
// finds no ThreadData is released.
bool queueEvent(JNIEnv* env, ThreadData* data, EventRecord* event);
