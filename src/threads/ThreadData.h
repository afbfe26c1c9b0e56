// Everything the agent keeps about one monitored Java thread: its id and
// names, the nesting of the requests it runs, its status flags, and its queue
// of event records waiting to be published.
//
// Producers (request natives, profiler event handlers) append to the queue of
// the thread they run on; one event agent owns the drain side. Fields that
// other threads touch (the status flags, `alive`, the byte counters, the drop
// count and notice flag, the names) are atomics used with relaxed order, or
// acquire/release for the name pointers. The depth fields, the statement
// texts and the correlation token are touched only on the thread itself.
//
// What an event agent may do with a ThreadData it drains, and nothing else:
//   - read isAlive(), getThreadId(), getThreadName() and queueLength();
//   - takeFirst(): take the first record off the queue (the queue lock is held
//     for the unlink only);
//   - putBackFront(): put a list of records back at the front of the queue in
//     their order (the queue lock, then the other list's lock);
//   - recordTaken(): for every record it takes off and sends or drops, add
//     its nominal size to the taken counters (class counters for types 1
//     and 3);
//   - takeDroppedEvents(): read droppedEvents, report it and reset it to 0;
//   - read the four byte counters (queuedBytes() gives their balance);
//   - once the record is no longer alive and its queue has been drained,
//     delete it through the thread table's deleteThreadData.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/HalList.h"
#include "base/NamedObject.h"
#include "events/EventRecord.h"

class ThreadData : public NamedObject {
 public:
  // An alive record with an empty queue and every counter 0. Only the thread
  // table constructs records.
  explicit ThreadData(uint32_t threadId);
  // Destroys what is still queued. A record destroyed before its thread
  // ended is reported while the table is started.
  ~ThreadData() override;

  uint32_t getThreadId() const { return threadId.load(std::memory_order_relaxed); }
  bool isAlive() const { return alive.load(std::memory_order_acquire); }

  // Queues the record or disposes of it; ownership passes in either way.
  // True only when this record itself was appended.
  bool appendEvent(EventRecord* event);

  // The thread has ended: it leaves the table and the stopped-thread list
  // gets its id; the record stays, dead, until its event agent has sent what
  // is queued and deletes it.
  void threadEnded();

  // Stores copies of the names given by the thread-start event. A name that
  // is already set is kept (others may be reading it); false when memory
  // could not be had.
  bool setThreadNames(const char* thread, const char* group);
  const char* getThreadName() const { return threadName.load(std::memory_order_acquire); }
  const char* getGroupName() const { return groupName.load(std::memory_order_acquire); }

  // Replaces the statement texts remembered by setSQL; a null data source
  // leaves it absent.
  void setStatement(const char* sql, const char* dataSource);
  // Releases the correlation token.
  void releaseGpsToken();

  // --- drain side (event agents) --------------------------------------------
  int queueLength() const { return evtQueue ? evtQueue->count() : 0; }
  bool hasQueue() const { return evtQueue != nullptr; }
  // The oldest queued record, now owned by the caller; null when empty.
  EventRecord* takeFirst();
  // Moves every record of `records` to the front of the queue, in order.
  void putBackFront(HalList<EventRecord*>& records);
  // Books a record that was taken off and sent or dropped.
  void recordTaken(const EventRecord* event);
  // Returns droppedEvents and resets it to 0.
  int takeDroppedEvents() { return droppedEvents.exchange(0, std::memory_order_relaxed); }
  // (bytesQueued + classBytesQueued) - (bytesTaken + classBytesTaken).
  int32_t queuedBytes() const;

  // --- fields ---------------------------------------------------------------
  // The thread CPU time last taken by a type 32 lock record of this thread.
  int64_t lockCpuTime = 0;
  // The SQL text and data source last given by a statement proxy's setSQL.
  std::unique_ptr<char[]> statementSql;
  std::unique_ptr<char[]> statementDataSource;
  std::atomic<bool> suspended{false};
  std::atomic<bool> stopped{false};
  // SQL requests opened through the agent's own SQL natives, not yet closed.
  int32_t sqlDepth = 0;
  // The request nesting depth of the thread.
  int32_t requestDepth = 0;
  // Nested begins swallowed while nested requests are suppressed.
  int32_t suppressedNested = 0;
  // The correlation token of the request the thread runs, and its length.
  std::unique_ptr<uint8_t[]> gpsToken;
  int32_t gpsTokenLength = 0;
  // Records refused because the queue was full, since last reported.
  std::atomic<int32_t> droppedEvents{0};
  // A drop notice has been queued for the current overflow.
  std::atomic<bool> overflowNoticeSent{false};
  std::atomic<char*> threadName{nullptr};
  std::atomic<char*> groupName{nullptr};
  // Nominal sizes appended and taken, apart for class and method records
  // (types 1 and 3).
  std::atomic<int32_t> bytesQueued{0};
  std::atomic<int32_t> bytesTaken{0};
  std::atomic<int32_t> classBytesQueued{0};
  std::atomic<int32_t> classBytesTaken{0};
  std::unique_ptr<HalList<EventRecord*>> evtQueue;
  // The data-gate marker has been queued for the current closing of the gate.
  bool gateMarkerSent = false;
  std::atomic<bool> alive{true};
  std::atomic<uint32_t> threadId{0};

 private:
  // Releases the statement texts and clears the status flags and depths.
  void clearRequestState();
};

// The queue limit in records: "internal.probe.event.queue.size.limit",
// default 5000, read by the first append of the process and kept.
int eventQueueLimit();
// Forgets the limit read, so that the next append reads it again (tests).
void resetEventQueueLimit();

// Appends a record to the given ThreadData, or, when none is given, to the
// calling thread's own (created if needed). Ownership passes in; a record that
// finds no ThreadData is released.
bool queueEvent(JNIEnv* env, ThreadData* data, EventRecord* event);
