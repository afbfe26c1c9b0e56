#include "profiler/MethodTable.h"

#include "platform/os.h"
#include "profiler/MethodLevelOptions.h"

MethodTable::MethodTable(int bucketCount)
    : bucketCount_(bucketCount > 0 ? bucketCount : 1),
      buckets_(new std::atomic<MethodRecord*>[static_cast<size_t>(bucketCount_)]) {
  for (int i = 0; i < bucketCount_; i++) buckets_[i].store(nullptr, std::memory_order_relaxed);
}

void MethodTable::insert(MethodRecord* record) {
  int bucket = bucketOf(record->methodId.load(std::memory_order_relaxed));
  HalOsLock& lock = tableLocks->methodStripes[bucket % kMethodStripeCount];
  lock.lock();
  record->next.store(buckets_[bucket].load(std::memory_order_relaxed), std::memory_order_relaxed);
  // Release: a lock-free reader that sees the record sees it filled.
  buckets_[bucket].store(record, std::memory_order_release);
  lock.unlock();
}

void MethodTable::remove(MethodRecord* record) {
  int bucket = bucketOf(record->methodId.load(std::memory_order_relaxed));
  HalOsLock& lock = tableLocks->methodStripes[bucket % kMethodStripeCount];
  lock.lock();
  std::atomic<MethodRecord*>* link = &buckets_[bucket];
  for (MethodRecord* r = link->load(std::memory_order_relaxed); r;
       r = link->load(std::memory_order_relaxed)) {
    if (r == record) {
      link->store(r->next.load(std::memory_order_relaxed), std::memory_order_release);
      break;
    }
    link = &r->next;
  }
  record->next.store(nullptr, std::memory_order_relaxed);
  lock.unlock();
}

void MethodTable::waitForReaders() {
  for (ReaderCount& count : readers_) {
    while (count.inside.load(std::memory_order_seq_cst) != 0) os::sleepMillis(1);
  }
}

MethodLookup::MethodLookup(MethodTable& table, uint32_t methodId) : table_(table) {
  if (methodId == 0) return;
  int bucket = table.bucketOf(methodId);
  stripe_ = bucket % kMethodStripeCount;
  // Announce first, then test the sync flag: a quiescing thread sets the flag
  // first, then waits for the counts, so one of the two sees the other.
  if (!methodLevelSync()) {
    table.readers_[stripe_].inside.fetch_add(1, std::memory_order_seq_cst);
    counted_ = !methodLevelSync();
    if (!counted_) table.readers_[stripe_].inside.fetch_sub(1, std::memory_order_release);
  }
  if (!counted_) locked_ = tableLocks->methodStripes[stripe_].lock();
  for (MethodRecord* r = table.buckets_[bucket].load(std::memory_order_acquire); r;
       r = r->next.load(std::memory_order_acquire)) {
    if (r->methodId.load(std::memory_order_relaxed) == methodId &&
        !r->classEntry->dead.load(std::memory_order_relaxed)) {
      record_ = r;
      break;
    }
  }
}

MethodLookup::~MethodLookup() {
  if (counted_) table_.readers_[stripe_].inside.fetch_sub(1, std::memory_order_release);
  if (locked_) tableLocks->methodStripes[stripe_].unlock();
}
