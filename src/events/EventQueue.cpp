#include "events/EventQueue.h"

#include <new>
#include <type_traits>

#include "events/AgentRecords.h"
#include "events/EventRecord.h"
#include "platform/os.h"

namespace {
constexpr auto relaxed = std::memory_order_relaxed;

// In the queue's state word: a drop notice has been queued for the current
// overflow. The bits below count the records.
constexpr uint64_t kOverflow = uint64_t{1} << 62;
constexpr uint64_t kCountMask = kOverflow - 1;

bool countsAsClassBytes(int type) {
  return type == EVENT_CLASS || type == EVENT_METHOD;
}

// Adds to a counter that one thread alone changes and others read: a plain
// load and store instead of a locked read-modify-write. The sum wraps as
// atomic arithmetic does: the counters only grow, and their differences stay
// right.
template <class T>
void addAlone(std::atomic<T>& counter, T value) {
  using U = std::make_unsigned_t<T>;
  counter.store(static_cast<T>(static_cast<U>(counter.load(relaxed)) + static_cast<U>(value)),
                relaxed);
}

template <class T>
T wrappingSum(T a, T b) {
  using U = std::make_unsigned_t<T>;
  return static_cast<T>(static_cast<U>(a) + static_cast<U>(b));
}
}  // namespace

EventQueue::EventQueue(int limit) : limit_(limit) {}

EventQueue::~EventQueue() {
  collect();
  while (EventRecord* event = head_) {
    head_ = event->queueNext;
    delete event;
  }
}

bool EventQueue::alwaysKept(int type) {
  return type == EVENT_CLASS || type == EVENT_SAMPLING_RATES || type == EVENT_DROP_NOTICE;
}

int EventQueue::length() const {
  return static_cast<int>(state_.load(relaxed) & kCountMask) + held_.load(relaxed);
}

bool EventQueue::reserve(bool kept, bool* noticeDue) {
  *noticeDue = false;
  const uint64_t limit = static_cast<uint64_t>(limit_ < 0 ? 0 : limit_);
  // Acquire, and the drain's share read after the count: the drain raises
  // its share before it lowers the count (release), so the sum of the two
  // never looks smaller than the records queued.
  uint64_t state = state_.load(std::memory_order_acquire);
  for (;;) {
    const uint64_t held = static_cast<uint64_t>(held_.load(relaxed));
    const bool full = (state & kCountMask) + held >= limit;
    uint64_t next;
    if (full && !kept) {
      // Dropped. The first drop of an overflow claims the notice.
      if (state & kOverflow) return false;
      next = state | kOverflow;
    } else {
      // Appended. An append below the limit ends the overflow; kept records
      // over it do not.
      next = (full ? state : state & kCountMask) + 1;
    }
    if (state_.compare_exchange_weak(state, next, std::memory_order_acquire,
                                     std::memory_order_acquire)) {
      *noticeDue = full && !kept;
      return !*noticeDue;
    }
  }
}

void EventQueue::push(EventRecord* event) {
  const uintptr_t caller = os::currentThreadToken();
  uintptr_t owner = owner_.load(relaxed);
  if (!owner && owner_.compare_exchange_strong(owner, caller, relaxed, relaxed)) owner = caller;
  const int32_t nominal = event->nominalSize;
  const bool classBytes = countsAsClassBytes(event->type);
  if (owner == caller) {
    addAlone(classBytes ? own_.classBytes : own_.bytes, nominal);
    addAlone(own_.accounted, int64_t{event->accountedSize});
  } else {
    (classBytes ? others_.classBytes : others_.bytes).fetch_add(nominal, relaxed);
    others_.accounted.fetch_add(event->accountedSize, relaxed);
  }
  // Release: the drain that detaches the record sees it whole.
  EventRecord* newest = inbox_.load(relaxed);
  do {
    event->queueNext = newest;
  } while (!inbox_.compare_exchange_weak(newest, event, std::memory_order_release, relaxed));
}

