// The method table: a hash index from profiler method id to method record.
// A record lives in bucket (id >> 3) modulo the bucket count; bucket b is
// guarded by stripe lock b modulo 67 (TableLocks). Inserting and removing
// always take the stripe lock.
//
// Lookups take no lock unless method-level sync is on. A lock-free reader
// announces itself on its stripe's reader count instead, and stays announced
// for as long as it uses what it found (MethodLookup). Removing records while
// lookups run without locks is done only by quiesce(): switch method-level
// sync on, then wait until every lock-free reader has left; from then on
// readers take the stripe locks, and records can be unlinked and freed safely.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "events/ClassEntry.h"
#include "profiler/TableLocks.h"

class MethodTable {
 public:
  explicit MethodTable(int bucketCount);
  MethodTable(const MethodTable&) = delete;
  MethodTable& operator=(const MethodTable&) = delete;

  int bucketCount() const { return bucketCount_; }

  // Links a record at the head of its bucket (under the stripe lock).
  void insert(MethodRecord* record);
  // Unlinks a record (under the stripe lock); the caller has quiesced
  // lock-free readers or runs under method-level sync.
  void remove(MethodRecord* record);

  // Waits until no lock-free reader is inside the table. The caller has
  // switched method-level sync on, so no new one enters.
  void waitForReaders();

 private:
  friend class MethodLookup;
  struct alignas(64) ReaderCount {
    std::atomic<int> inside{0};
  };

  int bucketOf(uint32_t id) const { return static_cast<int>((id >> 3) % bucketCount_); }

  const int bucketCount_;
  // The heads; empty buckets hold null (the dummy head records of the
  // design become the head pointers).
  std::unique_ptr<std::atomic<MethodRecord*>[]> buckets_;
  ReaderCount readers_[kMethodStripeCount];
};

// One lookup by method id, and the protection of what it found: while the
// lookup lives, neither the record nor its class entry can be freed. Dead
// entries and id 0 are never found.
class MethodLookup {
 public:
  MethodLookup(MethodTable& table, uint32_t methodId);
  ~MethodLookup();
  MethodLookup(const MethodLookup&) = delete;
  MethodLookup& operator=(const MethodLookup&) = delete;

  MethodRecord* record() const { return record_; }

 private:
  MethodTable& table_;
  int stripe_ = -1;
  bool counted_ = false;
  bool locked_ = false;
  MethodRecord* record_ = nullptr;
};
