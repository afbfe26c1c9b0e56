// Everything the agent keeps about one monitored Java thread: its id and
// names, the nesting of the requests it runs, its status flags, and its queue
// of event records waiting to be published.
//
// Producers (request natives, profiler event handlers) append to the queue of
// the thread they run on; one event agent owns the drain side. The queue with
// its limit, counters and trimming is an EventQueue. Fields that other threads
// touch (the status flags, `alive`, the names, the lock CPU time) are private
// atomics behind the operations below. The request state (statement texts,
// SQL depth, suppressed begins, correlation token, gate marker) is touched
// only on the thread itself and is reached through own(); the request depth,
// also stepped by lock records made on the thread's behalf, through
// requestDepth(). The thread table alone ends a record (ThreadMgr::threadEnded)
// and deletes it; the record itself never reaches the table.
//
// What an event agent may do with a ThreadData it drains, and nothing else:
//   - read isAlive(), getThreadId(), getThreadName() and queueLength();
//   - takeFirst() a record, or takeAll() of them and putBackFront() those it
//     did not use, and recordTaken() for every record it takes off and sends
//     or drops;
//   - trimQueue() the oldest records away;
//   - takeDroppedEvents(): read the drop count, report it and reset it;
//   - read the byte counters, and queuedBytes(), the bytes the queued
//     records really occupy, which the memory gate counts;
//   - once the record is no longer alive and its queue has been drained,
//     delete it through the thread table's deleteThreadData.
//
// Thread table: threads/ThreadMgr.h (which also holds queueEvent); the queue
// limit comes from config/ThreadSettings.h.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/NamedObject.h"
#include "events/EventQueue.h"
#include "events/EventRecord.h"
#include "events/RecordArena.h"

// The request state of one thread. Only code running on the thread itself
// (its natives and profiler events) reads and changes it; the thread table
// clears it when the thread ends.
struct ThreadRequestState {
  // The SQL text and data source last given by a statement proxy's setSQL.
  std::unique_ptr<char[]> statementSql;
  std::unique_ptr<char[]> statementDataSource;
  // SQL requests opened through the agent's own SQL natives, not yet closed.
  int32_t sqlDepth = 0;
  // Nested begins swallowed while nested requests are suppressed.
  int32_t suppressedNested = 0;
  // The correlation token of the request the thread runs, and its length.
  std::unique_ptr<uint8_t[]> gpsToken;
  int32_t gpsTokenLength = 0;
  // The data-gate marker has been queued for the current closing of the gate.
  bool gateMarkerSent = false;
};

class alignas(64) ThreadData : public NamedObject {
 public:
  // An alive record owning `queue` (null when none could be made: appends
  // are then refused). Only the thread table constructs records.
  ThreadData(uint32_t threadId, std::unique_ptr<EventQueue> queue);
  // Destroys what is still queued. The thread table, which deletes records,
  // reports one deleted before its thread ended.
  ~ThreadData() override;

  uint32_t getThreadId() const { return threadId_.load(std::memory_order_relaxed); }
  bool isAlive() const { return alive_.load(std::memory_order_acquire); }

  // Queues the record or disposes of it; ownership passes in either way.
  // True only when this record itself was appended.
  bool appendEvent(EventRecord* event);

  // Marks the record dead, first clearing its request state when
  // `leftTable` (its entry was taken out of the table). Only the thread
  // table calls it, from ThreadMgr::threadEnded.
  void markEnded(bool leftTable);

  // Stores copies of the names given by the thread-start event. A name that
  // is already set is kept (others may be reading it); false when memory
  // could not be had.
  bool setThreadNames(const char* thread, const char* group);
  const char* getThreadName() const { return threadName_.load(std::memory_order_acquire); }
  const char* getGroupName() const { return groupName_.load(std::memory_order_acquire); }

