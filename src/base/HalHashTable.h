// A chained hash table with a fixed prime bucket count, string or pointer
// keys and optional per-bucket locks. It holds pointers only: it never copies
// or frees the keys and values it is given. It never grows or rehashes.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/HalLock.h"
#include "base/NamedObject.h"

namespace halhash {
// The smallest of the first 205 primes strictly greater than requested; a
// request of 1259 or more is used as it is.
int bucketCountFor(int requested);
// The ELF hash over the key's bytes, each taken as a signed character.
uint32_t elfHash(const char* key);
}  // namespace halhash

template <typename K, typename V>
class HalHashTable : public virtual NamedObject {
 public:
  struct Node {
    K key;
    V value;
    Node* next;
  };

  HalHashTable(int requestedSize, bool stringKeys, bool bucketLocking)
      : NamedObject("HalHashTable"),
        bucketCount_(halhash::bucketCountFor(requestedSize)),
        chains_(new Node*[bucketCount_]()),
        stringKeys_(stringKeys),
        bucketLocking_(bucketLocking) {
    if (bucketLocking_) bucketLocks_.reset(new HalLock[bucketCount_]);
  }

  ~HalHashTable() override {
    for (int i = 0; i < bucketCount_; i++) {
      lockBucket(i);
      Node* node = chains_[i];
      chains_[i] = nullptr;
      unlockBucket(i);
      while (node) {
        Node* next = node->next;
        delete node;
        node = next;
      }
    }
    count_ = 0;
    // unique_ptr<HalLock[]> destroys the bucket locks last to first.
  }

  int bucketCount() const { return bucketCount_; }
  int count() const { return count_; }
  bool stringKeys() const { return stringKeys_; }

  int bucketIndex(K key) const {
    if (stringKeys_) {
      const char* s = reinterpret_cast<const char*>(key);
      if (s == nullptr) {
        logError("HalHashTable", __LINE__, "Using strcmp for NON Char * data \n");
        return 0;
      }
      return static_cast<int>(halhash::elfHash(s) % static_cast<uint32_t>(bucketCount_));
    }
    uintptr_t bits = reinterpret_cast<uintptr_t>(key);
    return static_cast<int>((bits >> 3) % static_cast<uintptr_t>(bucketCount_));
  }

  V get(K key) {
    if (isNull(key)) {
      logWarning("HalHashTable", __LINE__, "trying to get with NULL Key, so ignoring");
      return V();
    }
    int index = bucketIndex(key);
    lockBucket(index);
    Node* node = findInBucket(key, index);
    V value = node ? node->value : V();
    unlockBucket(index);
    return value;
  }

  bool put(K key, V value) {
    if (isNull(key)) {
      logWarning("HalHashTable", __LINE__, "Inserting NULL Key into Hashtable, so ignoring");
      return false;
    }
    int index = bucketIndex(key);
    lockBucket(index);
    Node* node = findInBucket(key, index);
    if (node) {
      node->value = value;
    } else {
      chains_[index] = new Node{key, value, chains_[index]};
      count_++;
    }
    unlockBucket(index);
    return true;
  }

  bool remove(K key) {
    if (isNull(key)) {
      logWarning("HalHashTable", __LINE__, "trying to remove with NULL Key, so ignoring");
      return false;
    }
    int index = bucketIndex(key);
    lockBucket(index);
    Node* prev = nullptr;
    for (Node* node = chains_[index]; node; prev = node, node = node->next) {
      if (!sameKey(node->key, key)) continue;
      if (prev)
        prev->next = node->next;
      else
        chains_[index] = node->next;
      delete node;
      count_--;
      unlockBucket(index);
      return true;
    }
    unlockBucket(index);
    return false;
  }

  // The caller holds the bucket lock.
  Node* findInBucket(K key, int index) const {
    if (isNull(key)) {
      logWarning("HalHashTable", __LINE__,
                 "Internal error: Trying to lookup for bucket with NULL Key, so ignoring");
      return nullptr;
    }
    for (Node* node = chains_[index]; node; node = node->next)
      if (sameKey(node->key, key)) return node;
    return nullptr;
  }

  bool lockBucket(int index) { return bucketLocking_ && bucketLocks_[index].lock(); }
  bool unlockBucket(int index) { return bucketLocking_ && bucketLocks_[index].unlock(); }

  // A new array of count + 1 slots, filled in bucket and chain order and ended
  // by null slots. The caller frees the array (delete[]), not its entries.
  K* keys() {
    return snapshot<K>([](Node* n) { return n->key; });
  }
  V* values() {
    return snapshot<V>([](Node* n) { return n->value; });
  }

 private:
  template <typename T, typename Pick>
  T* snapshot(Pick pick) {
    int wanted = count_.load();
    if (wanted < 0) wanted = 0;
    T* out = new T[wanted + 1]();
    int stored = 0;
    for (int i = 0; i < bucketCount_ && stored < wanted; i++) {
      lockBucket(i);
      for (Node* node = chains_[i]; node && stored < wanted; node = node->next)
        out[stored++] = pick(node);
      unlockBucket(i);
    }
    return out;
  }

  static bool isNull(K key) { return key == K(); }

  bool sameKey(K a, K b) const {
    if (stringKeys_)
      return std::strcmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b)) == 0;
    return a == b;
  }

  const int bucketCount_;
  std::atomic<int> count_{0};
  std::unique_ptr<Node*[]> chains_;
  const bool stringKeys_;
  const bool bucketLocking_;
  std::unique_ptr<HalLock[]> bucketLocks_;
};
