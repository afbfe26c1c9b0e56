#include "events/EventQueue.h"

#include <new>

#include "events/AgentRecords.h"
#include "events/EventRecord.h"

namespace {
constexpr auto relaxed = std::memory_order_relaxed;

bool countsAsClassBytes(int type) {
  return type == EVENT_CLASS || type == EVENT_METHOD;
}
}  // namespace

EventQueue::EventQueue(int limit) : limit_(limit) {}

EventQueue::~EventQueue() {
  while (EventRecord* event = takeFirst()) delete event;
}

bool EventQueue::alwaysKept(int type) {
  return type == EVENT_CLASS || type == EVENT_SAMPLING_RATES || type == EVENT_DROP_NOTICE;
}

void EventQueue::link(Node* node) {
  if (tail_)
    tail_->next = node;
  else
    head_ = node;
  tail_ = node;
  count_.fetch_add(1, relaxed);
}

void EventQueue::book(const EventRecord* event, std::atomic<int32_t>& bytes,
                      std::atomic<int32_t>& classBytes) {
  // Atomic arithmetic wraps: the counters only grow and may pass 2^31 in a
  // long run; their difference stays right.
  (countsAsClassBytes(event->type) ? classBytes : bytes).fetch_add(event->nominalSize, relaxed);
}

bool EventQueue::append(EventRecord* event) {
  if (!event) return false;
  const bool kept = alwaysKept(event->type);
  // Nodes, and a drop notice when the queue looks full, are made before the
  // lock is taken.
  Node* node = new (std::nothrow) Node{event, nullptr};
  Node* noticeNode = nullptr;
  if (!kept && length() >= limit_) {
    DropNoticeRecord* notice = new (std::nothrow) DropNoticeRecord(SUBTYPE_SINGLE);
    if (notice) noticeNode = new (std::nothrow) Node{notice, nullptr};
    if (!noticeNode) delete notice;
  }

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
      if (noticeNode) {
        book(noticeNode->event, bytesQueued_, classBytesQueued_);
        link(noticeNode);
        noticeQueued = true;
      }
    }
  } else if (node) {
    if (count < limit_) overflowNoticeSent_ = false;
    book(event, bytesQueued_, classBytesQueued_);
    link(node);
    appended = true;
  } else {
    dropped_.fetch_add(1, relaxed);
  }
  lock_.unlock();

  if (!appended) {
    delete node;
    delete event;
  }
  if (noticeNode && !noticeQueued) {
    delete noticeNode->event;
    delete noticeNode;
  }
  return appended;
}

EventRecord* EventQueue::takeFirst() {
  lock_.lock();
  Node* node = head_;
  if (node) {
    head_ = node->next;
    if (!head_) tail_ = nullptr;
    count_.fetch_sub(1, relaxed);
  }
  lock_.unlock();
  if (!node) return nullptr;
  EventRecord* event = node->event;
  delete node;
  return event;
}

void EventQueue::recordTaken(const EventRecord* event) {
  if (event) book(event, bytesTaken_, classBytesTaken_);
}

int EventQueue::trim(int threshold, DropNoticeRecord* tally) {
  Node* dropped = nullptr;
  Node** droppedTail = &dropped;
  int destroyed = 0;

  lock_.lock();
  // The records to take stay in place when kept, so the kept ones end up at
  // the front in their order without moving the queue.
  Node* previous = nullptr;
  Node** at = &head_;
  for (int toTake = length() - threshold; toTake > 0 && *at; toTake--) {
    Node* node = *at;
    if (alwaysKept(node->event->type)) {
      previous = node;
      at = &node->next;
      continue;
    }
    *at = node->next;
    if (tail_ == node) tail_ = previous;
    node->next = nullptr;
    *droppedTail = node;
    droppedTail = &node->next;
    count_.fetch_sub(1, relaxed);
    destroyed++;
  }
  lock_.unlock();

  while (Node* node = dropped) {
    dropped = node->next;
    if (tally) tally->countDropped(*node->event);
    recordTaken(node->event);
    delete node->event;
    delete node;
  }
  return destroyed;
}

EventQueue::ByteCounts EventQueue::byteCounts() const {
  return {bytesQueued_.load(relaxed), bytesTaken_.load(relaxed), classBytesQueued_.load(relaxed),
          classBytesTaken_.load(relaxed)};
}

int32_t EventQueue::queuedBytes() const {
  ByteCounts b = byteCounts();
  uint32_t queued = static_cast<uint32_t>(b.queued) + static_cast<uint32_t>(b.classQueued);
  uint32_t taken = static_cast<uint32_t>(b.taken) + static_cast<uint32_t>(b.classTaken);
  return static_cast<int32_t>(queued - taken);
}