  // The status flags set by setThreadStatus (any thread).
  bool isSuspended() const { return suspended_.load(std::memory_order_relaxed); }
  bool isStopped() const { return stopped_.load(std::memory_order_relaxed); }
  void setSuspended(bool value) { suspended_.store(value, std::memory_order_relaxed); }
  void setStopped(bool value) { stopped_.store(value, std::memory_order_relaxed); }

  // The thread CPU time last taken by a type 32 lock record of this thread;
  // read by lock records made on behalf of this thread on other threads.
  int64_t getLockCpuTime() const { return lockCpuTime_.load(std::memory_order_relaxed); }
  void setLockCpuTime(int64_t nanos) { lockCpuTime_.store(nanos, std::memory_order_relaxed); }

  // Replaces the statement texts remembered by setSQL; a null data source
  // leaves it absent.
  void setStatement(const char* sql, const char* dataSource);
  // Releases the correlation token.
  void releaseGpsToken();

  // --- drain side (event agents) --------------------------------------------
  bool hasQueue() const { return queue_ != nullptr; }
  int queueLength() const { return queue_ ? queue_->length() : 0; }
  // The oldest queued record, now owned by the caller; null when empty.
  EventRecord* takeFirst() { return queue_ ? queue_->takeFirst() : nullptr; }
  // Every queued record at once; those not used go back with putBackFront.
  EventQueue::Chain takeAll() { return queue_ ? queue_->takeAll() : EventQueue::Chain{}; }
  void putBackFront(EventQueue::Chain chain) {
    if (queue_) queue_->putBackFront(chain);
  }
  // Books a record that was taken off and sent or dropped.
  void recordTaken(const EventRecord* event) {
    if (queue_) queue_->recordTaken(event);
  }
  // Books records taken off together (EventQueue::Taken).
  void recordTaken(const EventQueue::Taken& taken) {
    if (queue_) queue_->recordTaken(taken);
  }
  // Trims the queue to `threshold` records (EventQueue::trim).
  int trimQueue(int threshold, DropNoticeRecord* tally) {
    return queue_ ? queue_->trim(threshold, tally) : 0;
  }
  // Returns the count of records refused by the full queue and resets it.
  int takeDroppedEvents() { return queue_ ? queue_->takeDroppedEvents() : 0; }
  EventQueue::ByteCounts byteCounts() const {
    return queue_ ? queue_->byteCounts() : EventQueue::ByteCounts{0, 0, 0, 0};
  }
  // The bytes the queued records really occupy (EventQueue::queuedBytes).
  int64_t queuedBytes() const { return queue_ ? queue_->queuedBytes() : 0; }

  // --- the thread's own state ------------------------------------------------
  // The request state: only for code running on the thread itself.
  ThreadRequestState& own() { return own_; }
  const ThreadRequestState& own() const { return own_; }
  // The request nesting depth. The thread steps it; a lock record made on
  // behalf of this thread on another thread reads and steps it too, under
  // the table's bucket lock (ThreadMgr::withThreadData), hence atomic.
  std::atomic<int32_t>& requestDepth() { return requestDepth_; }
  const std::atomic<int32_t>& requestDepth() const { return requestDepth_; }
  // The memory the thread's request records are made in; only the thread
  // itself allocates from it.
  RecordArena& arena() { return arena_; }

 private:
  // Releases the statement texts and clears the status flags and depths.
  void clearRequestState();

  // What every request's natives read comes first, on the record's first two
  // cache lines (the record is aligned to a line): right after the clock's
  // system call each line they touch is a cache miss. The arena is declared
  // before the queue, so that the queue, whose records may live in the
  // arena, goes before it.
  ThreadRequestState own_;
  std::atomic<int32_t> requestDepth_{0};
  RecordArena arena_;
  std::unique_ptr<EventQueue> queue_;
  std::atomic<bool> alive_{true};
  std::atomic<uint32_t> threadId_{0};
  std::atomic<int64_t> lockCpuTime_{0};
  std::atomic<bool> suspended_{false};
  std::atomic<bool> stopped_{false};
  std::atomic<char*> threadName_{nullptr};
  std::atomic<char*> groupName_{nullptr};
};
