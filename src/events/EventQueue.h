// A thread's queue of event records waiting to be published, with the rules
// that govern it: the limit on its length, the records kept whatever the
// length (class records, sampling rates and drop notices), the count of
// records refused while full and the one drop notice per overflow, the byte
// counters the memory figure sums, and the trimming of the oldest records.
//
// Producers append on their own threads (the thread itself, and others: lock
// records made for another thread, the records of no particular thread on an
// event agent's special queue); one event agent at a time drains. No lock is
// shared between the two sides:
//   - an append pushes the record onto an intrusive stack, newest first, with
//     one compare-and-swap; records are linked through their own queueNext
//     field, so appending allocates nothing;
//   - the drain detaches the whole stack with one atomic exchange, reverses it
//     into oldest-first order and appends it to a list only the drain touches.
//     Taking, putting back and trimming work on that list.
// The length and the overflow flag are one atomic word that every append
// updates with one compare-and-swap, so the limit holds exactly however many
// threads append at once. The byte counters of the appending side are kept
// twice: those of the thread that appends first (in practice the queue's own
// thread) change with a plain load and store, those of every other thread
// with an atomic add; readers sum both. The drain's counters are its own.
#pragma once

#include <atomic>
#include <cstdint>

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
  // queues a drop notice in its place. Any thread.
  bool append(EventRecord* event);

  // --- drain side: one thread at a time -------------------------------------

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
  // Takes every queued record off at once; the records are the caller's.
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
  // the number destroyed. Records appended while it runs are not trimmed.
  int trim(int threshold, DropNoticeRecord* tally);

  // --- any thread -------------------------------------------------------------

  int length() const;
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
  // Byte counters of one appending side.
  struct Booked {
    std::atomic<int32_t> bytes{0};
    std::atomic<int32_t> classBytes{0};
    std::atomic<int64_t> accounted{0};
  };

  // Reserves a place for a record: false when a droppable record finds the
  // queue at its limit. `noticeDue` is set for the drop that opens an
  // overflow.
  bool reserve(bool kept, bool* noticeDue);
  // Books and pushes a record whose place is reserved.
  void push(EventRecord* event);
  // Moves what the producers pushed to the end of the drain's list.
  void collect();

  const int limit_;

  // --- written by the appending threads ---
  // Newest first; null when empty.
  std::atomic<EventRecord*> inbox_{nullptr};
  // Records appended and not yet collected by the drain (places reserved
  // included), and kOverflow while a drop notice has been queued for the
  // current overflow.
  std::atomic<uint64_t> state_{0};
  std::atomic<int> dropped_{0};
  // The thread that appends with plain stores: the first to append
  // (os::currentThreadToken).
  std::atomic<uintptr_t> owner_{0};
  Booked own_;
  // The number of collected records, which every append reads; the drain
  // changes it once per take-off or put-back, not per record taken.
  std::atomic<int> held_{0};
  // Every other appending thread; on a line of their own.
  alignas(64) Booked others_;

  // --- written by the drain ---
  // The collected records, oldest first.
  alignas(64) EventRecord* head_ = nullptr;
  EventRecord* tail_ = nullptr;
  Booked taken_;
};
