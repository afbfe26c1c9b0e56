// A thread's queue of event records waiting to be published, with the rules
// that govern it: the limit on its length, the records kept whatever the
// length (class records, sampling rates and drop notices), the count of
// records refused while full and the one drop notice per overflow, the byte
// counters the memory figure sums, and the trimming of the oldest records.
//
// Producers append on their own threads; one event agent takes records off
// and trims. Every change to the list happens under the queue's own lock,
// which is held for the relinking only: records are destroyed outside it.
// Records are linked through their own queueNext field, so appending
// allocates nothing. The lock is a plain mutex rather than a JVM raw monitor:
// it is held for a few instructions on every append, where a raw monitor's
// bookkeeping and parking showed up as a large share of a request's cost.
// The counters are atomics that other threads read without the lock; those
// of the appending side change only under it.
#pragma once

#include <atomic>
#include <cstdint>

#include <mutex>

class DropNoticeRecord;
class EventRecord;

class EventQueue {
 public:
  // `limit`: the length at which droppable records are refused.
  explicit EventQueue(int limit);
  // Destroys every record still queued.
  ~EventQueue();
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // Records of these types are queued over the limit and kept by trimming:
  // class records, sampling rates and drop notices.
  static bool alwaysKept(int type);

  // Queues the record or destroys it; ownership passes in. True only when
  // this record itself was appended. A droppable record that finds the queue
  // at its limit is counted as dropped, and the first one of an overflow
  // queues a drop notice in its place.
  bool append(EventRecord* event);

  // The oldest record, now owned by the caller; null when empty.
  EventRecord* takeFirst();

  // Records taken off together, oldest first, linked through queueNext.
  struct Chain {
    EventRecord* head = nullptr;
    EventRecord* tail = nullptr;
    int count = 0;
    // Unlinks and answers the first record; null when the chain is empty.
    EventRecord* pop();
  };
  // Takes every queued record off under one hold of the lock; the records
  // are the caller's.
  Chain takeAll();
  // Puts records taken off and not used back at the front, in their order.
  void putBackFront(Chain chain);
  // Books a record taken off and sent or dropped in the taken counters.
  void recordTaken(const EventRecord* event);
  // The taken counters' share of records taken off together: summed by the
  // drain record by record, booked at once (one atomic add per counter for
  // the batch instead of two per record).
  struct Taken {
    uint32_t bytes = 0;
    uint32_t classBytes = 0;
    uint64_t accounted = 0;
    void add(const EventRecord* event);
  };
  void recordTaken(const Taken& taken);

  // Takes (length - threshold) records off the front: those of the kept
  // types stay where they are, the others are destroyed and booked as taken.
  // With `tally`, every destroyed record is counted by kind in it. Answers
  // the number destroyed.
  int trim(int threshold, DropNoticeRecord* tally);

  int length() const { return count_.load(std::memory_order_relaxed); }
  int limit() const { return limit_; }
  // Records refused because the queue was full, since last taken.
  int droppedEvents() const { return dropped_.load(std::memory_order_relaxed); }
  int takeDroppedEvents() { return dropped_.exchange(0, std::memory_order_relaxed); }

  // The nominal bytes appended and taken, apart for class and method
  // records (types 1 and 3).
  struct ByteCounts {
    int32_t queued, taken, classQueued, classTaken;
  };
  ByteCounts byteCounts() const;
  // The bytes the queued records really occupy: the sum of their accounted
  // sizes appended less those taken. This, not the nominal balance, is what
  // the memory gate counts.
  int64_t queuedBytes() const;

 private:
  // Links a record at the tail; the lock is held.
  void link(EventRecord* event);
  // Counts an appended record in the queued bytes; the lock is held.
  void bookQueued(const EventRecord* event);

  const int limit_;
  std::mutex lock_;
  EventRecord* head_ = nullptr;
  EventRecord* tail_ = nullptr;
  std::atomic<int> count_{0};
  std::atomic<int> dropped_{0};
  // A drop notice has been queued for the current overflow.
  bool overflowNoticeSent_ = false;
  std::atomic<int32_t> bytesQueued_{0};
  std::atomic<int32_t> classBytesQueued_{0};
  std::atomic<int64_t> accountedQueued_{0};
  // The event agent changes these for every record it takes off; on a cache
  // line of their own, so that it does not take away the line the appending
  // thread writes at every append.
  alignas(64) std::atomic<int32_t> bytesTaken_{0};
  std::atomic<int32_t> classBytesTaken_{0};
  std::atomic<int64_t> accountedTaken_{0};
};