bool EventQueue::append(EventRecord* event) {
  if (!event) return false;
  bool noticeDue = false;
  if (reserve(alwaysKept(event->type), &noticeDue)) {
    push(event);
    return true;
  }
  dropped_.fetch_add(1, relaxed);
  delete event;
  // One notice per overflow; being of a kept type it goes in although the
  // queue is full. Without memory for it the overflow still counts as
  // announced.
  if (noticeDue) {
    if (auto* notice = new (std::nothrow) DropNoticeRecord(SUBTYPE_SINGLE)) {
      // Counted without the test of reserve: the notice belongs to the
      // overflow it announces and does not end it.
      state_.fetch_add(1, relaxed);
      push(notice);
    }
  }
  return false;
}

void EventQueue::collect() {
  EventRecord* newest = inbox_.exchange(nullptr, std::memory_order_acquire);
  if (!newest) return;
  // Newest first: reversed, the stack is in the order of appending.
  EventRecord* oldest = nullptr;
  EventRecord* last = newest;
  int count = 0;
  while (newest) {
    EventRecord* next = newest->queueNext;
    newest->queueNext = oldest;
    oldest = newest;
    newest = next;
    count++;
  }
  if (tail_)
    tail_->queueNext = oldest;
  else
    head_ = oldest;
  tail_ = last;
  held_.store(held_.load(relaxed) + count, relaxed);
  state_.fetch_sub(static_cast<uint64_t>(count), std::memory_order_release);
}

EventRecord* EventQueue::takeFirst() {
  if (!head_) collect();
  EventRecord* event = head_;
  if (!event) return nullptr;
  head_ = event->queueNext;
  if (!head_) tail_ = nullptr;
  event->queueNext = nullptr;
  held_.store(held_.load(relaxed) - 1, relaxed);
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
  collect();
  Chain chain;
  chain.head = head_;
  chain.tail = tail_;
  chain.count = held_.load(relaxed);
  head_ = tail_ = nullptr;
  held_.store(0, relaxed);
  return chain;
}

void EventQueue::putBackFront(Chain chain) {
  if (!chain.head) return;
  chain.tail->queueNext = head_;
  head_ = chain.head;
  if (!tail_) tail_ = chain.tail;
  held_.store(held_.load(relaxed) + chain.count, relaxed);
}

void EventQueue::recordTaken(const EventRecord* event) {
  if (!event) return;
  addAlone(countsAsClassBytes(event->type) ? taken_.classBytes : taken_.bytes,
           int32_t{event->nominalSize});
  addAlone(taken_.accounted, int64_t{event->accountedSize});
}

void EventQueue::Taken::add(const EventRecord* event) {
  if (!event) return;
  // Unsigned sums wrap as the counters do.
  (countsAsClassBytes(event->type) ? classBytes : bytes) +=
      static_cast<uint32_t>(int32_t{event->nominalSize});
  accounted += static_cast<uint64_t>(int64_t{event->accountedSize});
}

void EventQueue::recordTaken(const Taken& taken) {
  addAlone(taken_.bytes, static_cast<int32_t>(taken.bytes));
  addAlone(taken_.classBytes, static_cast<int32_t>(taken.classBytes));
  addAlone(taken_.accounted, static_cast<int64_t>(taken.accounted));
}

int EventQueue::trim(int threshold, DropNoticeRecord* tally) {
  collect();
  EventRecord* dropped = nullptr;
  EventRecord** droppedTail = &dropped;
  int destroyed = 0;

  // The records to take stay in place when kept, so the kept ones end up at
  // the front in their order without moving the list.
  EventRecord* previous = nullptr;
  EventRecord** at = &head_;
  for (int toTake = held_.load(relaxed) - threshold; toTake > 0 && *at; toTake--) {
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
    destroyed++;
  }
  held_.store(held_.load(relaxed) - destroyed, relaxed);

  while (EventRecord* event = dropped) {
    dropped = event->queueNext;
    if (tally) tally->countDropped(*event);
    recordTaken(event);
    delete event;
  }
  return destroyed;
}

EventQueue::ByteCounts EventQueue::byteCounts() const {
  return {wrappingSum(own_.bytes.load(relaxed), others_.bytes.load(relaxed)),
          taken_.bytes.load(relaxed),
          wrappingSum(own_.classBytes.load(relaxed), others_.classBytes.load(relaxed)),
          taken_.classBytes.load(relaxed)};
}

int64_t EventQueue::queuedBytes() const {
  return own_.accounted.load(relaxed) + others_.accounted.load(relaxed) -
         taken_.accounted.load(relaxed);
}
