// A singly linked first-in first-out list of pointers with an optional lock.
// It never frees the elements it holds. Nodes are allocated and freed outside
// the lock so that a producer and a drainer hold it only to relink.
#pragma once

#include <atomic>
#include <memory>

#include "base/HalLock.h"
#include "base/NamedObject.h"

template <typename T>
class HalList : public virtual NamedObject {
  struct Node {
    T element;
    Node* next;
  };

 public:
  explicit HalList(bool locking) : NamedObject("HalList"), locking_(locking) {
    if (locking_) lock_.reset(new HalLock());
  }

  ~HalList() override { freeChain(head_); }

  void append(T element) {
    Node* node = new Node{element, nullptr};
    lock();
    if (tail_)
      tail_->next = node;
    else
      head_ = node;
    tail_ = node;
    count_++;
    unlock();
  }

  // The first element, or T() when the list is empty.
  T removeFirst() {
    Node* node = nullptr;
    lock();
    if (count_ > 0) {
      node = head_;
      count_--;
      head_ = node->next;
      if (!head_) tail_ = nullptr;
    }
    unlock();
    if (!node) return T();
    T element = node->element;
    delete node;
    return element;
  }

  void clear() {
    lock();
    Node* chain = head_;
    head_ = tail_ = nullptr;
    count_ = 0;
    unlock();
    freeChain(chain);
  }

  int count() const { return count_.load(std::memory_order_relaxed); }

  // Iteration takes no lock: the owner locks around it when others may change
  // the list.
  class Iterator {
   public:
    explicit Iterator(const HalList& list) : node_(list.head_) {}
    bool hasNext() const { return node_ != nullptr; }
    T next() {
      T element = node_->element;
      node_ = node_->next;
      return element;
    }

   private:
    const Node* node_;
  };
  Iterator iterator() const { return Iterator(*this); }

  // The list's own lock, for owners that lock around an iteration.
  bool lock() { return locking_ && lock_->lock(); }
  bool unlock() { return locking_ && lock_->unlock(); }

 private:
  static void freeChain(Node* node) {
    while (node) {
      Node* next = node->next;
      delete node;
      node = next;
    }
  }

  std::atomic<int> count_{0};
  Node* tail_ = nullptr;
  Node* head_ = nullptr;
  std::unique_ptr<HalLock> lock_;
  const bool locking_;
};
