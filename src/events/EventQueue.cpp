#include "events/EventQueue.h"

#include <new>
#include <type_traits>

#include "events/AgentRecords.h"
#include "events/EventRecord.h"

namespace {
constexpr auto relaxed = std::memory_order_relaxed;

bool countsAsClassBytes(int type) {
  return type == EVENT_CLASS || type == EVENT_METHOD;
}

// Adds to a counter that only holders of the queue's lock change and other
// threads read without it: a plain load and store instead of a locked
// read-modify-write, on the path of every append. The sum wraps as atomic
// arithmetic does: the counters only grow, and their differences stay right.
template <class T>
void addUnderLock(std::atomic<T>& counter, T value) {
  using U = std::make_unsigned_t<T>;
  counter.store(static_cast<T>(static_cast<U>(counter.load(relaxed)) + static_cast<U>(value)),
                relaxed);
}
}  // namespace

EventQueue::EventQueue(int limit) : limit_(limit) {}

EventQueue::~EventQueue() {
  while (EventRecord* event = takeFirst()) delete event;
}

bool EventQueue::alwaysKept(int type) {
  return type == EVENT_CLASS || type == EVENT_SAMPLING_RATES || type == EVENT_DROP_NOTICE;
}

void EventQueue::link(EventRecord* event) {
  event->queueNext = nullptr;
  if (tail_)
    tail_->queueNext = event;
  else
    head_ = event;
  tail_ = event;
  addUnderLock(count_, 1);
}

void EventQueue::bookQueued(const EventRecord* event) {
  addUnderLock(countsAsClassBytes(event->type) ? classBytesQueued_ : bytesQueued_,
               int32_t{event->nominalSize});
  addUnderLock(accountedQueued_, int64_t{event->accountedSize});
}

bool EventQueue::append(EventRecord* event) {
  if (!event) return false;
  const bool kept = alwaysKept(event->type);
  // A drop notice, when the queue looks full, is made before the lock is
  // taken.
  DropNoticeRecord* notice = nullptr;
  if (!kept && length() >= limit_) notice = new (std::nothrow) DropNoticeRecord(SUBTYPE_SINGLE);

  bool appended = false;
  bool noticeQueued = false;
  lock_.lock();
  int count = length();
  if (count >= limit_ && !kept) {
    dropped_.fetch_add(1, relaxed);
    // One notice per overflow; being of a kept type it goes in although the
    // queue is full. Without memory for it the overflow still counts as
    // announced.
    if (!overflowNoticeSent_) {
      overflowNoticeSent_ = true;
      // The queue looked below its limit before the lock: the drain put
      // records back in between. Rare; the notice is made here.
      if (!notice) notice = new (std::nothrow) DropNoticeRecord(SUBTYPE_SINGLE);
      if (notice) {
        bookQueued(notice);
        link(notice);
        noticeQueued = true;
      }
    }
  } else {
    if (count < limit_) overflowNoticeSent_ = false;
    bookQueued(event);
    link(event);
    appended = true;
  }
  lock_.unlock();

  if (!appended) delete event;
  if (!noticeQueued) delete notice;
  return appended;
}

EventRecord* EventQueue::takeFirst() {
  lock_.lock();
  EventRecord* event = head_;
  if (event) {
    head_ = event->queueNext;
    if (!head_) tail_ = nullptr;
    count_.fetch_sub(1, relaxed);
  }
  lock_.unlock();
  if (event) event->queueNext = nullptr;
  return event;
}

EventRecord* EventQueue::Chain::pop() {
  EventRecord* event = head;
  if (!event) return nullptr;
  head = event->queueNext;
  if (!head) tail = nullptr;
  event->queueNext = nullptr;
  count--;
  return event;
}

EventQueue::Chain EventQueue::takeAll() {
  Chain chain;
  lock_.lock();
  chain.head = head_;
  chain.tail = tail_;
  head_ = tail_ = nullptr;
  chain.count = count_.exchange(0, relaxed);
  lock_.unlock();
  return chain;
}

void EventQueue::putBackFront(Chain chain) {
  if (!chain.head) return;
  lock_.lock();
  chain.tail->queueNext = head_;
  head_ = chain.head;
  if (!tail_) tail_ = chain.tail;
  count_.fetch_add(chain.count, relaxed);
  lock_.unlock();
}

void EventQueue::recordTaken(const EventRecord* event) {
  if (!event) return;
  // Atomic arithmetic wraps: the counters only grow and may pass 2^31 in a
  // long run; their difference stays right.
  (countsAsClassBytes(event->type) ? classBytesTaken_ : bytesTaken_)
      .fetch_add(event->nominalSize, relaxed);
  accountedTaken_.fetch_add(event->accountedSize, relaxed);
}

void EventQueue::Taken::add(const EventRecord* event) {
  if (!event) return;
  // Unsigned sums wrap as the counters do.
  (countsAsClassBytes(event->type) ? classBytes : bytes) +=
      static_cast<uint32_t>(int32_t{event->nominalSize});
  accounted += static_cast<uint64_t>(int64_t{event->accountedSize});
}

void EventQueue::recordTaken(const Taken& taken) {
  if (taken.bytes) bytesTaken_.fetch_add(static_cast<int32_t>(taken.bytes), relaxed);
  if (taken.classBytes) classBytesTaken_.fetch_add(static_cast<int32_t>(taken.classBytes), relaxed);
  if (taken.accounted) accountedTaken_.fetch_add(static_cast<int64_t>(taken.accounted), relaxed);
}

int EventQueue::trim(int threshold, DropNoticeRecord* tally) {
  EventRecord* dropped = nullptr;
  EventRecord** droppedTail = &dropped;
  int destroyed = 0;

  lock_.lock();
  // The records to take stay in place when kept, so the kept ones end up at
  // the front in their order without moving the queue.
  EventRecord* previous = nullptr;
  EventRecord** at = &head_;
  for (int toTake = length() - threshold; toTake > 0 && *at; toTake--) {
    EventRecord* event = *at;
    if (alwaysKept(event->type)) {
      previous = event;
      at = &event->queueNext;
      continue;
    }
    *at = event->queueNext;
    if (tail_ == event) tail_ = previous;
    event->queueNext = nullptr;
    *droppedTail = event;
    droppedTail = &event->queueNext;
    count_.fetch_sub(1, relaxed);
    destroyed++;
  }
  lock_.unlock();

  while (EventRecord* event = dropped) {
    dropped = event->queueNext;
    if (tally) tally->countDropped(*event);
    recordTaken(event);
    delete event;
  }
  return destroyed;
}

EventQueue::ByteCounts EventQueue::byteCounts() const {
  return {bytesQueued_.load(relaxed), bytesTaken_.load(relaxed), classBytesQueued_.load(relaxed),
          classBytesTaken_.load(relaxed)};
}

int64_t EventQueue::queuedBytes() const {
  return accountedQueued_.load(relaxed) - accountedTaken_.load(relaxed);
}
